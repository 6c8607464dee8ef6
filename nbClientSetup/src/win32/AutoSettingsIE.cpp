#include "AutoSettingsIE.h"

#include <windows.h>

#include <algorithm>

#include "ie_config.h"
#include "modFS.h"
#include "raii.h"
#include "winstr.h"

namespace {

std::vector<std::string> ReadMultiSz(HKEY key, const std::string& name) {
  const std::wstring wname = Wide(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return {};
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size) != ERROR_SUCCESS)
    return {};
  data.resize(size / sizeof(wchar_t));
  std::vector<std::string> items;
  for (std::size_t at = 0; at < data.size() && data[at];) {
    std::size_t end = data.find(L'\0', at);
    if (end == std::wstring::npos) end = data.size();
    items.push_back(Narrow(data.substr(at, end - at)));
    at = end + 1;
  }
  return items;
}

bool WriteMultiSz(HKEY key, const std::string& name, const std::vector<std::string>& items) {
  std::wstring data;
  for (const std::string& s : items) data += Wide(s) + L'\0';
  data += L'\0';
  return RegSetValueExW(key, Wide(name).c_str(), 0, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool HasValue(HKEY key, const std::string& name) {
  return key && RegQueryValueExW(key, Wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS;
}

// Copies value name of from into to, type and bytes as they are; false when
// it cannot be read or written.
bool CopyValue(HKEY from, HKEY to, const std::string& name) {
  const std::wstring wname = Wide(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(from, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::string data(size, '\0');
  if (RegQueryValueExW(from, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(to, wname.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        size) == ERROR_SUCCESS;
}

// Records, for one target key, the values of ours not recorded yet: a copy
// when the value exists, its name in the "Added" list when it does not.
bool SavePart(HKEY saveKey, const std::string& part, const std::string& targetPath,
              const std::vector<IeValue>& values, bool connections) {
  RegKey saved, target;
  if (RegCreateKeyExW(saveKey, Wide(kIeSavedPrefix + part).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, saved.Out(), nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(targetPath).c_str(), 0, KEY_READ, target.Out()) ==
      ERROR_FILE_NOT_FOUND) {
    // The key is ours: the uninstall script removes it as a whole.
    static const wchar_t kOne[] = L"1";
    ok = RegSetValueExW(saveKey, Wide(kIeCreatedPrefix + part).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(kOne), sizeof kOne) == ERROR_SUCCESS;
  }
  std::vector<std::string> added = ReadMultiSz(saveKey, kIeAddedPrefix + part);
  for (const IeValue& v : values) {
    if (v.connections != connections) continue;
    const std::string mark = kIeAddedMark + v.name;
    if (HasValue(saved.Get(), v.name) || std::count(added.begin(), added.end(), mark)) continue;
    if (HasValue(target.Get(), v.name))
      ok = CopyValue(target.Get(), saved.Get(), v.name) && ok;
    else
      added.push_back(mark);
  }
  return WriteMultiSz(saveKey, kIeAddedPrefix + part, added) && ok;
}

bool SaveReplacedValues(const std::vector<IeValue>& values) {
  RegKey saveKey;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(kIeSaveKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, saveKey.Out(), nullptr) != ERROR_SUCCESS)
    return false;
  if (!SavePart(saveKey.Get(), "Connections", kIeConnectionsKey, values, true) ||
      !SavePart(saveKey.Get(), "Internet Settings", kIeSettingsKey, values, false))
    return false;
  static const wchar_t kOne[] = L"1";
  return RegSetValueExW(saveKey.Get(), Wide(kIeSavedMark).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(kOne), sizeof kOne) == ERROR_SUCCESS;
}

// Strings go through the path writer (it creates the key); the rest into
// the key as it exists, opened and closed for each value.
bool WriteValue(const IeValue& v) {
  const std::string& key = v.connections ? kIeConnectionsKey : kIeSettingsKey;
  if (v.type == RegType::Sz) return RegWriteValue("HKCU\\" + key + "\\" + v.name, v.data);
  RegKey k;
  if (RegOpenKeyW(HKEY_CURRENT_USER, Wide(key).c_str(), k.Out()) != ERROR_SUCCESS) return false;
  return RegSetValueExW(k.Get(), Wide(v.name).c_str(), 0, static_cast<DWORD>(v.type),
                        reinterpret_cast<const BYTE*>(v.data.data()),
                        static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS;
}

}  // namespace

void AutoSettingsIE(std::vector<std::string>* failed) {
  // The telephone book is a text file in the system's code page.
  std::string book = FromCodePage(ReadTextFile(EnvVar("ALLUSERSPROFILE") + kPhoneBookPath), CP_ACP);
  std::vector<IeValue> values = IeValues(PhoneBookConnections(book));
  if (!SaveReplacedValues(values)) {
    failed->push_back("HKCU\\" + kIeSaveKey);
    return;
  }
  for (const IeValue& v : values)
    if (!WriteValue(v)) failed->push_back(v.name.empty() ? "Connections" : v.name);
}
