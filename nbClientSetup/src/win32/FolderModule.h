// The shell's folder picker (ANSI form).
#pragma once

#include <windows.h>

#include <string>

// Shows the picker (file-system folders only) and returns the last folder
// picked in this process: this pick, or after a cancel the previous pick,
// empty if there was none. Only a drive root ends in "\". Needs COM.
std::string BrowseFolder(HWND owner, const std::string& title);
