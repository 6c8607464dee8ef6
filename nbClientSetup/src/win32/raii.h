// Owners of the installer's Win32 handles and COM interfaces.
#pragma once

#include <windows.h>

// A kernel handle; null and INVALID_HANDLE_VALUE both mean "none".
class FileHandle {
 public:
  explicit FileHandle(HANDLE h = nullptr) : h_(h) {}
  ~FileHandle() {
    if (Valid()) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// An open registry key, closed on scope exit.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (k_) RegCloseKey(k_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* Out() { return &k_; }
  HKEY Get() const { return k_; }
  explicit operator bool() const { return k_ != nullptr; }

 private:
  HKEY k_ = nullptr;
};

// One COM interface reference, released on scope exit.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T** Out() { return &p_; }
  void** OutVoid() { return reinterpret_cast<void**>(&p_); }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};
