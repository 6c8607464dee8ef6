// Winsock start-up shared by the Win32 socket functions.
#pragma once

namespace nbplat {
namespace win32 {

// Starts Winsock 2.2 once per process on first use, so that sockets work
// even before (or without) an explicit NetStartup. True when it is running.
bool EnsureWinsock();

}  // namespace win32
}  // namespace nbplat
