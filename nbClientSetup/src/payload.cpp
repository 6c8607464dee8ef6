#include "payload.h"

#include <cctype>
#include <string>

const PayloadItem kPayload[kPayloadCount] = {
    {"nbclient", "NimbrelClient.exe"},      {"license", "NimbrelLicense.txt"},
    {"helptxt", "NimbrelClientHelp.txt"},   {"helphtm", "NimbrelClientHelp.htm"},
    {"guihtm", "share\\ClientHtmlGUI.htm"}, {"logo", "share\\elefant256.jpg"},
    {"ini", "NimbrelClient.ini"},           {"changelog", "change.log"},
};

bool KeepsExistingFile(const char* resName) {
  std::string lower(resName);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "ini";
}
