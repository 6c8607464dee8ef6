// Program start and stop: the listening socket, the helper threads, the
// accept loop and the one shutdown routine every thread uses.
#include "kernel/lifecycle.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "kernel/acceptor.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/state.h"
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

void CloseListener() {
  nbplat::CloseSocket(lsocket);
  lsocket = nbplat::kNoSocket;
}

}  // namespace

int ProgramInit() {
  dbgmsg("int ProgramInit()");
  if (bServerEnabled) {
    dbgmsg("RET int ProgramInit()");
    return 3;
  }
  if (!nbplat::NetStartup()) {
    dbgmsg("RET int ProgramInit()");
    return -1;
  }
  const std::string folder = nbplat::ProgramFolder();
  dbgmsg("sCurPath Full =" + nbplat::ProgramPath());
  dbgmsg("sCurPath Mod =" + folder);
  nbplat::SetCurrentDir(folder);

  LoadProgramOptions();

  lsocket = nbplat::TcpSocket();
  if (lsocket == nbplat::kNoSocket || !nbplat::SetBlocking(lsocket)) {
    dbgmsg("Error: socket failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return 1;
  }
  // The port may be bound again right after a restart, but never by a
  // second running copy: that one fails to bind here.
  nbplat::AllowListenRestart(lsocket);
  const std::uint16_t port = static_cast<std::uint16_t>(GetProgramOptions().iPort & 0xFFFF);
  dbgmsg("Port=");
  dbgmsg(static_cast<double>(port));
  // Port 0 would bind a random port that no browser knows: treat it as a
  // failed bind.
  if (port == 0 || !nbplat::BindIPv4(lsocket, port)) {
    dbgmsg("Error: bind failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return 1;
  }
  if (!nbplat::ListenOn(lsocket, nb::kListenBacklog)) {
    dbgmsg("Error: listen failed");
    CloseListener();
    dbgmsg("RET int ProgramInit()");
    return 1;
  }
  dbgmsg("RET int ProgramInit()");
  return 0;
}

void ProgramDeinit() {
  dbgmsg("int ProgramDeinit()");
  // Held until the process ends: no thread can read, change or save the
  // options any more, and no save is cut in half.
  mtxProgramOptions.Lock();
  bServerEnabled = false;
  nbplat::NetCleanup();
  nbplat::CloseSocket(lsocket);
  WinSysTray::DeleteIcon();
  if (SetMan != nullptr) {
    // Stopped but not freed: the settings thread may still be inside the
    // object, and the process ends a moment later anyway.
    SetMan->Stop();
  }
  // _Exit rather than exit: static destructors would tear down the locks and
  // the options record under threads still blocked on them (this thread
  // holds the options lock for good). Every file is closed after each write,
  // so only the standard streams need flushing.
  std::fflush(nullptr);
  std::_Exit(0);
}

void GetRouteTable() {
  dbgmsg("void GetRouteTable(void)");
  sRouteTable = nbplat::ReadRouteTable();
  if (sRouteTable.empty()) dbgmsg("get sRouteTable failed");
  dbgmsg("sRouteTable=" + sRouteTable);
}

int ClientMain(int argc, char** argv) {
  (void)argv;
  // SIGSEGV keeps its default action: ignoring it would make a faulting
  // thread loop on the same instruction for ever instead of ending.
  nbplat::InstallStopHandler([] { ProgramDeinit(); });
  dbgmsg("int main()");
  dbgmsg("Nimbrel Client started\n");

  int result = ProgramInit();
  if (result != 0) {
    bServerEnabled = false;
    dbgmsg("init failed. exit");
    if (result == 1) SaveProgramOptions();
    nbplat::ShowMessage("NimbrelClient", "Nimbrel Client уже включен.");
    dbgmsg("RET int main()");
    return 0;
  }
  bServerEnabled = true;
  GetRouteTable();
  dbgmsg("carg=");
  dbgmsg(static_cast<double>(argc));

  WinSysTray::InitWinSysTray();
  if (!StartDetached([] { WinSysTray::ThreadWinSysTray(nullptr); })) {
    dbgmsg("tray thread failed");
  }
  if (!StartDetached([] { StartSettingsMan(nullptr); })) dbgmsg("settings thread failed");

  while (bServerEnabled) waitConnection();
  ProgramDeinit();
}
