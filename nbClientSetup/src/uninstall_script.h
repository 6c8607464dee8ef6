// Text of the uninstall script "NimbrelUninstall.vbs" (VBScript run by
// Windows Script Host): lines joined by CR LF, no line break after the last.
#pragma once

#include <string>

// folder is the normalised installation folder (ending in "\"); the script
// deletes it without its final backslash. The Internet Explorer values are
// put back from what the installer saved (see ie_config.h), not deleted.
std::string BuildUninstallScript(const std::string& folder);
