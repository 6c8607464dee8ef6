#include "uninstall_script.h"

#include <vector>

#include "ie_config.h"
#include "setup_texts.h"

namespace {

const std::string kHkcu = "HKCU\\";
const std::string kShellFolders =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

// Next code point of UTF-8 text at *at (a stray byte stands for itself).
unsigned NextCodePoint(const std::string& s, std::size_t* at) {
  unsigned c = static_cast<unsigned char>(s[(*at)++]);
  int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  if (more == 0 || *at + more > s.size()) return c;
  unsigned cp = c & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    unsigned next = static_cast<unsigned char>(s[*at + i]);
    if ((next & 0xC0) != 0x80) return c;
    cp = (cp << 6) | (next & 0x3F);
  }
  *at += more;
  return cp;
}

// VBScript string expression of UTF-8 text in plain ASCII: printable ASCII
// in quotes (quotes doubled), every other character as ChrW(n) (UTF-16
// units), so that every script host reads it alike in any code page.
std::string Quoted(const std::string& s) {
  std::string out;
  bool inQuotes = false;
  auto unit = [&](unsigned u) {
    if (inQuotes) out += '"';
    inQuotes = false;
    out += (out.empty() ? "" : " & ") + std::string("ChrW(") + std::to_string(u) + ")";
  };
  for (std::size_t at = 0; at < s.size();) {
    unsigned cp = NextCodePoint(s, &at);
    if (cp >= 0x20 && cp < 0x7F) {
      if (!inQuotes) out += out.empty() ? "\"" : " & \"";
      inQuotes = true;
      out += cp == '"' ? std::string("\"\"") : std::string(1, static_cast<char>(cp));
    } else if (cp > 0xFFFF) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  if (out.empty()) return "\"\"";
  return inQuotes ? out + "\"" : out;
}

// A command-line argument in double quotes.
std::string Arg(const std::string& s) { return "\"" + s + "\""; }

// A VBScript statement running reg.exe hidden and waiting for it; args are
// the command line after "reg.exe ", as plain text.
std::string RunReg(const std::string& args) {
  return "WSHShell.Run " + Quoted("reg.exe " + args) + ", 0, True";
}

}  // namespace

std::vector<UninstallText> UninstallTexts(const std::string& folder) {
  std::string bare = folder;
  if (!bare.empty() && bare.back() == '\\') bare.pop_back();
  return {{"Folder", bare},
          {"Ask", kUninstallQuestion},
          {"Note", kUninstallCloseNote},
          {"AskTitle", kUninstallQuestionTitle},
          {"Done", kUninstallDone},
          {"Failed", kUninstallLeft}};
}

