// Re-entrant lock as a named Win32 kernel mutex: objects of this process
// created with the same name share one mutex.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace nbplat {
namespace {

HANDLE H(void* impl) { return static_cast<HANDLE>(impl); }

}  // namespace

// Kernel names are seen by every process of the session, but these locks
// guard data of this process only: the name carries the process id, so two
// copies of the program started within one tick never share a lock. When
// the name cannot be used (another kind of object already holds it), an
// unnamed mutex still gives mutual exclusion within this process.
NamedMutex::NamedMutex() : impl_(CreateMutexA(nullptr, FALSE, nullptr)) {}

NamedMutex::NamedMutex(const std::string& name) {
  const std::string kernelName = name + "-" + std::to_string(GetCurrentProcessId());
  HANDLE h = CreateMutexA(nullptr, FALSE, kernelName.c_str());
  if (h == nullptr) h = CreateMutexA(nullptr, FALSE, nullptr);
  impl_ = h;
}

NamedMutex::~NamedMutex() {
  if (impl_ != nullptr) CloseHandle(H(impl_));
}

// An abandoned mutex (its holder ended without releasing it) is owned by the
// waiter that receives WAIT_ABANDONED, so that counts as taken.
void NamedMutex::Lock() {
  if (impl_ == nullptr) return;
  WaitForSingleObject(H(impl_), INFINITE);
}

bool NamedMutex::Unlock() { return impl_ != nullptr && ReleaseMutex(H(impl_)) != 0; }

std::uintptr_t NamedMutex::Handle() const { return reinterpret_cast<std::uintptr_t>(impl_); }

}  // namespace nbplat
