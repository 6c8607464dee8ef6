// The Start-menu item "Настройка": an Internet shortcut (.url) to the
// client's settings console on the port its options file names.
#pragma once

#include <string>

inline constexpr int kDefaultSettingsPort = 3344;

// Port of the "SettingsPort:N" line of an options file's text (lines
// separated by CR LF or LF); kDefaultSettingsPort when there is no such line
// or N is not within 1..65535, as the client itself reads it.
int SettingsPortFromOptions(const std::string& options);

// Text of the .url file opening http://localhost:<port>/ with the icon
// iconIndex of iconFile. Lines end in CR LF.
std::string SettingsShortcut(int port, const std::string& iconFile, int iconIndex);
