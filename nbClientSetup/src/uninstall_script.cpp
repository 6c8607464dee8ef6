#include "uninstall_script.h"

#include <vector>

#include "ie_config.h"

namespace {

const std::string kHkcu = "HKCU\\";
const std::string kShellFolders =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

// VBScript string literal: quotes doubled, the whole in quotes.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += (c == '"') ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string BuildUninstallScript(const std::string& folder) {
  std::string bare = folder;
  if (!bare.empty() && bare.back() == '\\') bare.pop_back();
  const std::string saved = kHkcu + kIeSaveKey + "\\";

  std::vector<std::string> lines = {
      "On Error Resume Next",
      "Answ = MsgBox (\"Удалить Nimbrel Client?\" & vbcrlf & \"Пожалуйста закройте программу "
      "Nimbrel Client для корректного удаления.\", vbYesNo + vbDefaultButton2 + vbQuestion, "
      "\"Подтверждение\")",
      "If Answ = VbNo Then WScript.Quit",
      "Set FSO = CreateObject(\"Scripting.FileSystemObject\")",
      "Set WSHShell = CreateObject(\"WScript.Shell\")",
      "FSO.DeleteFolder \"" + bare + "\", True",
      "FSO.DeleteFolder WSHShell.RegRead (\"" + kShellFolders +
          "Common Programs\") & \"\\Nimbrel\", True",
      "FSO.DeleteFile WSHShell.RegRead (\"" + kShellFolders +
          "Common Desktop\") & \"\\NimbrelClient.lnk\", True",
      // Internet Explorer: the values the installer wrote go, the ones it
      // replaced come back from its saved copies; nothing else is touched.
      "Sub RestoreKey (Key, Part)",
      "On Error Resume Next",
      "Added = WSHShell.RegRead (" + Quoted(saved + kIeAddedPrefix) + " & Part)",
      "If IsArray (Added) Then",
      "For Each Entry In Added",
      "Name = Mid (Entry, 2)",
      "If Name = \"\" Then",
      "WSHShell.Run \"reg.exe delete \"\"\" & Key & \"\"\" /ve /f\", 0, True",
      "Else",
      "WSHShell.Run \"reg.exe delete \"\"\" & Key & \"\"\" /v \"\"\" & Name & \"\"\" /f\", 0, True",
      "End If",
      "Next",
      "End If",
      "WSHShell.Run \"reg.exe copy \"\"" + kHkcu + kIeSaveKey + "\\" + kIeSavedPrefix +
          "\" & Part & \"\"\" \"\"\" & Key & \"\"\" /f\", 0, True",
      "End Sub",
      "Saved = \"\"",
      "Saved = WSHShell.RegRead (" + Quoted(saved + kIeSavedMark) + ")",
      "If Saved = \"1\" Then",
      "RestoreKey " + Quoted(kHkcu + kIeConnectionsKey) + ", \"Connections\"",
      "RestoreKey " + Quoted(kHkcu + kIeSettingsKey) + ", \"Internet Settings\"",
      "WSHShell.Run " + Quoted("reg.exe delete " + Quoted(kHkcu + kIeSaveKey) + " /f") +
          ", 0, True",
      "End If",
      "MsgBox \"Удаление завершено\", vbInformation, \"Nimbrel\"",
  };
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}
