// Installation through the installer window's handlers, in a Wine prefix of
// its own (run_setup_install.sh), whose ANSI code page is 1252 (not Russian).
// The cases run in order on one prefix: a failed folder first, the folder
// picker, a full installation into a Cyrillic folder with spaces, then two
// reinstallations; the runner then uninstalls with the client running.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "frmMain.h"
#include "ie_config.h"
#include "modFS.h"
#include "payload.h"
#include "raii.h"
#include "resource.h"
#include "settings_link.h"
#include "setup_texts.h"
#include "uninstall_script.h"
#include "winstr.h"

namespace {

const std::string kDefaultFolder = "C:\\Program Files\\Nimbrel Client\\";
// Cyrillic letters that code page 1252 cannot hold, and spaces.
const std::string kFolder = "C:\\Program Files\\Сжатие Nimbrel\\";
const std::string kExe = kFolder + "NimbrelClient.exe";
const std::string kShellFolders =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\Common ";
const std::string kRun = kRunValuePath;
const char* const kLayers = kLayersKey;

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
  // The target as the item list holds it: Wine keeps the link's plain path
  // only in the ANSI code page, Windows reads the item list.
  LPITEMIDLIST pidl = nullptr;
  if (SUCCEEDED(link->GetIDList(&pidl)) && pidl) {
    SHGetPathFromIDListW(pidl, path);
    CoTaskMemFree(pidl);
  }
  link->GetWorkingDirectory(dir, MAX_PATH);
  link->GetIconLocation(iconPath, MAX_PATH, &index);
  EXPECT_EQ(Narrow(path), target);
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

// True when the HKCU key holds a value of that name (wide names: the
// Cyrillic ones do not fit the test's code page).
bool HasValueW(const std::string& key, const std::string& name) {
  RegKey k;
  return RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_READ, k.Out()) ==
             ERROR_SUCCESS &&
         RegQueryValueExW(k.Get(), Wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS;
}

// The bytes Windows reads as a Unicode text file.
std::string Utf16File(const std::string& utf8) {
  const std::wstring w = Wide(utf8);
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
}

// Answers the folder picker that owner's ">>" opens, from a thread of its
// own while the picker runs: picks folder, or cancels when it is empty.
// Sets *titled when the picker showed the title in full.
std::thread AnswerPicker(HWND owner, std::string folder, std::atomic<bool>* titled) {
  return std::thread([owner, folder, titled] {
    for (int i = 0; i < 400; ++i) {  // the picker appears within ~20 s
      struct Find {
        HWND owner, dlg;
      } find = {owner, nullptr};
      EnumThreadWindows(
          GetWindowThreadProcessId(owner, nullptr),
          [](HWND h, LPARAM lp) -> BOOL {
            Find* f = reinterpret_cast<Find*>(lp);
            if (h == f->owner || GetWindow(h, GW_OWNER) != f->owner || !IsWindowVisible(h))
              return TRUE;
            f->dlg = h;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&find));
      if (HWND dlg = find.dlg) {
        *titled = FindWindowExW(dlg, nullptr, L"Static", Wide(kBrowseTitle).c_str()) != nullptr;
        if (!folder.empty())
          SendMessageW(dlg, BFFM_SETSELECTIONW, TRUE,
                       reinterpret_cast<LPARAM>(Wide(folder).c_str()));
        PostMessageW(dlg, WM_COMMAND, folder.empty() ? IDCANCEL : IDOK, 0);
        return;
      }
      Sleep(50);
    }
  });
}

}  // namespace

TEST(SetupWindow, MissingDriveShowsMessageAndWritesNothing) {
  EXPECT_EQ(GetACP(), 1252u);  // the texts and paths must not depend on it
  Window win;
  ASSERT_TRUE(win.w);
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), kDefaultFolder);  // the default from %homedrive%
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

TEST(SetupWindow, PickerTitleAndCancelKeepingTheField) {
  Window win;
  wchar_t title[256] = {};
  GetWindowTextW(win.w, title, 256);
  EXPECT_EQ(Narrow(title), kWindowTitle);
  std::atomic<bool> titled{false};
  std::thread picker = AnswerPicker(win.w, "C:\\windows", &titled);
  win.Click(IDC_BUTBROWSEFOLDER);
  picker.join();
  EXPECT_TRUE(titled);
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), "C:\\windows\\Nimbrel Client\\");

  SetDlgItemTextW(win.w, IDC_TXTFOLDERNAME, Wide(kFolder).c_str());  // typed after the pick
  picker = AnswerPicker(win.w, "", &titled);
  win.Click(IDC_BUTBROWSEFOLDER);
  picker.join();
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), kFolder);
}

