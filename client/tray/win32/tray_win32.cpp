// The Win32 tray: the hidden window "NimbrelClientWindow" that receives the
// notification icon's messages, the icon with its tip, balloon and animation,
// and the popup menu from menu resource 501.
#include <windows.h>
// After <windows.h>, which it builds on.
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "kernel/options.h"
#include "support/debug.h"
#include "tray/tray.h"
#include "tray/tray_logic.h"

namespace {

constexpr int kFrames = IDI_FRAME5 - IDI_FRAME0 + 1;
constexpr int kWindowWidth = 544;
constexpr int kWindowHeight = 375;

// Guards the icon record, its hand-over to the shell and the menu's check
// marks: one update never interleaves with another. Never held while taking
// the options lock (shutdown holds that one for good, then deletes the icon).
std::mutex mtxRecord;
NOTIFYICONDATAW WinSysTray_IconSettings;
HMENU WinSysTray_hMenu = nullptr;
HICON hAnimation[kFrames] = {};
HICON hNormal = nullptr;
HICON hOffline = nullptr;
std::atomic<int> iIconShown{0};  // resource id of the icon in the record
std::atomic<HWND> WinSysTray_hwnd{nullptr};
std::atomic<bool> bIconAdded{false};
std::atomic<bool> bTerminated{false};
UINT uTaskbarCreated = 0;  // the shell's broadcast after Explorer restarts

HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                       LR_DEFAULTCOLOR));
}

// The loaded icon for a resource id that IconFor gives.
HICON IconHandle(int id) {
  if (id == IDI_OFFLINE) return hOffline;
  if (id >= IDI_FRAME0 && id <= IDI_FRAME5) return hAnimation[id - IDI_FRAME0];
  return hNormal;
}

// Copies Windows-1251 text into a fixed field of the record, cut to fit with
// its zero. The shell gets the text in UTF-16, so it reads right whatever
// code page the system runs with.
template <std::size_t N>
void CopyField(wchar_t (&field)[N], const std::string& text) {
  // One UTF-16 unit per byte of a single-byte code page: cutting the bytes
  // cuts the text.
  const int n = static_cast<int>(text.size() < N - 1 ? text.size() : N - 1);
  const int written = n == 0 ? 0 : MultiByteToWideChar(1251, 0, text.data(), n, field, n);
  field[written > 0 ? written : 0] = L'\0';
}

// Sets the check marks of the menu from po. Caller holds mtxRecord.
void MarkMenu(const Program_Options& po) {
  if (WinSysTray_hMenu == nullptr) return;
  for (int id : nbtray::kCheckItems) {
    CheckMenuItem(WinSysTray_hMenu, static_cast<UINT>(id),
                  MF_BYCOMMAND | (nbtray::IsItemChecked(id, po) ? MF_CHECKED : MF_UNCHECKED));
  }
}

// Adds the icon with the current tip and icon handle. Caller holds mtxRecord.
bool AddIcon() {
  WinSysTray_IconSettings.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  return Shell_NotifyIconW(NIM_ADD, &WinSysTray_IconSettings) != FALSE;
}

