// Win32 file services.
#include <windows.h>
// <windows.h> maps ReplaceFile to the system's ReplaceFileA; ours is another function.
#undef ReplaceFile

#include "platform/platform.h"

namespace nbplat {
namespace {

// A target that someone holds open without delete sharing (a reader of the
// file, a virus scanner) cannot be replaced until it is closed again; such
// holds are short, so the move is retried, with pauses growing from 1 ms to
// 16 ms, for up to about two seconds in all.
constexpr DWORD kReplaceFirstPauseMs = 1;
constexpr DWORD kReplaceLongestPauseMs = 16;
constexpr DWORD kReplaceTotalWaitMs = 2000;

bool IsTransient(DWORD err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION ||
         err == ERROR_LOCK_VIOLATION;
}

}  // namespace

// Replaces an existing target in one step and flushes the move to disk
// before returning, so a crash right after leaves either file whole.
bool ReplaceFile(const std::string& from, const std::string& to) {
  DWORD pause = kReplaceFirstPauseMs;
  DWORD waited = 0;
  for (;;) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
        0)
      return true;
    if (!IsTransient(GetLastError()) || waited >= kReplaceTotalWaitMs) return false;
    Sleep(pause);
    waited += pause;
    if (pause < kReplaceLongestPauseMs) pause *= 2;
  }
}

}  // namespace nbplat
