// The routing table as "netstat -r" prints it (numeric addresses), captured
// through a temporary file route.dat in the current (program's) folder. Where
// the command gives nothing (it may be missing or refuse -r), the IP helper's
// forwarding table is written out in the same numeric form instead.
#include <winsock2.h>
// <winsock2.h> must come before <windows.h>.
#include <windows.h>
// <iphlpapi.h> builds on both.
#include <iphlpapi.h>

#include <cstdio>
#include <string>
#include <vector>

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

std::string Dotted(DWORD ipNet) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&ipNet);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

std::string Column(const std::string& s, std::size_t width) {
  return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

// The IPv4 forwarding table from iphlpapi.dll, loaded when needed so that
// the program does not depend on it at start.
std::string ForwardingTable() {
  using GetTableFn = DWORD(WINAPI*)(PMIB_IPFORWARDTABLE, PULONG, BOOL);
  HMODULE lib = LoadLibraryA("iphlpapi.dll");
  if (lib == nullptr) return std::string();
  auto getTable = reinterpret_cast<GetTableFn>(
      reinterpret_cast<void*>(GetProcAddress(lib, "GetIpForwardTable")));
  std::string out;
  ULONG size = 0;
  if (getTable != nullptr && getTable(nullptr, &size, TRUE) == ERROR_INSUFFICIENT_BUFFER) {
    // The table may grow between the two calls; one retry with the new size.
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::vector<unsigned char> buf(size);
      auto* table = reinterpret_cast<PMIB_IPFORWARDTABLE>(buf.data());
      DWORD r = getTable(table, &size, TRUE);
      if (r == ERROR_INSUFFICIENT_BUFFER) continue;
      if (r != NO_ERROR) break;
      out =
          "IPv4 Route Table\n"
          "Network Destination Netmask          Gateway          Metric\n";
      for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPFORWARDROW& row = table->table[i];
        out += Column(Dotted(row.dwForwardDest), 20) + Column(Dotted(row.dwForwardMask), 17) +
               Column(Dotted(row.dwForwardNextHop), 17) + std::to_string(row.dwForwardMetric1) +
               "\n";
      }
      break;
    }
  }
  FreeLibrary(lib);
  return out;
}

std::string ReadNetstatOutput() {
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

}  // namespace

std::string ReadRouteTable() {
  std::string table = ReadNetstatOutput();
  return table.empty() ? ForwardingTable() : table;
}

}  // namespace nbplat
