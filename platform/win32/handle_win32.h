// Owning wrapper of a Win32 kernel handle.
#pragma once

#include <windows.h>

#include <string>

namespace nbplat {
namespace win32 {

// Closes the handle when it goes out of scope; null and INVALID_HANDLE_VALUE
// both mean "no handle".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// Starts commandLine with no window and no inherited handles; *process
// receives the process handle. False when it could not be started.
bool StartHidden(const std::string& commandLine, UniqueHandle* process);

}  // namespace win32
}  // namespace nbplat
