// The tray's platform-free part, shared by the Win32 and the headless tray:
// tip and balloon texts, check marks, menu command effects and the activity
// animation. Only the calls that show these differ between the two.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "kernel/options.h"
#include "resources/resource.h"

namespace nbtray {

inline constexpr unsigned kPassMs = 200;            // one pass of the tray loop
inline constexpr std::size_t kTipMax = 127;         // tip capacity without the zero
inline constexpr unsigned kBalloonMs = 10000;       // balloon time-out
inline constexpr unsigned kCallbackMessage = 1124;  // first user message + 100
inline constexpr const char* kBalloonTitle = "Nimbrel Client";
inline constexpr const char* kBalloonPad = "   ";  // ends every balloon line
inline constexpr const char* kWindowClass = "NimbrelClientWindow";
inline constexpr const char* kWindowTitle = "NimbrelClient";

// Menu items that carry a check mark, in menu order.
inline constexpr int kCheckItems[] = {IDM_BLOCKFLASH, IDM_BLOCKACTIVEX, IDM_BLOCKBANNERS,
                                      IDM_GRAPHLOW,   IDM_GRAPHMEDIUM,  IDM_GRAPHHIGH,
                                      IDM_COMPRESSOFF};

// Statistics tip for po, cut to kTipMax characters. While the service
// cannot be reached (offline) it says so first: pages go uncompressed.
std::string TipText(const Program_Options& po, bool offline = false);
// Balloon text shown when the service stops answering.
std::string OfflineBalloonText();
// The icon resource to show for animation frame `frame` (0: at rest).
int IconFor(int frame, bool offline);
// Text of the start balloon (savings in money and MB, ratio).
std::string BalloonText(const Program_Options& po);
// The settings console's address on its configured port, e.g.
// "http://localhost:3344/".
std::string ConsoleUrl(int iSettingsPort);

// True when menu item id is checked for po (false for items without a mark).
bool IsItemChecked(int id, const Program_Options& po);

enum class TrayAction { None, OptionsChanged, OpenConsole, Exit };
// Trace name of command id ("IDM_BLOCKFLASH" ...), nullptr for unknown ids.
const char* CommandName(int id);
// Changes po as command id does and says what else the command needs.
TrayAction CommandEffect(int id, Program_Options& po);
// Runs menu command id: changes the options under their lock and calls
// WinSysTray::UpdateMenu (which saves them), opens the console, or ends the
// program (does not return then). Returns what was done.
TrayAction RunCommand(int id);

// The activity animation. Request() from any thread asks for one run; the
// tray loop calls Step() once per pass. A run shows frames 1 to 5 and then
// frame 0, one per pass; requests during a run join that run.
class Animation {
 public:
  void Request(bool b) { active_ = b; }
  bool Pending() const { return active_; }
  // True when this pass must show *frame.
  bool Step(int* frame);

 private:
  std::atomic<bool> active_{false};
  int frame_ = 0;  // touched by the tray thread only
};

// The process's one animation, fed by WinSysTray::NetworkActivity.
Animation& TrayAnimation();

// Whether the service can be reached, as the tray is to show it. Set() from
// any thread; the tray loop calls Take() once per pass.
class LinkState {
 public:
  void Set(bool offline) { offline_ = offline; }
  bool Offline() const { return offline_; }
  // True when the state differs from what this pass's caller last took;
  // *offline is then the state to show now.
  bool Take(bool* offline);

 private:
  std::atomic<bool> offline_{false};
  bool shown_ = false;  // touched by the tray thread only
};

// The process's one link state, fed by WinSysTray::SetStateIsOnLine/OffLine.
LinkState& TrayLink();

// The options the tray shows and its menu changes: the store given to
// WinSysTray::InitWinSysTray, which must come first (it outlives the tray).
OptionsStore& TrayOptions();
void SetTrayOptions(OptionsStore& options);

}  // namespace nbtray
