#include "frmMain.h"

#include <shellapi.h>

#include <memory>
#include <vector>

#include "AutoSettingsIE.h"
#include "FolderModule.h"
#include "SaveFile.h"
#include "install_folder.h"
#include "modFS.h"
#include "payload.h"
#include "raii.h"
#include "resource.h"
#include "settings_link.h"
#include "setup_texts.h"
#include "uninstall_script.h"
#include "winstr.h"

namespace {

// taskkill gets this long to end the running client before its files are
// written; a locked payload file is retried for up to kSaveRetries * kSaveRetryMs.
constexpr DWORD kTaskkillWaitMs = 10000;
constexpr int kSaveRetries = 20;
constexpr DWORD kSaveRetryMs = 100;

constexpr char kShellFolders[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

// Window state, owned by the window (freed on WM_NCDESTROY).
struct FrmMain {
  SetupUi* ui = nullptr;
  bool installed = false;
  HFONT headingFont = nullptr;
  HFONT linkFont = nullptr;
  HBITMAP image = nullptr;
  ~FrmMain() {
    if (headingFont) DeleteObject(headingFont);
    if (linkFont) DeleteObject(linkFont);
    if (image) DeleteObject(image);
  }
};

void SetText(HWND w, int id, const std::string& text) {
  SetDlgItemTextW(w, id, Wide(text).c_str());
}

std::string GetText(HWND w, int id) {
  HWND item = GetDlgItem(w, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(item, &text[0], static_cast<int>(text.size()))));
  return Narrow(text);
}

// Step 1: ends a running client and waits (bounded) until taskkill is done,
// so that the client's program file is free when it is written.
void StopRunningClient() {
  wchar_t cmd[] = L"taskkill.exe /F /IM NimbrelClient.exe";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWMINNOACTIVE;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  FileHandle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(process.Get(), kTaskkillWaitMs);
}

// Step 7: the payload; an existing options file is kept.
void WritePayload(const std::string& folder, std::vector<std::string>* failed) {
  for (const PayloadItem& item : kPayload) {
    const std::string path = folder + item.fileName;
    if (KeepsExistingFile(item.resName) && IsFileExist(path)) continue;
    bool ok = SaveFile(item.resName, path);
    // A program that has just been ended may hold its file for a moment.
    for (int i = 0; !ok && IsFileExist(path) && i < kSaveRetries; ++i) {
      Sleep(kSaveRetryMs);
      ok = SaveFile(item.resName, path);
    }
    if (!ok) failed->push_back(kFailedFile + path);
  }
}

// The settings item: an Internet shortcut to the port of the options file
// (kept from an earlier installation or just written).
bool MakeSettingsShortcut(const std::string& folder, const std::string& programs) {
  RemoveFile(programs + "\\" + kLinkSettingsOld);
  const int port = SettingsPortFromOptions(ReadTextFile(folder + "NimbrelClient.ini"));
  return WriteUnicodeTextFile(programs + "\\" + kLinkSettings,
                              SettingsShortcut(port, folder + kClientExe, 2));
}

// Steps 8 and 9: the Start-menu folder and its four shortcuts.
void MakeShortcuts(const std::string& folder, std::vector<std::string>* failed) {
  const std::string exe = folder + kClientExe;
  std::string programs = RegReadValue(std::string(kShellFolders) + "Common Programs");
  if (programs.empty() || !MakeFolder(programs + "\\Nimbrel\\"))
    failed->push_back(kFailedFolder + programs + "\\Nimbrel");
  struct Link {
    const char* name;
    std::string target, workDir, icon;
  };
  const Link links[] = {
      {kLinkClient, exe, folder, exe + ", 0"},
      {kLinkHelp, folder + "NimbrelClientHelp.htm", folder, ""},
      {kLinkUninstall, EnvVar("windir") + "\\NimbrelUninstall.vbs", "", exe + ", 1"},
  };
  for (const Link& l : links) {
    if (!MakeShortcut(l.name, l.target, l.workDir, "Programs", l.icon))
      failed->push_back(kFailedShortcut + std::string(l.name));
    if (l.name == kLinkClient && !MakeSettingsShortcut(folder, programs))
      failed->push_back(kFailedShortcut + std::string(kLinkSettings));
  }
}

// Step 10: the uninstall script and, in Unicode, the texts and folder it
// uses; notes whether the installer's own key is new (the script then
// removes it).
bool WriteUninstallScript(const std::string& script, const std::string& folder) {
  RegKey existing;
  const bool ownKeyIsNew = RegOpenKeyExW(HKEY_CURRENT_USER, Wide(kOwnKey).c_str(), 0, KEY_READ,
                                         existing.Out()) == ERROR_FILE_NOT_FOUND;
  const std::string values = "HKCU\\" + std::string(kUninstallKey) + "\\";
  bool ok = true;
  for (const UninstallText& t : UninstallTexts(folder))
    ok = RegWriteValue(values + t.name, t.text) && ok;
  if (ownKeyIsNew) ok = RegWriteValue(values + kUninstallOwnKeyMark, "1") && ok;
  return WriteTextFile(script, BuildUninstallScript(folder)) && ok;
}

// Step 13: Windows 98 compatibility mode, only where the key already exists,
// and never for a 64-bit program (no such mode applies to one).
void SetCompatibilityMode(const std::string& folder, std::vector<std::string>* failed) {
  if (sizeof(void*) == 8) return;
  RegKey key;
  if (RegOpenKeyW(HKEY_CURRENT_USER, Wide(kLayersKey).c_str(), key.Out()) != ERROR_SUCCESS) return;
  const std::wstring name = Wide(folder + kClientExe);
  static const wchar_t kWin98[] = L"WIN98";  // stored without a terminating zero
  if (RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kWin98),
                     5 * sizeof(wchar_t)) != ERROR_SUCCESS)
    failed->push_back(kFailedCompat);
}

