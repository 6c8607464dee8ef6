// The routing table as "netstat -r" prints it (numeric addresses), captured
// through a temporary file route.dat in the current (program's) folder.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/win32/handle_win32.h"

namespace nbplat {
namespace {

constexpr char kRouteFile[] = "route.dat";
// The command normally ends within a second; a hung one must not stop start-up.
constexpr DWORD kCommandWaitMs = 10000;
// The file is looked for this many times, this far apart, before giving up.
constexpr int kOpenAttempts = 6;
constexpr unsigned kOpenPauseMs = 300;

// The system's own cmd.exe, never one found first in the program's folder.
std::string CommandInterpreter() {
  char dir[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "cmd.exe";
  return std::string(dir, n) + "\\cmd.exe";
}

}  // namespace

std::string ReadRouteTable() {
  DeleteFileA(kRouteFile);
  std::string command = "\"" + CommandInterpreter() + "\" /c \"netstat -r > " + kRouteFile + "\"";
  win32::UniqueHandle process;
  if (win32::StartHidden(command, &process)) WaitForSingleObject(process.Get(), kCommandWaitMs);

  std::FILE* f = nullptr;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) Sleep(kOpenPauseMs);
    f = std::fopen(kRouteFile, "r");
    if (f != nullptr) break;
  }
  if (f == nullptr) return std::string();
  std::string table;
  char buf[1000];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) table.append(buf, n);
  std::fclose(f);
  DeleteFileA(kRouteFile);
  return table;
}

}  // namespace nbplat
