// NimbrelSetup: shows the installer window until the user ends it.
#include <objbase.h>
#include <windows.h>

#include "frmMain.h"
#include "winstr.h"

namespace {

constexpr char kAppTitle[] = "Nimbrel Client";

class DesktopUi : public SetupUi {
 public:
  void Message(HWND owner, const std::string& text) override {
    MessageBoxW(owner, Wide(text).c_str(), Wide(kAppTitle).c_str(), MB_OK | MB_ICONWARNING);
  }
  bool AskYesNo(HWND owner, const std::string& text) override {
    return MessageBoxW(owner, Wide(text).c_str(), Wide(kAppTitle).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
  void EndProgram(HWND window) override {
    DestroyWindow(window);
    PostQuitMessage(0);
  }
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  CoInitialize(nullptr);
  DesktopUi ui;
  HWND w = CreateFrmMain(instance, &ui);
  if (!w) return 1;
  ShowWindow(w, show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(w, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  CoUninitialize();
  return 0;
}
