// The installer keeps its texts as Windows-1251 bytes; Win32 calls get them
// as UTF-16, converted with that code page whatever the system's ANSI one is.
#pragma once

#include <string>

std::wstring Wide(const std::string& cp1251);
std::string Narrow(const std::wstring& utf16);
// Value of an environment variable as Windows-1251 text, empty when unset.
std::string EnvVar(const char* name);
// Text with %variables% expanded (unchanged when expansion fails).
std::wstring ExpandEnv(const std::wstring& text);
