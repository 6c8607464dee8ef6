#include "modFS.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "raii.h"
#include "reg_path.h"
#include "winstr.h"

namespace {

HKEY RootKey(const std::string& root) {
  if (root == "HKCU" || root == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  if (root == "HKU" || root == "HKEY_USERS") return HKEY_USERS;
  return nullptr;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

// "C:\x\NimbrelClient.exe, 2" -> path and index; no index: 0.
void SplitIconLocation(const std::wstring& loc, std::wstring* path, int* index) {
  *path = loc;
  *index = 0;
  std::size_t comma = loc.rfind(L',');
  if (comma == std::wstring::npos) return;
  std::wstring num = loc.substr(comma + 1);
  wchar_t* end = nullptr;
  long v = std::wcstol(num.c_str(), &end, 10);
  while (end && *end == L' ') ++end;
  if (end == num.c_str() || (end && *end)) return;  // not a number: all of it is the path
  *index = static_cast<int>(v);
  path->erase(comma);
  while (!path->empty() && path->back() == L' ') path->pop_back();
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  FileHandle f(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.Valid()) return {};
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f.Get(), buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  return text;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  FileHandle f(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.Valid()) return false;
  DWORD put = 0;
  return text.empty() ||
         (WriteFile(f.Get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
          put == text.size());
}

bool WriteUnicodeTextFile(const std::string& path, const std::string& text) {
  const std::wstring wide = Wide(text);
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  return WriteTextFile(path, bytes);
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) || !IsFileExist(path);
}

bool IsFileExist(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolderExist(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr) || IsFolderExist(path);
}

std::string RegReadValue(const std::string& path) {
  RegPath p;
  if (!SplitRegPath(path, &p) || !RootKey(p.root)) return {};
  RegKey key;
  if (RegOpenKeyExW(RootKey(p.root), Wide(p.key).c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
    return {};
  std::wstring name = Wide(p.name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return {};
  std::vector<BYTE> data(size + sizeof(wchar_t));
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS)
    return {};
  if (type == REG_DWORD && size == 4) {
    DWORD v = 0;
    memcpy(&v, data.data(), 4);
    return std::to_string(v);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
  std::wstring w(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
  w.resize(wcsnlen(w.c_str(), w.size()));
  return Narrow(w);
}

bool RegWriteValue(const std::string& path, const std::string& text) {
  RegPath p;
  if (!SplitRegPath(path, &p) || !RootKey(p.root)) return false;
  RegKey key;
  if (RegCreateKeyExW(RootKey(p.root), Wide(p.key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      key.Out(), nullptr) != ERROR_SUCCESS)
    return false;
  std::wstring data = Wide(text);
  return RegSetValueExW(key.Get(), Wide(p.name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool MakeShortcut(const std::string& name, const std::string& target, const std::string& workDir,
                  const std::string& specialFolder, const std::string& iconLocation) {
  std::string folder = RegReadValue(
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\Common " +
      specialFolder);
  if (folder.empty()) return false;
  ComRef<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.OutVoid())))
    return false;
  if (FAILED(link->SetPath(ExpandEnv(Wide(target)).c_str())) ||
      FAILED(link->SetWorkingDirectory(ExpandEnv(Wide(workDir)).c_str())) ||
      FAILED(link->SetShowCmd(4)))
    return false;
  if (!iconLocation.empty()) {
    std::wstring iconPath;
    int index = 0;
    SplitIconLocation(ExpandEnv(Wide(iconLocation)), &iconPath, &index);
    if (FAILED(link->SetIconLocation(iconPath.c_str(), index))) return false;
  }
  ComRef<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.OutVoid()))) return false;
  return SUCCEEDED(file->Save(Wide(folder + "\\" + name).c_str(), TRUE));
}
