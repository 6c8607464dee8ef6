// Installation through the installer window's handlers, in a Wine prefix of
// its own (run_setup_install.sh). The cases run in order on one prefix: a
// failed folder first, then a full installation, then a reinstallation.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "frmMain.h"
#include "ie_config.h"
#include "modFS.h"
#include "payload.h"
#include "raii.h"
#include "resource.h"
#include "setup_texts.h"
#include "uninstall_script.h"
#include "winstr.h"

namespace {

const std::string kFolder = "C:\\Program Files\\Nimbrel Client\\";
const std::string kExe = kFolder + "NimbrelClient.exe";
const std::string kShellFolders =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\Common ";
const std::string kRun = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Nimbrel Client";
const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

class ScriptedUi : public SetupUi {
 public:
  bool answer = true;
  int asked = 0, ended = 0;
  std::vector<std::string> messages;
  void Message(HWND, const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(HWND, const std::string& text) override {
    EXPECT_EQ(text, kAskConfigureIE);
    ++asked;
    return answer;
  }
  void EndProgram(HWND) override { ++ended; }
};

// The window with the scripted answers; destroyed at scope end.
struct Window {
  ScriptedUi ui;
  HWND w = CreateFrmMain(GetModuleHandleW(nullptr), &ui);
  ~Window() { DestroyWindow(w); }
  std::string Text(int id) const {
    wchar_t buf[1024] = {};
    GetDlgItemTextW(w, id, buf, 1024);
    return Narrow(buf);
  }
  void Click(int id) { SendMessageW(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void Install(const std::string& folder) {
    SetDlgItemTextW(w, IDC_TXTFOLDERNAME, Wide(folder).c_str());
    Click(IDC_BUTSETUP);
  }
};

// Bytes of the file a resource was made from (paths given by the runner).
std::string Source(const std::string& resName) {
  if (resName == "nbclient") return ReadTextFile(std::getenv("NB_CLIENT_EXE"));
  for (const PayloadItem& item : kPayload) {
    if (resName != item.resName) continue;
    std::string file = item.fileName;
    return ReadTextFile(std::getenv("NB_SHARE") + file.substr(file.rfind('\\') + 1));
  }
  return {};
}

// Type and bytes of an HKCU value; type 0 when it is missing.
std::pair<DWORD, std::string> Value(const std::string& key, const std::string& name) {
  RegKey k;
  DWORD type = 0, size = 0;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS ||
      RegQueryValueExA(k.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return {0, ""};
  std::string data(size, '\0');
  RegQueryValueExA(k.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
  return {type, data};
}

void SetValue(const std::string& key, const std::string& name, DWORD type,
              const std::string& data) {
  RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            k.Out(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size()));
}

// A saved shortcut, read back through the shell's link object.
void ExpectLink(const std::string& file, const std::string& target, const std::string& workDir,
                const std::string& icon, int iconIndex) {
  SCOPED_TRACE(file);
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> pf;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkW, link.OutVoid())) &&
              SUCCEEDED(link->QueryInterface(IID_IPersistFile, pf.OutVoid())) &&
              SUCCEEDED(pf->Load(Wide(file).c_str(), STGM_READ)));
  wchar_t path[MAX_PATH] = {}, dir[MAX_PATH] = {}, iconPath[MAX_PATH] = {};
  int index = -1, showCmd = 0;
  link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
  link->GetWorkingDirectory(dir, MAX_PATH);
  link->GetIconLocation(iconPath, MAX_PATH, &index);
  // Wine's shell cannot parse a URL into a link target (it makes a relative
  // file path of it), so a URL target is checked only on Windows.
  if (target.find("://") == std::string::npos) {
    EXPECT_EQ(Narrow(path), target);
  }
  EXPECT_EQ(Narrow(dir), workDir);
  EXPECT_EQ(Narrow(iconPath), icon);
  if (!icon.empty()) {
    EXPECT_EQ(index, iconIndex);
  }
  // The window style as saved: the link header's show command at offset 60.
  const std::string bytes = ReadTextFile(file);
  if (bytes.size() >= 64) std::memcpy(&showCmd, bytes.data() + 60, 4);
  EXPECT_EQ(showCmd, 4);
}

void ExpectPayload(const std::string& folder) {
  for (const PayloadItem& item : kPayload) {
    if (KeepsExistingFile(item.resName)) continue;
    const std::string source = Source(item.resName);
    ASSERT_FALSE(source.empty()) << item.resName;
    EXPECT_TRUE(ReadTextFile(folder + item.fileName) == source) << item.fileName;
  }
}

const std::string kSave = kIeSaveKey + "\\";

// True once something accepts connections on 127.0.0.1:4321 (within ~20 s).
bool ClientListens() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  bool up = false;
  for (int i = 0; i < 80 && !up; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(4321);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    closesocket(s);
    if (!up) Sleep(250);
  }
  WSACleanup();
  return up;
}

// Last write time of a file, 0 when it cannot be read.
ULONGLONG WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a = {};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &a)) return 0;
  return (ULONGLONG(a.ftLastWriteTime.dwHighDateTime) << 32) | a.ftLastWriteTime.dwLowDateTime;
}

}  // namespace

