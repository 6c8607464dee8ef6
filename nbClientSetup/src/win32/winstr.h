// The installer holds every text and path as UTF-8 and hands them to Win32
// only through the wide (W) calls, so no path or text depends on the
// system's ANSI code page.
#pragma once

#include <string>

// UTF-8 <-> UTF-16.
std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
// UTF-8 of text in the given code page (e.g. the Windows-1251 files of the
// payload, or CP_ACP for files written by other programs).
std::string FromCodePage(const std::string& text, unsigned codePage);
// Value of an environment variable, empty when unset.
std::string EnvVar(const char* name);
// Text with %variables% expanded (unchanged when expansion fails).
std::wstring ExpandEnv(const std::wstring& text);
