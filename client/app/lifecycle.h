// Program start and stop.
#pragma once

#include <string>

// ProgramInit results.
inline constexpr int kInitOk = 0;
inline constexpr int kInitBindFailed = 1;    // the port is taken (or not ours to bind)
inline constexpr int kInitAnotherCopy = 2;   // another copy serves the port already
inline constexpr int kInitEnabled = 3;       // this process serves already
inline constexpr int kInitNoSocket = 4;      // no listening socket could be made
inline constexpr int kInitListenFailed = 5;  // bound, but listen failed
inline constexpr int kInitNoSockets = -1;    // the sockets library did not start

// One of the results above. Every result but kInitNoSockets and kInitEnabled
// has loaded the options.
int ProgramInit();
// Ends the process with status 0; never returns. Callable from any thread.
[[noreturn]] void ProgramDeinit();
// Captures the routing table into gClient.proxy.sRouteTable.
void GetRouteTable();
// The whole start sequence of main (returns main's status).
int ClientMain(int argc, char** argv);

// What the user is told for a failed ProgramInit result on the proxy port:
// which step failed (Windows-1251 text).
std::string StartFailureText(int result, int port);
// main's status for a failed ProgramInit result: 0 when a copy of the
// program already serves, non-zero for every failure.
int StartExitStatus(int result);
// The name a running copy claims for its proxy port.
std::string InstanceClaimName(int port);