// The install sequence. Only a folder that cannot be created stops it; every
// other failure is collected and named in one message at the end.
void Install(HWND w, FrmMain* st) {
  StopRunningClient();
  const std::string folder = NormaliseFolder(GetText(w, IDC_TXTFOLDERNAME));
  SetText(w, IDC_TXTFOLDERNAME, folder);
  for (const std::string& level : FolderChain(folder)) MakeFolder(level);
  if (!IsFolderExist(folder)) {
    st->ui->Message(w, kCannotCreateFolder + folder);
    return;
  }

  std::vector<std::string> failed;
  if (!MakeFolder(folder + "share")) failed.push_back(kFailedFolder + folder + "share");
  WritePayload(folder, &failed);
  MakeShortcuts(folder, &failed);
  const std::string script = EnvVar("windir") + "\\NimbrelUninstall.vbs";
  if (!WriteUninstallScript(script, folder)) failed.push_back(kFailedScript + script);
  const std::string exe = folder + kClientExe;
  if (!MakeShortcut(kLinkDesktop, exe, folder, "Desktop", exe + ", 0"))
    failed.push_back(kFailedShortcut + std::string(kLinkDesktop));
  if (st->ui->AskYesNo(w, kAskConfigureIE)) {
    std::vector<std::string> ieFailed;
    AutoSettingsIE(&ieFailed);
    for (const std::string& name : ieFailed) failed.push_back(kFailedIE + name);
  }
  SetCompatibilityMode(folder, &failed);
  SetText(w, IDC_BUTSETUP, kDoneCaption);
  ShowWindow(GetDlgItem(w, IDC_BUTCANCEL), SW_HIDE);  // nothing is left to cancel
  st->installed = true;
  // Quoted: unquoted, a folder with spaces makes Windows try "C:\Program.exe" first.
  if (!RegWriteValue(kRunValuePath, "\"" + exe + "\" -s")) failed.push_back(kFailedAutostart);
  HINSTANCE started =
      ShellExecuteW(nullptr, L"open", Wide(exe).c_str(), L"", Wide(folder).c_str(), SW_SHOW);
  if (reinterpret_cast<INT_PTR>(started) <= 32) failed.push_back(kFailedStart);

  if (!failed.empty()) {
    std::string text = kStepsFailed;
    for (const std::string& f : failed) text += "\r\n" + f;
    st->ui->Message(w, text);
  }
}

