// The tray icon: statistics tooltip, popup menu, start balloon and activity
// animation. The Win32 implementation drives the notification area; the
// headless one keeps the same operations for systems without a tray. Both
// take their texts, check marks and command effects from tray_logic.h.
#pragma once

#include <string>

#include "kernel/options.h"

class WinSysTray {
 public:
  // Main thread, before the tray thread starts: loads the icons; the tray
  // shows and changes options (which outlives it).
  static void InitWinSysTray(OptionsStore& options);
  // Thread body; returns when the message loop ends.
  static void ThreadWinSysTray(void*);
  // Saves the options, then sets the menu's check marks from them.
  static void UpdateMenu();
  // Refreshes the tip and shows animation frame `index` (0 = normal icon).
  static void UpdateIcon(int index);
  static void ApplyTipTrafficInfo();
  static void PopupBalloon();
  // Requests one animation run (true); callable from any thread.
  static void NetworkActivity(bool b);
  // The service answers again (OnLine) or cannot be reached (OffLine): the
  // tray's next pass shows the normal or the offline icon with its tip (and
  // a balloon on going offline). Callable from any thread.
  static void SetStateIsOnLine();
  static void SetStateIsOffLine();
  // Resource id of the icon last shown (0 before the tray shows one).
  static int IconId();
  // Removes the icon; called at shutdown from any thread.
  static void DeleteIcon();
  // Tip text for the current options, cut to 127 characters.
  static std::string TipText();
  // True while an animation run is requested or running.
  static bool ActivityPending();
  // True while the icon is shown (headless: while the tray thread runs).
  static bool IconAdded();
  // The check mark of menu item id as UpdateMenu last set it.
  static bool MenuItemChecked(int id);
  // The hidden window's handle (nullptr when there is none).
  static void* Window();
};