TEST(SetupWindow, InstallAnsweringYes) {
  // The runner laid down earlier browser settings (ProxyEnable 0 among
  // them), a telephone book with "Home" and "Office" and the compatibility
  // key before it took its listing of the prefix.
  Window win;
  win.Install(kFolder);
  EXPECT_EQ(win.ui.messages, std::vector<std::string>{});
  EXPECT_EQ(win.ui.asked, 1);
  EXPECT_EQ(win.Text(IDC_BUTSETUP), kDoneCaption);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(win.w, IDC_BUTCANCEL)));
  ExpectPayload(kFolder);
  // The started client may already have rewritten its options file.
  EXPECT_TRUE(IsFileExist(kFolder + "NimbrelClient.ini"));

  const std::string programs = RegReadValue(kShellFolders + "Programs") + "\\";
  ExpectLink(programs + kLinkClient, kExe, kFolder, kExe, 0);
  EXPECT_TRUE(ReadTextFile(programs + kLinkSettings) ==
              Utf16File(SettingsShortcut(kDefaultSettingsPort, kExe, 2)));
  ExpectLink(programs + kLinkHelp, kFolder + "NimbrelClientHelp.htm", kFolder, "", 0);
  const std::string script = EnvVar("windir") + "\\NimbrelUninstall.vbs";
  ExpectLink(programs + kLinkUninstall, script, "", kExe, 1);
  ExpectLink(RegReadValue(kShellFolders + "Desktop") + "\\" + kLinkDesktop, kExe, kFolder, kExe, 0);
  EXPECT_TRUE(ReadTextFile(script) == BuildUninstallScript(kFolder));
  EXPECT_EQ(RegReadValue(kRun), "\"" + kExe + "\" -s");
  EXPECT_FALSE(HasValueW(kLayers, kExe));  // no Windows 98 mode for a 64-bit program

  const ConnectionBlob b = MakeConnectionBlob();
  const auto blob = std::make_pair(DWORD(REG_BINARY), std::string(b.begin(), b.end()));
  for (const char* name : {"Home", "Office", "DefaultConnectionSettings", "SavedLegacySettings"})
    EXPECT_EQ(Value(kIeConnectionsKey, name), blob) << name;
  EXPECT_EQ(Value(kIeConnectionsKey, "").first, DWORD(REG_SZ));
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyServer"), kIeProxyServer);
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyOverride"), "<local>");
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyEnable"), "1");
  for (const char* name : {"ProxyHttp1.1", "EnableHttp1_1"})
    EXPECT_EQ(Value(kIeSettingsKey, name), std::make_pair(DWORD(REG_DWORD), std::string(4, '\0')));
  // What it replaced is saved; what it created is listed.
  EXPECT_EQ(Value(kSave + "Saved Internet Settings", "ProxyServer").second,
            std::string("old:8080", 9));
  EXPECT_EQ(Value(kSave + "Saved Internet Settings", "ProxyEnable").second, std::string(4, '\0'));
  static const char kAdded[] =
      ":\0:Home\0:Office\0:DefaultConnectionSettings\0:SavedLegacySettings\0";
  EXPECT_EQ(Value(kIeSaveKey, "Added Connections").second, std::string(kAdded, sizeof kAdded));
  EXPECT_EQ(RegReadValue("HKCU\\" + kSave + kIeCreatedPrefix + "Connections"), "1");
  EXPECT_EQ(RegReadValue("HKCU\\" + kSave + kIeSavedMark), "1");

  win.Click(IDC_BUTSETUP);  // "OK" ends the installer without installing again
  EXPECT_EQ(win.ui.ended, 1);
  EXPECT_EQ(win.ui.asked, 1);
}

TEST(SetupWindow, ReinstallAnsweringNoKeepsOptionsAndBrowser) {
  // The client of the first run has read and normalised its options once it listens.
  ASSERT_TRUE(ClientListens());
  ASSERT_TRUE(WriteTextFile(kFolder + "NimbrelClient.ini", "Login:42\r\nSettingsPort:3355\r\n"));
  ASSERT_TRUE(WriteTextFile(kFolder + "change.log", std::string(200000, 'x')));
  SetValue(kIeSettingsKey, "ProxyServer", REG_SZ, std::string("user:1", 7));
  // The settings item of an earlier version was a .lnk; it goes.
  const std::string programs = RegReadValue(kShellFolders + "Programs") + "\\";
  ASSERT_TRUE(WriteTextFile(programs + kLinkSettingsOld, "old"));

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
  // The settings item opens the port of the kept options.
  EXPECT_TRUE(ReadTextFile(programs + kLinkSettings) == Utf16File(SettingsShortcut(3355, kExe, 2)));
  EXPECT_FALSE(IsFileExist(programs + kLinkSettingsOld));
}

TEST(SetupWindow, FailedStepsAreNamedAtTheEnd) {
  ASSERT_TRUE(ClientListens());
  // A folder where a payload file must go.
  ASSERT_TRUE(RemoveFile(kFolder + "change.log") && MakeFolder(kFolder + "change.log"));
  Window win;  // answered Yes: the browser goes through the client again
  std::string slashed = kFolder.substr(0, kFolder.size() - 1);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  win.Install(slashed);
  EXPECT_EQ(win.Text(IDC_TXTFOLDERNAME), kFolder);
  ASSERT_EQ(win.ui.messages.size(), 1u);
  EXPECT_EQ(win.ui.messages[0],
            std::string(kStepsFailed) + "\r\n" + kFailedFile + kFolder + "change.log");
  EXPECT_EQ(win.Text(IDC_BUTSETUP), kDoneCaption);
  EXPECT_EQ(RegReadValue("HKCU\\" + kIeSettingsKey + "\\ProxyServer"), kIeProxyServer);
  // Still the values from before the first installation.
  EXPECT_EQ(Value(kSave + "Saved Internet Settings", "ProxyServer").second,
            std::string("old:8080", 9));
}

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