void OnBrowseFolder(HWND w) {
  std::string picked = BrowseFolder(w, kBrowseTitle);
  SetText(w, IDC_TXTFOLDERNAME,
          FolderAfterPick(GetText(w, IDC_TXTFOLDERNAME), picked,
                          !picked.empty() && IsFolderExist(picked)));
}

void OnInit(HWND w, FrmMain* st) {
  SetWindowLongPtrW(w, DWLP_USER, reinterpret_cast<LONG_PTR>(st));
  SetWindowTextW(w, Wide(kWindowTitle).c_str());
  SetText(w, IDC_LABEL1, kHeading);
  SetText(w, IDC_FRAME1, kDescriptionFrame);
  SetText(w, IDC_LABEL4, kDescription);
  SetText(w, IDC_FOLDERLABEL, kFolderLabel);
  SetText(w, IDC_BUTBROWSEFOLDER, kBrowseCaption);
  SetText(w, IDC_BUTSETUP, kInstallCaption);
  SetText(w, IDC_BUTCANCEL, kCancelCaption);
  SetText(w, IDC_LABEL2, kSiteUrl);
  std::string license;
  if (LoadCustomResource("license", &license))
    SetText(w, IDC_TXTLICENSE, FromCodePage(license, 1251));  // the payload is Windows-1251
  SetText(w, IDC_TXTFOLDERNAME, DefaultFolder(EnvVar("homedrive")));

  HDC dc = GetDC(w);
  int height = -MulDiv(13, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(w, dc);
  st->headingFont = CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, RUSSIAN_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, L"Arial");
  if (st->headingFont)
    SendDlgItemMessageW(w, IDC_LABEL1, WM_SETFONT, reinterpret_cast<WPARAM>(st->headingFont), 0);
  LOGFONTW lf = {};
  HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
  if (dialogFont && GetObjectW(dialogFont, sizeof lf, &lf)) {
    lf.lfUnderline = TRUE;
    st->linkFont = CreateFontIndirectW(&lf);
    if (st->linkFont)
      SendDlgItemMessageW(w, IDC_LABEL2, WM_SETFONT, reinterpret_cast<WPARAM>(st->linkFont), 0);
  }
  st->image =
      static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_IMAGE1),
                                      IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  if (st->image)
    SendDlgItemMessageW(w, IDC_IMAGE1, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(st->image));
}

INT_PTR CALLBACK DialogProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    OnInit(w, reinterpret_cast<FrmMain*>(lp));
    // Focus on Install, so the licence is shown from its top, not selected.
    SetFocus(GetDlgItem(w, IDC_BUTSETUP));
    return FALSE;
  }
  FrmMain* st = reinterpret_cast<FrmMain*>(GetWindowLongPtrW(w, DWLP_USER));
  if (!st) return FALSE;
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_BUTBROWSEFOLDER:
          OnBrowseFolder(w);
          return TRUE;
        case IDC_BUTSETUP:
          if (st->installed)
            st->ui->EndProgram(w);
          else
            Install(w, st);
          return TRUE;
        case IDC_BUTCANCEL:
        case IDCANCEL:
          st->ui->EndProgram(w);
          return TRUE;
        case IDC_LABEL2:
          if (HIWORD(wp) == STN_CLICKED)
            ShellExecuteW(w, L"open", Wide(kSiteUrl).c_str(), L"", L"", SW_SHOW);
          return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lp) == GetDlgItem(w, IDC_LABEL2)) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, RGB(0, 0, 0xCC));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      }
      return FALSE;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == GetDlgItem(w, IDC_LABEL2)) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // the hand
        SetWindowLongPtrW(w, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      st->ui->EndProgram(w);
      return TRUE;
    case WM_NCDESTROY:
      SetWindowLongPtrW(w, DWLP_USER, 0);
      delete st;
      return FALSE;
  }
  return FALSE;
}

}  // namespace

HWND CreateFrmMain(HINSTANCE instance, SetupUi* ui) {
  auto st = std::make_unique<FrmMain>();
  st->ui = ui;
  HWND w = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_FRMMAIN), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(st.get()));
  if (w) st.release();  // owned by the window from now on
  return w;
}
