// The tray icon: statistics tooltip, popup menu, start balloon and activity
// animation. The Win32 implementation drives the notification area; the
// headless one keeps the same operations for systems without a tray.
#pragma once

#include <string>

class WinSysTray {
 public:
  static void InitWinSysTray();
  // Thread body; returns when the message loop ends.
  static void ThreadWinSysTray(void*);
  // Saves the options, then sets the menu's check marks from them.
  static void UpdateMenu();
  // Refreshes the tip and shows animation frame `index` (0 = normal icon).
  static void UpdateIcon(int index);
  static void ApplyTipTrafficInfo();
  static void PopupBalloon();
  // Requests one animation run; callable from any thread.
  static void NetworkActivity(bool b);
  static void DeleteIcon();
  // Tip text for the current options, cut to 127 characters.
  static std::string TipText();
  static bool ActivityPending();
};
