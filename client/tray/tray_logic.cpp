// The tray's platform-free part: texts, check marks, command effects and the
// animation sequence.
#include "tray/tray_logic.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "kernel/events.h"
#include "platform/platform.h"
#include "support/debug.h"
#include "support/nbString.h"
#include "tray/tray.h"

namespace nbtray {
namespace {

constexpr int kRunEnd = 6;  // a run's frame counter reaching this ends the run

// printf into a string of whatever length the values need.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  // Every text here fits the stack buffer; a longer one is cut, as the tip
  // and balloon are cut to their fields anyway.
  char buf[1024];
  int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n < 0) return std::string();
  return std::string(buf, std::min(static_cast<std::size_t>(n), sizeof buf - 1));
}

struct Savings {
  double totalMb, compressMb, savedMb, savedMoney, ratio;
};

Savings ComputeSavings(const Program_Options& po) {
  Savings s;
  s.totalMb = po.dTotalTraffic / 1024 / 1024;
  s.compressMb = po.dCompressTraffic / 1024 / 1024;
  s.savedMb = (po.dTotalTraffic - po.dCompressTraffic) / 1024 / 1024;
  s.savedMoney = s.savedMb * po.dTrafficCost;
  s.ratio = po.dCompressTraffic == 0 ? 1.0 : po.dTotalTraffic / po.dCompressTraffic;
  return s;
}

}  // namespace

std::string TipText(const Program_Options& po, bool offline) {
  const Savings s = ComputeSavings(po);
  std::string tip;
  if (offline) {
    tip = Format(
        "Сервис сжатия недоступен:\nстраницы идут без сжатия.\nСэкономлено: %.2f Мб (%.2f руб)",
        s.savedMb, s.savedMoney);
  } else {
    tip = Format(
        "До сжатия: %.2f Мб\nПосле сжатия: %.2f Мб\nСэкономлено: %.2f Мб (%.2f руб)\n"
        "Коэф. сжатия: %.2f\n",
        s.totalMb, s.compressMb, s.savedMb, s.savedMoney, s.ratio);
    tip += "Доступ: Приоритетный";
  }
  if (tip.size() > kTipMax) tip.resize(kTipMax);
  return tip;
}

std::string OfflineBalloonText() {
  return std::string("Сервис сжатия недоступен.") + kBalloonPad +
         "\nСтраницы идут без сжатия, пока он не ответит." + kBalloonPad;
}

int IconFor(int frame, bool offline) {
  if (frame > 0 && frame <= IDI_FRAME5 - IDI_FRAME0) return IDI_FRAME0 + frame;
  return offline ? IDI_OFFLINE : IDI_NORMAL;
}

std::string BalloonText(const Program_Options& po) {
  const Savings s = ComputeSavings(po);
  // Blanks end each line: some shells (Wine's) size the balloon a few
  // characters narrower than they draw its text, and cut the longest line.
  return Format("Сэкономлено: %.2f руб (%.2f Мб)%s\nКоэф сжатия: %.2f%s", s.savedMoney, s.savedMb,
                kBalloonPad, s.ratio, kBalloonPad);
}

std::string ConsoleUrl(int iSettingsPort) {
  return "http://localhost:" + IntToStr(iSettingsPort) + "/";
}

bool IsItemChecked(int id, const Program_Options& po) {
  switch (id) {
    case IDM_BLOCKFLASH:
      return po.bBlockFlash;
    case IDM_BLOCKACTIVEX:
      return po.bBlockActiveX;
    case IDM_BLOCKBANNERS:
      return po.bBlockBanners;
    case IDM_GRAPHLOW:
      return po.iJpegLvl == 0;
    case IDM_GRAPHMEDIUM:
      return po.iJpegLvl == 1;
    case IDM_GRAPHHIGH:
      return po.iJpegLvl == 2;
    case IDM_COMPRESSOFF:
      return po.bCompressOff;
    default:
      return false;
  }
}

const char* CommandName(int id) {
  switch (id) {
    case IDM_BLOCKFLASH:
      return "IDM_BLOCKFLASH";
    case IDM_BLOCKACTIVEX:
      return "IDM_BLOCKACTIVEX";
    case IDM_BLOCKBANNERS:
      return "IDM_BLOCKBANNERS";
    case IDM_GRAPHLOW:
      return "IDM_GRAPHLOW";
    case IDM_GRAPHMEDIUM:
      return "IDM_GRAPHMEDIUM";
    case IDM_GRAPHHIGH:
      return "IDM_GRAPHHIGH";
    case IDM_SHOWWINDOW:
      return "IDM_SHOWWINDOW";
    case IDM_EXITPROGRAM:
      return "IDM_EXITPROGRAM";
    case IDM_COMPRESSOFF:
      return "IDM_COMPRESSOFF";
    default:
      return nullptr;
  }
}

TrayAction CommandEffect(int id, Program_Options& po) {
  switch (id) {
    case IDM_BLOCKFLASH:
      po.bBlockFlash = !po.bBlockFlash;
      return TrayAction::OptionsChanged;
    case IDM_BLOCKACTIVEX:
      po.bBlockActiveX = !po.bBlockActiveX;
      return TrayAction::OptionsChanged;
    case IDM_BLOCKBANNERS:
      po.bBlockBanners = !po.bBlockBanners;
      return TrayAction::OptionsChanged;
    case IDM_GRAPHLOW:
      po.iJpegLvl = 0;
      return TrayAction::OptionsChanged;
    case IDM_GRAPHMEDIUM:
      po.iJpegLvl = 1;
      return TrayAction::OptionsChanged;
    case IDM_GRAPHHIGH:
      po.iJpegLvl = 2;
      return TrayAction::OptionsChanged;
    case IDM_COMPRESSOFF:
      po.bCompressOff = !po.bCompressOff;
      return TrayAction::OptionsChanged;
    case IDM_SHOWWINDOW:
      return TrayAction::OpenConsole;
    case IDM_EXITPROGRAM:
      return TrayAction::Exit;
    default:
      return TrayAction::None;
  }
}

TrayAction RunCommand(int id) {
  const char* name = CommandName(id);
  if (name == nullptr) return TrayAction::None;
  dbgmsg(name);
  TrayAction action = TrayAction::None;
  TrayOptions().Change([&](Program_Options& po) { action = CommandEffect(id, po); });
  switch (action) {
    case TrayAction::OptionsChanged:
      WinSysTray::UpdateMenu();
      break;
    case TrayAction::OpenConsole:
      nbplat::OpenUrl(ConsoleUrl(TrayOptions().Get().iSettingsPort));
      break;
    case TrayAction::Exit:
      nbkernel::Events().StopRequested();
    case TrayAction::None:
      break;
  }
  return action;
}

bool Animation::Step(int* frame) {
  if (!active_) {
    frame_ = 0;
    return false;
  }
  frame_ = (frame_ + 1) % (kRunEnd + 1);
  if (frame_ == kRunEnd) {
    frame_ = 0;
    active_ = false;
  }
  *frame = frame_;
  return true;
}

Animation& TrayAnimation() {
  static Animation animation;
  return animation;
}

bool LinkState::Take(bool* offline) {
  const bool now = offline_;
  if (now == shown_) return false;
  shown_ = now;
  *offline = now;
  return true;
}

LinkState& TrayLink() {
  static LinkState link;
  return link;
}

namespace {
std::atomic<OptionsStore*> trayOptions{nullptr};  // set once by InitWinSysTray
}  // namespace

OptionsStore& TrayOptions() { return *trayOptions.load(); }

void SetTrayOptions(OptionsStore& options) { trayOptions = &options; }

}  // namespace nbtray
