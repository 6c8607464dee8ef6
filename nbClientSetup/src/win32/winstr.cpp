#include "winstr.h"

#include <windows.h>

namespace {
constexpr UINT kTextCodePage = 1251;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(kTextCodePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(kTextCodePage, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(kTextCodePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kTextCodePage, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

std::string EnvVar(const char* name) {
  std::wstring wname = Wide(name);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wname.c_str(), &value[0], n);
  value.resize(n);
  return Narrow(value);
}

std::wstring ExpandEnv(const std::wstring& text) {
  DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (n == 0) return text;
  std::wstring out(n, L'\0');
  n = ExpandEnvironmentStringsW(text.c_str(), &out[0], n);
  if (n == 0) return text;
  out.resize(n - 1);  // the count includes the terminating zero
  return out;
}