// Right button: the first submenu at the cursor, owned by the hidden window.
void ShowMenu(HWND hwnd) {
  POINT pt{};
  GetCursorPos(&pt);
  SetForegroundWindow(hwnd);
  TrackPopupMenu(GetSubMenu(WinSysTray_hMenu, 0), TPM_LEFTALIGN | TPM_LEFTBUTTON, pt.x, pt.y, 0,
                 hwnd, nullptr);
  // Lets the menu close when the user clicks elsewhere.
  PostMessageA(hwnd, WM_NULL, 0, 0);
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (uTaskbarCreated != 0 && message == uTaskbarCreated) {
    std::lock_guard<std::mutex> lock(mtxRecord);
    bIconAdded = AddIcon();
    return 0;
  }
  switch (message) {
    case WM_CLOSE:
      bTerminated = true;
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      bTerminated = true;
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (static_cast<int>(wParam) == IDM_EXITPROGRAM) bTerminated = true;
      nbtray::RunCommand(static_cast<int>(wParam));
      return 0;
    default:
      break;
  }
  if (message == nbtray::kCallbackMessage) {
    switch (static_cast<UINT>(lParam)) {
      case WM_LBUTTONDOWN:
        dprintf("WM_LBUTTONDOWN %llu %lld", static_cast<unsigned long long>(wParam),
                static_cast<long long>(lParam));
        nbtray::RunCommand(IDM_SHOWWINDOW);
        return 0;
      case WM_RBUTTONDOWN:
        dprintf("WM_RBUTTONDOWN %llu %lld", static_cast<unsigned long long>(wParam),
                static_cast<long long>(lParam));
        ShowMenu(hwnd);
        return 0;
      case NIN_BALLOONSHOW:
        dbgmsg("Received NIN_BALLOONSHOW");
        break;
      case NIN_BALLOONHIDE:
        dbgmsg("Received NIN_BALLOONHIDE");
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Shows text in a balloon from the icon, titled with the program name, with
// icon NIIF_INFO or NIIF_WARNING.
void ShowBalloon(const std::string& text, DWORD icon) {
  if (!bIconAdded) return;
  std::lock_guard<std::mutex> lock(mtxRecord);
  CopyField(WinSysTray_IconSettings.szInfoTitle, nbtray::kBalloonTitle);
  CopyField(WinSysTray_IconSettings.szInfo, text);
  WinSysTray_IconSettings.uTimeout = nbtray::kBalloonMs;
  WinSysTray_IconSettings.dwInfoFlags = icon;
  WinSysTray_IconSettings.uFlags = NIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &WinSysTray_IconSettings);
  // Later updates carry no balloon.
  WinSysTray_IconSettings.szInfo[0] = '\0';
  WinSysTray_IconSettings.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
}

}  // namespace

void WinSysTray::InitWinSysTray(OptionsStore& options) {
  nbTraceScope t("void InitWinSysTray(void)");
  nbtray::SetTrayOptions(options);
  std::lock_guard<std::mutex> lock(mtxRecord);
  std::memset(&WinSysTray_IconSettings, 0, sizeof WinSysTray_IconSettings);
  WinSysTray_IconSettings.cbSize = sizeof WinSysTray_IconSettings;
  hNormal = LoadSmallIcon(IDI_NORMAL);
  hOffline = LoadSmallIcon(IDI_OFFLINE);
  for (int i = 0; i < kFrames; ++i) hAnimation[i] = LoadSmallIcon(IDI_FRAME0 + i);
}

void WinSysTray::ThreadWinSysTray(void*) {
  dbgmsg("void ThreadWinSysTray(void)");
  bTerminated = false;
  // The program's own module, whatever the file is called.
  HINSTANCE hInstance = GetModuleHandleA(nullptr);
  dprintf("hInstance = %p", static_cast<void*>(hInstance));

  WNDCLASSEXA wincl{};
  wincl.cbSize = sizeof wincl;
  wincl.hInstance = hInstance;
  wincl.lpszClassName = nbtray::kWindowClass;
  wincl.lpfnWndProc = WindowProcedure;
  wincl.style = CS_DBLCLKS;
  wincl.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wincl.hIconSm = LoadIcon(nullptr, IDI_APPLICATION);
  wincl.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wincl.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  if (!RegisterClassExA(&wincl) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    dbgmsg("RegisterClassEx(&wincl) = false");
    return;
  }
  HWND hwnd = CreateWindowExA(0, nbtray::kWindowClass, nbtray::kWindowTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight,
                              HWND_DESKTOP, nullptr, hInstance, nullptr);
  dprintf("WinSysTray_hwnd=%p", static_cast<void*>(hwnd));
  if (hwnd == nullptr) {
    dbgmsg("CreateWindowEx failed: no tray icon");
    return;
  }
  uTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  {
    const Program_Options po = nbtray::TrayOptions().Get();
    std::lock_guard<std::mutex> lock(mtxRecord);
    WinSysTray_hMenu = LoadMenuA(hInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    // The marks are right from the first time the menu opens.
    MarkMenu(po);
    std::memset(&WinSysTray_IconSettings, 0, sizeof WinSysTray_IconSettings);
    WinSysTray_IconSettings.cbSize = sizeof WinSysTray_IconSettings;
    const bool offline = nbtray::TrayLink().Offline();
    CopyField(WinSysTray_IconSettings.szTip, nbtray::TipText(po, offline));
    WinSysTray_IconSettings.uCallbackMessage = nbtray::kCallbackMessage;
    WinSysTray_IconSettings.hWnd = hwnd;
    WinSysTray_IconSettings.uID = 0;
    iIconShown = nbtray::IconFor(0, offline);
    WinSysTray_IconSettings.hIcon = IconHandle(iIconShown);
    bIconAdded = AddIcon();
    WinSysTray_hwnd = hwnd;
  }
  PopupBalloon();
  ApplyTipTrafficInfo();
  dbgmsg("Run the messageloop");
  while (!bTerminated) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    bool offline = false;
    if (nbtray::TrayLink().Take(&offline)) {
      UpdateIcon(0);
      if (offline) ShowBalloon(nbtray::OfflineBalloonText(), NIIF_WARNING);
    }
    int frame = 0;
    if (nbtray::TrayAnimation().Step(&frame)) UpdateIcon(frame);
    Sleep(nbtray::kPassMs);
  }
  WinSysTray_hwnd = nullptr;
  dbgmsg("RET void WinSysTrayIcon::ThreadFunction(void)");
}

void WinSysTray::UpdateMenu() {
  nbtray::TrayOptions().Save();
  Program_Options po = nbtray::TrayOptions().Get();
  std::lock_guard<std::mutex> lock(mtxRecord);
  MarkMenu(po);
}

void WinSysTray::UpdateIcon(int index) {
  if (index < 0 || index >= kFrames) return;
  const std::string tip = TipText();
  const int id = nbtray::IconFor(index, nbtray::TrayLink().Offline());
  std::lock_guard<std::mutex> lock(mtxRecord);
  if (WinSysTray_IconSettings.hWnd == nullptr) return;  // the tray never started
  CopyField(WinSysTray_IconSettings.szTip, tip);
  iIconShown = id;
  WinSysTray_IconSettings.hIcon = IconHandle(id);
  WinSysTray_IconSettings.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &WinSysTray_IconSettings);
  // Puts the icon back if the shell lost it; no effect while it exists.
  if (AddIcon()) bIconAdded = true;
}

void WinSysTray::ApplyTipTrafficInfo() {
  std::string tip = TipText();
  std::lock_guard<std::mutex> lock(mtxRecord);
  CopyField(WinSysTray_IconSettings.szTip, tip);
}

void WinSysTray::PopupBalloon() {
  ShowBalloon(nbtray::BalloonText(nbtray::TrayOptions().Get()), NIIF_INFO);
}

int WinSysTray::IconId() { return iIconShown; }

void WinSysTray::DeleteIcon() {
  std::lock_guard<std::mutex> lock(mtxRecord);
  if (WinSysTray_IconSettings.hWnd == nullptr) return;
  Shell_NotifyIconW(NIM_DELETE, &WinSysTray_IconSettings);
  bIconAdded = false;
}

bool WinSysTray::IconAdded() { return bIconAdded; }

bool WinSysTray::MenuItemChecked(int id) {
  std::lock_guard<std::mutex> lock(mtxRecord);
  if (WinSysTray_hMenu == nullptr) return false;
  return (GetMenuState(WinSysTray_hMenu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void* WinSysTray::Window() { return WinSysTray_hwnd.load(); }