TEST(SetupWindow, MissingDriveShowsMessageAndWritesNothing) {
  Window win;
  ASSERT_TRUE(win.w);
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), kFolder);  // the default from %homedrive%
  win.Install("Q:\\Nimbrel");
  win.Install("");
  EXPECT_EQ(win.ui.messages,
            (std::vector<std::string>{kCannotCreateFolder + std::string("Q:\\Nimbrel\\"),
                                      kCannotCreateFolder}));
  EXPECT_EQ(win.ui.asked, 0);
  EXPECT_EQ(win.Text(IDC_BUTSETUP), kInstallCaption);
  EXPECT_EQ(RegReadValue(kRun), "");
  EXPECT_FALSE(IsFileExist(EnvVar("windir") + "\\NimbrelUninstall.vbs"));
  EXPECT_FALSE(IsFolderExist(RegReadValue(kShellFolders + "Programs") + "\\Nimbrel"));
  EXPECT_EQ(Value(kIeSaveKey, kIeSavedMark).first, 0u);
}

TEST(SetupWindow, InstallAnsweringYes) {
  // Earlier browser settings, a telephone book and the compatibility key.
  SetValue(kIeSettingsKey, "ProxyServer", REG_SZ, std::string("old:8080", 9));
  SetValue(kIeConnectionsKey, "DefaultConnectionSettings", REG_BINARY, "OLD");
  SetValue(kLayers, "Other.exe", REG_SZ, std::string("WIN95", 6));
  const std::string pbk = EnvVar("ALLUSERSPROFILE") + kPhoneBookPath;
  std::string dir;
  for (const char* part :
       {"\\Application Data", "\\Microsoft", "\\Network", "\\Connections", "\\Pbk"})
    MakeFolder(dir = (dir.empty() ? EnvVar("ALLUSERSPROFILE") : dir) + part);
  ASSERT_TRUE(WriteTextFile(pbk, "[Home]\r\nPhone=1\r\n\r\n[Office]\r\nPhone=2\r\n"));

  Window win;
  win.Install(kFolder);
  EXPECT_EQ(win.ui.messages, std::vector<std::string>{});
  EXPECT_EQ(win.ui.asked, 1);
  EXPECT_EQ(win.Text(IDC_BUTSETUP), kDoneCaption);
  ExpectPayload(kFolder);
  // The started client may already have rewritten its options file.
  EXPECT_TRUE(IsFileExist(kFolder + "NimbrelClient.ini"));

  const std::string programs = RegReadValue(kShellFolders + "Programs") + "\\";
  ExpectLink(programs + kLinkClient, kExe, kFolder, kExe, 0);
  ExpectLink(programs + kLinkSettings, "http://localhost:3344", kFolder, kExe, 2);
  ExpectLink(programs + kLinkHelp, kFolder + "NimbrelClientHelp.htm", kFolder, "", 0);
  const std::string script = EnvVar("windir") + "\\NimbrelUninstall.vbs";
  ExpectLink(programs + kLinkUninstall, script, "", kExe, 1);
  ExpectLink(RegReadValue(kShellFolders + "Desktop") + "\\" + kLinkDesktop, kExe, kFolder, kExe, 0);
  EXPECT_TRUE(ReadTextFile(script) == BuildUninstallScript(kFolder));
  EXPECT_EQ(RegReadValue(kRun), "\"" + kExe + "\" -s");
  EXPECT_EQ(Value(kLayers, kExe).first, DWORD(REG_SZ));
  EXPECT_STREQ(Value(kLayers, kExe).second.c_str(), "WIN98");

  const ConnectionBlob b = MakeConnectionBlob();
  const auto blob = std::make_pair(DWORD(REG_BINARY), std::string(b.begin(), b.end()));
  for (const char* name : {"Home", "Office", "DefaultConnectionSettings", "SavedLegacySettings"})
    EXPECT_EQ(Value(kIeConnectionsKey, name), blob) << name;
  EXPECT_EQ(Value(kIeConnectionsKey, "").first, DWORD(REG_SZ));
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyServer"), kIeProxyServer);
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyOverride"), "<local>");
  for (const char* name : {"ProxyHttp1.1", "EnableHttp1_1"})
    EXPECT_EQ(Value(kIeSettingsKey, name), std::make_pair(DWORD(REG_DWORD), std::string(4, '\0')));
  // What it replaced is saved; what it created is listed.
  EXPECT_EQ(Value(kSave + "Saved Internet Settings", "ProxyServer").second,
            std::string("old:8080", 9));
  EXPECT_EQ(Value(kSave + "Saved Connections", "DefaultConnectionSettings").second, "OLD");
  EXPECT_EQ(Value(kIeSaveKey, "Added Connections").second,
            std::string(":\0:Home\0:Office\0:SavedLegacySettings\0\0", 38));
  EXPECT_EQ(RegReadValue("HKCU\\" + kSave + kIeSavedMark), "1");

  win.Click(IDC_BUTSETUP);  // "OK" ends the installer without installing again
  EXPECT_EQ(win.ui.ended, 1);
  EXPECT_EQ(win.ui.asked, 1);
}

