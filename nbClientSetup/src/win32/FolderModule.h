// The shell's folder picker.
#pragma once

#include <windows.h>

#include <string>

// Shows the picker (file-system folders only) with a UTF-8 title and returns
// the folder picked, UTF-8; empty when the user cancels. Only a drive root
// ends in "\". Needs COM.
std::string BrowseFolder(HWND owner, const std::string& title);
