// Win32 process services: clock, threads, program path, stop events,
// messages, helper programs.
#include <windows.h>
// After <windows.h>, which it builds on.
#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/handle_win32.h"

namespace nbplat {
namespace {

// Windows-1251 bytes as UTF-16, so the text reads right whatever code page
// the system runs with.
std::wstring FromCp1251(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');
  const int written = MultiByteToWideChar(1251, 0, text.data(), n, &wide[0], n);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

// A message box with no owner window.
void ShowBox(const std::string& caption, const std::string& text, UINT flags) {
  MessageBoxW(nullptr, FromCp1251(text).c_str(), FromCp1251(caption).c_str(), flags);
}

std::atomic<void (*)()> g_onStop{nullptr};
std::atomic<bool> g_stopCalled{false};

// Runs on a thread the system creates for the event. onStop normally ends the
// process and does not return; if it does, the event counts as handled.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  void (*fn)() = g_onStop.load();
  if (fn == nullptr) return FALSE;
  if (!g_stopCalled.exchange(true)) fn();
  return TRUE;
}

}  // namespace

std::uint32_t TickCountMs() { return static_cast<std::uint32_t>(GetTickCount()); }

void SleepMs(unsigned ms) { Sleep(ms); }

unsigned long CurrentThreadId() { return static_cast<unsigned long>(GetCurrentThreadId()); }

// The whole path however long: a buffer that was filled to the brim may hold
// a cut path, so it grows until the name fits.
std::string ProgramPath() {
  std::vector<char> buf(1024);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return std::string();
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::string();
  // "C:\prog.exe": the folder is the drive's root, which needs its separator
  // ("C:" alone names the current folder of drive C).
  if (cut == 2 && path[1] == ':') return path.substr(0, 3);
  if (cut == 0) return path.substr(0, 1);
  return path.substr(0, cut);
}

bool SetCurrentDir(const std::string& dir) {
  return !dir.empty() && SetCurrentDirectoryA(dir.c_str()) != 0;
}

char PathSeparator() { return '\\'; }

// Writes to a closed socket fail with an error on Windows; only the console
// events need a handler (a program without a console gets none).
void InstallStopHandler(void (*onStop)()) {
  g_onStop.store(onStop);
  static std::atomic<bool> installed{false};
  if (!installed.exchange(true)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void ShowMessage(const std::string& caption, const std::string& text) {
  ShowBox(caption, text, MB_ICONINFORMATION | MB_OK);
}

void ShowError(const std::string& caption, const std::string& text) {
  ShowBox(caption, text, MB_ICONERROR | MB_OK);
}

void OpenUrl(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

namespace win32 {

bool StartHidden(const std::string& commandLine, UniqueHandle* process) {
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process->Reset(pi.hProcess);
  return true;
}

}  // namespace win32

bool RunHidden(const std::string& commandLine, bool wait) {
  win32::UniqueHandle process;
  if (!win32::StartHidden(commandLine, &process)) return false;
  if (wait) WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

}  // namespace nbplat