TEST(SetupWindow, ReinstallAnsweringNoKeepsOptionsAndBrowser) {
  // The client of the first run has read and normalised its options once it listens.
  ASSERT_TRUE(ClientListens());
  ASSERT_TRUE(WriteTextFile(kFolder + "NimbrelClient.ini", "Login:42\r\n"));
  ASSERT_TRUE(WriteTextFile(kFolder + "change.log", std::string(200000, 'x')));
  SetValue(kIeSettingsKey, "ProxyServer", REG_SZ, std::string("user:1", 7));

  const ULONGLONG before = WriteTime(kExe);
  Window win;  // the client of the first run is still running from kFolder
  win.ui.answer = false;
  win.Install(kFolder);
  EXPECT_EQ(win.ui.messages, std::vector<std::string>{});
  EXPECT_GT(WriteTime(kExe), before);  // the running program was replaced, not kept
  EXPECT_EQ(win.ui.asked, 1);
  ExpectPayload(kFolder);
  // Kept (the restarted client may have completed it with defaults).
  EXPECT_EQ(ReadTextFile(kFolder + "NimbrelClient.ini").rfind("Login:42\r\n", 0), 0u);
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyServer"), "user:1");
  EXPECT_EQ(Value(kSave + "Saved Internet Settings", "ProxyServer").second,
            std::string("old:8080", 9));
}

TEST(SetupWindow, FailedStepsAreNamedAtTheEnd) {
  const std::string folder = "C:\\Nimbrel Blocked\\";
  MakeFolder(folder);
  MakeFolder(folder + "change.log");  // a folder where a payload file must go
  Window win;
  win.ui.answer = false;
  win.Install("C:/Nimbrel Blocked");
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), folder);
  ASSERT_EQ(win.ui.messages.size(), 1u);
  EXPECT_EQ(win.ui.messages[0],
            std::string(kStepsFailed) + "\r\n" + kFailedFile + folder + "change.log");
  EXPECT_EQ(win.Text(IDC_BUTSETUP), kDoneCaption);
  EXPECT_TRUE(IsFileExist(folder + "NimbrelClient.ini"));
}

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
