// Opens the tray menu of a running client as a right click on its icon would:
// puts the cursor at x y and sends the icon's right-button message to the
// client's hidden window. With "hover" first it closes an open menu instead
// and only moves the cursor there (over the icon, to show its tip). Exits 0 when a client window
// was found (within 20 s), 1 otherwise. Usage: tray_menu_open.exe [hover] [x y]
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "resources/resource.h"
#include "tray/tray_logic.h"

int main(int argc, char** argv) {
  const bool hover = argc > 1 && std::strcmp(argv[1], "hover") == 0;
  const int first = hover ? 2 : 1;
  const int x = argc > first + 1 ? std::atoi(argv[first]) : 200;
  const int y = argc > first + 1 ? std::atoi(argv[first + 1]) : 120;
  for (int i = 0; i < 200; ++i) {
    HWND hwnd = FindWindowA(nbtray::kWindowClass, nullptr);
    if (hwnd != nullptr) {
      if (hover) PostMessageA(hwnd, WM_CANCELMODE, 0, 0);
      SetCursorPos(x, y);
      if (!hover) PostMessageA(hwnd, nbtray::kCallbackMessage, 0, WM_RBUTTONDOWN);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
