// Text of the uninstall script "NimbrelUninstall.vbs" (VBScript run by
// Windows Script Host): lines joined by CR LF, no line break after the last.
// The text is plain ASCII: other characters of texts and paths are written as
// ChrW(n), so every script host reads it alike whatever the code page.
#pragma once

#include <string>
#include <vector>

// Argument that runs the script without its question and prints its result
// instead of showing it; the exit code is then 0 when everything went and 1
// when something stayed.
inline constexpr char kUninstallSilentArg[] = "/S";
// Argument of the script's own second start with administrator rights.
inline constexpr char kUninstallElevatedArg[] = "/E";

// Where the installer stores, in Unicode, the texts and the folder that the
// script uses (under HKEY_CURRENT_USER, beside the saved browser values); a
// script host that cannot build them from their ASCII form reads them there.
// kUninstallOwnKeyMark = "1" there when the installer created kOwnKey.
inline constexpr char kUninstallKey[] = "Software\\Nimbrel\\Setup\\Uninstall";
inline constexpr char kUninstallOwnKeyMark[] = "OwnKeyCreated";

struct UninstallText {
  std::string name;  // value name under kUninstallKey, also the script's variable
  std::string text;  // UTF-8
};

// The values to store under kUninstallKey for this folder ("Folder" is the
// folder without its final backslash).
std::vector<UninstallText> UninstallTexts(const std::string& folder);

// folder is the normalised installation folder (ending in "\"). The script
// stops a running client (waiting for it), deletes the folder, the
// Start-menu folder, the desktop shortcut, the autostart and compatibility
// values, puts the Internet Explorer values back from what the installer
// saved (see ie_config.h), removes the installer's registry key and itself,
// and names whatever it could not remove instead of reporting success.
std::string BuildUninstallScript(const std::string& folder);
