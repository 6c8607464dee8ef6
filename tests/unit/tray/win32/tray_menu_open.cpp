// Opens the tray menu of a running client as a right click on its icon would:
// puts the cursor at x y and sends the icon's right-button message to the
// client's hidden window. Exits 0 when a client window was found (within
// 20 s), 1 otherwise. Usage: tray_menu_open.exe [x y]
#include <windows.h>

#include <cstdlib>

#include "resources/resource.h"
#include "tray/tray_logic.h"

int main(int argc, char** argv) {
  const int x = argc > 2 ? std::atoi(argv[1]) : 200;
  const int y = argc > 2 ? std::atoi(argv[2]) : 120;
  for (int i = 0; i < 200; ++i) {
    HWND hwnd = FindWindowA(nbtray::kWindowClass, nullptr);
    if (hwnd != nullptr) {
      SetCursorPos(x, y);
      PostMessageA(hwnd, nbtray::kCallbackMessage, 0, WM_RBUTTONDOWN);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
