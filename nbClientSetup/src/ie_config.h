// What the browser configuration writes: Internet Explorer's per-user proxy
// values, the 100-byte connection blob and the dial-up connections of the
// telephone book; and where the installer keeps the values it replaces, so
// that the uninstall script can put them back.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Keys under HKEY_CURRENT_USER.
inline const std::string kIeSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline const std::string kIeConnectionsKey = kIeSettingsKey + "\\Connections";

// The installer's own key. Before the first change it holds, per target key
// ("Connections", "Internet Settings"): a subkey kIeSavedPrefix + part with a
// copy of every value it replaced, a REG_MULTI_SZ value kIeAddedPrefix + part
// naming the values it created, each as kIeAddedMark + name (so the default
// value's empty name fits the list); a REG_SZ kIeCreatedPrefix + part = "1"
// when the target key itself did not exist; and kIeSavedMark = "1" once
// complete.
inline const std::string kIeSaveKey = "Software\\Nimbrel\\Setup";
inline const std::string kIeSavedPrefix = "Saved ";
inline const std::string kIeAddedPrefix = "Added ";
inline const std::string kIeCreatedPrefix = "Created ";
inline const std::string kIeSavedMark = "Saved";
inline constexpr char kIeAddedMark = ':';

inline constexpr char kIeProxyServer[] = "http=localhost:4321";
inline constexpr std::size_t kBlobSize = 100;
using ConnectionBlob = std::array<std::uint8_t, kBlobSize>;

// The connection-settings blob: proxy localhost:4321 for HTTP, bypass list
// "localhost;127;192.168;<local>", counter 10, flags 3.
ConnectionBlob MakeConnectionBlob();

// Telephone-book path below %ALLUSERSPROFILE%.
inline constexpr char kPhoneBookPath[] =
    "\\Application Data\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

// Connection names of a telephone book: every CR LF separated line that
// begins with "[" and ends with "]", without the brackets, untrimmed, in
// order ("[]" gives the empty name).
std::vector<std::string> PhoneBookConnections(const std::string& text);

// Registry value types, numbered as the registry numbers them.
enum class RegType : std::uint32_t { Sz = 1, Binary = 3, Dword = 4 };

struct IeValue {
  bool connections;  // true: kIeConnectionsKey, false: kIeSettingsKey
  std::string name;  // empty: the key's default value
  RegType type;
  std::string data;  // raw bytes; a REG_SZ without its terminating zero
};

// Every value the configuration writes, in writing order, for the given
// dial-up connection names.
std::vector<IeValue> IeValues(const std::vector<std::string>& connections);
