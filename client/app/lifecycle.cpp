// Program start and stop: the listening socket, the helper threads, the
// accept loop and the one shutdown routine every thread uses.
#include "app/lifecycle.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "app/tray_events.h"
#include "kernel/acceptor.h"
#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "platform/platform.h"
#include "settings/settingsman.h"
#include "support/debug.h"
#include "tray/tray.h"

namespace {

// Starts fn on a detached thread; false when the thread could not be made.
template <typename F>
bool StartDetached(F fn) {
  try {
    std::thread(fn).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// The settings console, once its thread has made it; never freed (the
// process ends with _Exit while its thread may still be inside it).
std::atomic<SettingsMan*> console{nullptr};

void CloseListener() {
  nbplat::CloseSocket(gClient.proxy.lsocket);
  gClient.proxy.lsocket = nbplat::kNoSocket;
}

// Thread body of the settings console.
void RunConsole(ClientContext& ctx) {
  auto* man = new SettingsMan(ctx);
  console = man;
  man->Start(ctx.options.Get().iSettingsPort);
}

}  // namespace

std::string StartFailureText(int result, int port) {
  const std::string sPort = std::to_string(port);
  std::string step;
  switch (result) {
    case kInitAnotherCopy:
    case kInitEnabled:
      return "Nimbrel Client уже включен.";
    case kInitNoSockets:
      step = "Не удалось запустить сетевую библиотеку.";
      break;
    case kInitNoSocket:
      step = "Не удалось создать сокет для порта " + sPort + ".";
      break;
    case kInitBindFailed:
      step = "Порт " + sPort +
             " занят другой программой. Закройте её или укажите другой порт "
             "(строка Port в NimbrelClient.ini).";
      break;
    case kInitListenFailed:
      step = "Не удалось начать приём соединений на порту " + sPort + ".";
      break;
    default:
      step = "Ошибка запуска " + std::to_string(result) + ".";
      break;
  }
  return step + "\nNimbrel Client не запущен.";
}

int StartExitStatus(int result) {
  return result == kInitAnotherCopy || result == kInitEnabled ? 0 : 1;
}

std::string InstanceClaimName(int port) { return "NimbrelClient.port." + std::to_string(port); }

int ProgramInit() {
  dbgmsg("int ProgramInit()");
  ClientContext& ctx = gClient;
  ProxyState& proxy = ctx.proxy;
  if (proxy.bServerEnabled) {
    dbgmsg("RET int ProgramInit()");
    return kInitEnabled;
  }
  if (!nbplat::NetStartup()) {
    dbgmsg("RET int ProgramInit()");
    return kInitNoSockets;
  }
  const std::string folder = nbplat::ProgramFolder();
  dbgmsg("sCurPath Full =" + nbplat::ProgramPath());
  dbgmsg("sCurPath Mod =" + folder);
  nbplat::SetCurrentDir(folder);

  ctx.options.Load();
  const std::uint16_t port = static_cast<std::uint16_t>(ctx.options.Get().iPort & 0xFFFF);
  dbgmsg("Port=");
  dbgmsg(static_cast<double>(port));
  // A copy of ours that serves this port holds the claim; any other program
  // on the port shows as a failed bind below.
  if (!nbplat::ClaimInstance(InstanceClaimName(port))) {
    dbgmsg("another copy serves the port");
    dbgmsg("RET int ProgramInit()");
    return kInitAnotherCopy;
  }

  proxy.lsocket = nbplat::TcpSocket();
  if (proxy.lsocket == nbplat::kNoSocket || !nbplat::SetBlocking(proxy.lsocket)) {
    dbgmsg("Error: socket failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return kInitNoSocket;
  }
  // The port may be bound again right after a restart, but never by a
  // second running copy: that one fails to bind here.
  nbplat::AllowListenRestart(proxy.lsocket);
  // Port 0 would bind a random port that no browser knows: treat it as a
  // failed bind.
  if (port == 0 || !nbplat::BindIPv4(proxy.lsocket, port)) {
    dbgmsg("Error: bind failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return kInitBindFailed;
  }
  if (!nbplat::ListenOn(proxy.lsocket, nb::kListenBacklog)) {
    dbgmsg("Error: listen failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return kInitListenFailed;
  }
  dbgmsg("RET int ProgramInit()");
  return kInitOk;
}

void ProgramDeinit() {
  dbgmsg("int ProgramDeinit()");
  // The counters changed since the last flush are saved, and the file lock
  // is held until the process ends: no save is cut in half.
  gClient.options.SaveAndHoldForExit();
  gClient.proxy.bServerEnabled = false;
  nbplat::NetCleanup();
  nbplat::CloseSocket(gClient.proxy.lsocket);
  WinSysTray::DeleteIcon();
  if (SettingsMan* man = console.load()) {
    // Stopped but not freed: the settings thread may still be inside the
    // object, and the process ends a moment later anyway.
    man->Stop();
  }
  // _Exit rather than exit: static destructors would tear down the locks and
  // the options under threads still using them (this thread holds the file
  // lock for good). Every file is closed after each write,
  // so only the standard streams need flushing.
  std::fflush(nullptr);
  std::_Exit(0);
}

void GetRouteTable() {
  dbgmsg("void GetRouteTable(void)");
  std::string& table = gClient.proxy.sRouteTable;
  table = nbplat::ReadRouteTable();
  if (table.empty()) dbgmsg("get sRouteTable failed");
  dbgmsg("sRouteTable=" + table);
}

int ClientMain(int argc, char** argv) {
  (void)argv;
  // SIGSEGV keeps its default action: ignoring it would make a faulting
  // thread loop on the same instruction for ever instead of ending.
  nbplat::InstallStopHandler([] { ProgramDeinit(); });
  static nbapp::TrayEvents events;
  nbkernel::SetEvents(&events);
  dbgmsg("int main()");
  dbgmsg("Nimbrel Client started\n");

  ClientContext& ctx = gClient;
  int result = ProgramInit();
  if (result != kInitOk) {
    ctx.proxy.bServerEnabled = false;
    dbgmsg("init failed. exit");
    // The options were loaded; a copy that serves keeps saving its own.
    if (result != kInitNoSockets && result != kInitEnabled && result != kInitAnotherCopy) {
      ctx.options.Save();
    }
    const int port = ctx.options.Get().iPort;
    const int status = StartExitStatus(result);
    if (status == 0) {
      nbplat::ShowMessage("NimbrelClient", StartFailureText(result, port));
    } else {
      nbplat::ShowError("NimbrelClient", StartFailureText(result, port));
    }
    dbgmsg("RET int main()");
    return status;
  }
  ctx.proxy.bServerEnabled = true;
  if (!ctx.flusher.Start(ctx.options, nb::kStatsFlushMs)) dbgmsg("statistics timer failed");
  GetRouteTable();
  dbgmsg("carg=");
  dbgmsg(static_cast<double>(argc));

  WinSysTray::InitWinSysTray(ctx.options);
  if (!StartDetached([] { WinSysTray::ThreadWinSysTray(nullptr); })) {
    dbgmsg("tray thread failed");
  }
  if (!StartDetached([&ctx] { RunConsole(ctx); })) dbgmsg("settings thread failed");

  while (ctx.proxy.bServerEnabled) waitConnection(ctx);
  ProgramDeinit();
}