std::string BuildUninstallScript(const std::string& folder) {
  const std::string saved = kHkcu + kIeSaveKey + "\\";
  const std::string exe = folder + kClientExe;

  std::vector<std::string> lines = {
      "On Error Resume Next",
      "Set FSO = CreateObject(\"Scripting.FileSystemObject\")",
      "Set WSHShell = CreateObject(\"WScript.Shell\")",
      // Texts and the folder: as written here, or as the installer stored
      // them in Unicode (a script host that cannot build them from the
      // ASCII form still gets them exactly).
      "Function Stored (Name, Default)",
      "On Error Resume Next",
      "Stored = Default",
      "Value = \"\"",
      "Value = WSHShell.RegRead (" + Quoted(kHkcu + kUninstallKey + "\\") + " & Name)",
      "If Value <> \"\" Then Stored = Value",
      "End Function",
  };
  for (const UninstallText& t : UninstallTexts(folder)) {
    lines.push_back(t.name + " = " + Quoted(t.text));
    lines.push_back(t.name + " = Stored (" + Quoted(t.name) + ", " + t.name + ")");
  }
  const std::vector<std::string> rest = {
      "OwnKey = Stored (" + Quoted(kUninstallOwnKeyMark) + ", \"\")",
      "Silent = False",
      "If WScript.Arguments.Count > 0 Then Silent = (UCase (WScript.Arguments (0)) = " +
          Quoted(kUninstallSilentArg) + ")",
      // Program Files, the all-users Start menu and the Windows folder need
      // administrator rights: started without them (the Start menu does so
      // under UAC), the script starts itself again with them, once.
      "If Not Silent And WScript.Arguments.Count = 0 Then",
      "Err.Clear",
      "WSHShell.RegRead \"HKEY_USERS\\S-1-5-19\\Environment\\TEMP\"",
      "If Err.Number <> 0 Then",
      "Err.Clear",
      "CreateObject(\"Shell.Application\").ShellExecute \"wscript.exe\", \"\"\"\" & "
      "WScript.ScriptFullName & \"\"\" " +
          std::string(kUninstallElevatedArg) + "\", \"\", \"runas\", 1",
      "If Err.Number = 0 Then WScript.Quit",
      "End If",
      "End If",
      "If Not Silent Then",
      "Answ = MsgBox (Ask & vbcrlf & Note, vbYesNo + vbDefaultButton2 + vbQuestion, AskTitle)",
      "If Answ <> vbYes Then WScript.Quit",
      "End If",
      // A pause between attempts; where the host has no Sleep, a hidden wait.
      "Sub Pause",
      "On Error Resume Next",
      "Err.Clear",
      "WScript.Sleep 200",
      "If Err.Number <> 0 Then WSHShell.Run \"ping.exe -n 2 127.0.0.1\", 0, True",
      "End Sub",
      // The client runs from the folder (it starts with Windows): end it and
      // wait, then retry while the system lets go of its program file.
      "WSHShell.Run \"taskkill.exe /F /IM " + std::string(kClientExe) + "\", 0, True",
      "Programs = WSHShell.RegRead (\"" + kShellFolders + "Common Programs\") & \"\\Nimbrel\"",
      "Desktop = WSHShell.RegRead (\"" + kShellFolders + "Common Desktop\") & \"\\" + kLinkDesktop +
          "\"",
      "For Try = 1 To 50",
      "If Folder <> \"\" And FSO.FolderExists (Folder) Then FSO.DeleteFolder Folder, True",
      "If Folder = \"\" Or Not FSO.FolderExists (Folder) Then Exit For",
      "Pause",
      "Next",
      "If FSO.FolderExists (Programs) Then FSO.DeleteFolder Programs, True",
      "If FSO.FileExists (Desktop) Then FSO.DeleteFile Desktop, True",
      RunReg("delete " + Arg(kRunKeyPath) + " /v " + Arg(kRunValueName) + " /f"),
      RunReg("delete " + Arg(kHkcu + kLayersKey) + " /v " + Arg(exe) + " /f"),
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
      "Created = \"\"",
      "Created = WSHShell.RegRead (" + Quoted(saved + kIeCreatedPrefix) + " & Part)",
      "If Created = \"1\" Then WSHShell.Run \"reg.exe delete \"\"\" & Key & \"\"\" /f\", 0, True",
      "End Sub",
      "Saved = \"\"",
      "Saved = WSHShell.RegRead (" + Quoted(saved + kIeSavedMark) + ")",
      "If Saved = \"1\" Then",
      "RestoreKey " + Quoted(kHkcu + kIeConnectionsKey) + ", \"Connections\"",
      "RestoreKey " + Quoted(kHkcu + kIeSettingsKey) + ", \"Internet Settings\"",
      "End If",
      RunReg("delete " + Arg(kHkcu + kIeSaveKey) + " /f"),
      // The parent goes only when nothing else is left in it; a host without
      // RegDelete removes it when the installer created it.
      "Err.Clear",
      "WSHShell.RegDelete " + Quoted(kHkcu + kOwnKey + "\\"),
      "If Err.Number = 445 And OwnKey = \"1\" Then " +
          RunReg("delete " + Arg(kHkcu + kOwnKey) + " /f"),
      "Function RegExists (Path)",
      "On Error Resume Next",
      "Err.Clear",
      "WSHShell.RegRead Path",
      "RegExists = (Err.Number = 0)",
      "End Function",
      "Stayed = \"\"",
      "If Folder <> \"\" And FSO.FolderExists (Folder) Then Stayed = Stayed & vbcrlf & Folder",
      "If FSO.FolderExists (Programs) Then Stayed = Stayed & vbcrlf & Programs",
      "If FSO.FileExists (Desktop) Then Stayed = Stayed & vbcrlf & Desktop",
      "If RegExists (" + Quoted(kRunValuePath) + ") Then Stayed = Stayed & vbcrlf & " +
          Quoted(kRunValuePath),
      "FSO.DeleteFile WScript.ScriptFullName, True",
      "If Stayed = \"\" Then",
      "Text = Done",
      "Icon = vbInformation",
      "Else",
      "Text = Failed & Stayed",
      "Icon = vbExclamation",
      "End If",
      "If Silent Then",
      "WScript.Echo Text",
      "Else",
      "MsgBox Text, Icon, \"Nimbrel\"",
      "End If",
      "If Stayed <> \"\" Then WScript.Quit 1",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}
