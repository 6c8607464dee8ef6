// Program start and stop.
#pragma once

// 0 on success; 1 bind/listen failed; -1 sockets library failed; 3 when the
// server is already enabled.
int ProgramInit();
// Ends the process with status 0; never returns. Callable from any thread.
[[noreturn]] void ProgramDeinit();
// Captures the routing table into sRouteTable.
void GetRouteTable();
// The whole start sequence of main (returns main's status).
int ClientMain(int argc, char** argv);
