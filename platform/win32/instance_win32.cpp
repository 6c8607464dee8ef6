// Win32 single-copy claim: a named mutex of the session, held until the
// process ends.
#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace nbplat {
namespace {

// Claims kept until the process ends; the system frees them with it.
std::mutex g_mtxClaims;
std::vector<HANDLE> g_claims;  // guarded by g_mtxClaims

}  // namespace

bool ClaimInstance(const std::string& name) {
  const std::string full = "Local\\" + name;
  HANDLE h = CreateMutexA(nullptr, FALSE, full.c_str());
  if (h == nullptr) return true;  // cannot tell: the caller's own checks decide
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mtxClaims);
  g_claims.push_back(h);
  return true;
}

}  // namespace nbplat
