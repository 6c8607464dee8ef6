// The options record shared by all threads, and its file NimbrelClient.ini.
#include "kernel/options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale>
#include <sstream>

#include "kernel/limits.h"
#include "platform/platform.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

// Every whole number below this has an exact double and is written in plain
// digits.
constexpr double kExactWholeLimit = 9007199254740992.0;  // 2^53

// The file is read word by word, so a value can hold no white space: a value
// is stored up to its first white-space byte. This is also all a reload would
// see, and it keeps a value from smuggling further key words into the file.
std::string FirstWord(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(0, i);
}

std::string FormatList(const std::vector<std::string>& vs) {
  std::string out;
  for (const std::string& entry : vs) {
    std::string word = FirstWord(entry);
    if (word.empty()) continue;
    out += word;
    out += ';';
  }
  return out;
}

// Reads the whole file in binary; false when it cannot be opened.
bool ReadWholeFile(const char* name, std::string& text) {
  std::FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  std::fclose(f);
  return true;
}

// Writes text to a new file name; false when any step fails, and then a
// partly written file is removed again.
bool WriteWholeFile(const char* name, const std::string& text) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) std::remove(name);
  return ok;
}

// A number as the file holds it, read in double precision in any notation
// ("1796760064", "1.79676e+009"); 0 when the text holds no number.
double OptionDouble(const std::string& value) {
  std::istringstream in(value);
  in.imbue(std::locale::classic());
  double d = 0;
  in >> d;
  return in.fail() ? 0 : d;
}

// A port read from the file outside 1..65535 counts as 0, so the default
// applies instead of a number cut to 16 bits.
int PortValue(const std::string& value) {
  int port = StrToInteger(value);
  return port >= 1 && port <= 65535 ? port : 0;
}

void ApplyWord(const std::string& word, Program_Options& po) {
  // The key ends at the first ":"; the value is all that follows it, so a
  // password or a list entry may itself hold ":".
  std::size_t colon = word.find(':');
  if (colon == 0 || colon == std::string::npos || colon + 1 == word.size()) return;
  const std::string key = word.substr(0, colon);
  const std::string value = word.substr(colon + 1);
  if (key == "Login") {
    po.iLogin = StrToInteger(value);
  } else if (key == "Password") {
    po.sPassword = value;
  } else if (key == "Port") {
    po.iPort = PortValue(value);
  } else if (key == "SettingsPort") {
    po.iSettingsPort = PortValue(value);
  } else if (key == "JpgLvl") {
    po.iJpegLvl = StrToInteger(value);
  } else if (key == "ProxyName") {
    po.sProxyName = value;
  } else if (key == "ProxyPort") {
    po.sProxyPort = value;
  } else if (key == "ProxyLogin") {
    po.sProxyLogin = value;
  } else if (key == "ProxyPassword") {
    po.sProxyPassword = value;
  } else if (key == "BlockingActiveX") {
    po.bBlockActiveX = std::atoi(value.c_str()) == 1;
  } else if (key == "BlockingFlash") {
    po.bBlockFlash = std::atoi(value.c_str()) == 1;
  } else if (key == "BlockingBanners") {
    po.bBlockBanners = std::atoi(value.c_str()) == 1;
  } else if (key == "CompressOff") {
    po.bCompressOff = std::atoi(value.c_str()) == 1;
  } else if (key == "BlockingContent") {
    po.vsBlockingContent = StrExplode(value, ";", true);
  } else if (key == "BlockingUrls") {
    po.vsBlockingUrls = StrExplode(value, ";", true);
  } else if (key == "AllowHosts") {
    po.vsAllowHosts = StrExplode(value, ";", true);
  } else if (key == "TrafficCost") {
    po.dTrafficCost = OptionDouble(value);
  } else if (key == "TotalTraffic") {
    po.dTotalTraffic = OptionDouble(value);
  } else if (key == "CompressTraffic") {
    po.dCompressTraffic = OptionDouble(value);
  } else if (key == "Money") {
    po.dMoney = OptionDouble(value);
  } else if (key == "StatSince") {
    po.dStatSince = OptionDouble(value);
  } else if (key == "ServiceHost") {
    po.sServiceHost = value;
  } else if (key == "TunnelTraffic") {
    po.dTunnelTraffic = OptionDouble(value);
  }
}

}  // namespace

bool SplitServiceHost(const std::string& value, int defaultPort, std::string& host, int& port) {
  std::size_t colon = value.find(':');
  std::string name = value.substr(0, colon);
  if (name.empty()) return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isspace(u) || std::iscntrl(u) || std::strchr("\"'<>&/?#@[]", c) != nullptr)
      return false;
  }
  int number = defaultPort;
  if (colon != std::string::npos) {
    const std::string digits = value.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
    }
    number = std::atoi(digits.c_str());
    if (number < 1 || number > 65535) return false;
  }
  host = name;
  port = number;
  return true;
}

std::string OptionsTempFileName() {
  // Thread ids are unique across processes while they run, so two copies of
  // the program saving at the same moment never share a temporary file.
  return std::string(kOptionsFileName) + "." + std::to_string(nbplat::CurrentThreadId()) + ".tmp";
}

bool operator==(const TrafficStats& a, const TrafficStats& b) {
  return a.dTotalTraffic == b.dTotalTraffic && a.dCompressTraffic == b.dCompressTraffic &&
         a.dMoney == b.dMoney && a.dStatSince == b.dStatSince &&
         a.dTunnelTraffic == b.dTunnelTraffic;
}

Program_Options OptionsStore::Get() const {
  // Both halves from one moment: no Change falls between them.
  Program_Options po;
  std::lock_guard<std::mutex> settings(mtxSettings_);
  std::lock_guard<std::mutex> stats(mtxStats_);
  static_cast<UserSettings&>(po) = settings_;
  static_cast<TrafficStats&>(po) = stats_;
  return po;
}

void OptionsStore::Set(const Program_Options& po) {
  Change([&po](Program_Options& o) { o = po; });
}

void OptionsStore::AddTraffic(double total, double compressed) {
  std::lock_guard<std::mutex> lock(mtxStats_);
  stats_.dTotalTraffic += total;
  stats_.dCompressTraffic += compressed;
  statsDirty_ = true;
}

void OptionsStore::SetMoney(double money) {
  std::lock_guard<std::mutex> lock(mtxStats_);
  stats_.dMoney = money;
  statsDirty_ = true;
}

void OptionsStore::AddTunnelTraffic(double bytes) {
  std::lock_guard<std::mutex> lock(mtxStats_);
  stats_.dTunnelTraffic += bytes;
  statsDirty_ = true;
}

bool OptionsStore::StatsChanged() const {
  std::lock_guard<std::mutex> lock(mtxStats_);
  return statsDirty_;
}

Program_Options GetProgramOptions() { return Options().Get(); }

void SetProgramOptions(const Program_Options& po) { Options().Set(po); }

bool LoadProgramOptions() { return Options().Load(); }

bool SaveProgramOptions() { return Options().Save(); }

std::string FormatOptionDouble(double d) {
  char buf[64];
  // Whole numbers below 2^53 (byte counters, seconds) in plain digits;
  // anything else in the shortest form that reads back to the same double.
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < kExactWholeLimit) {
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  const auto end = std::to_chars(buf, buf + sizeof buf, d);
  std::string s(buf, end.ec == std::errc() ? end.ptr : buf);
  // An exponent keeps at least three digits (1.5e+100, 1e-005), as in the
  // files older versions wrote.
  std::size_t e = s.find_first_of("eE");
  if (e == std::string::npos || e + 1 >= s.size()) return s;
  std::size_t digits = e + 1;
  if (s[digits] == '+' || s[digits] == '-') ++digits;
  std::size_t count = s.size() - digits;
  if (count < 3) s.insert(digits, 3 - count, '0');
  return s;
}

std::string FormatProgramOptions(const Program_Options& po) {
  std::string out;
  auto line = [&out](const char* key, const std::string& value) {
    out += key;
    out += ':';
    out += value;
    out += "\r\n";
  };
  auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  line("Login", IntToStr(po.iLogin));
  line("Password", FirstWord(po.sPassword));
  line("Port", IntToStr(po.iPort));
  line("SettingsPort", IntToStr(po.iSettingsPort));
  line("BlockingActiveX", flag(po.bBlockActiveX));
  line("BlockingFlash", flag(po.bBlockFlash));
  line("BlockingBanners", flag(po.bBlockBanners));
  line("CompressOff", flag(po.bCompressOff));
  line("JpgLvl", IntToStr(po.iJpegLvl));
  line("BlockingContent", FormatList(po.vsBlockingContent));
  line("BlockingUrls", FormatList(po.vsBlockingUrls));
  line("AllowHosts", FormatList(po.vsAllowHosts));
  line("TrafficCost", FormatOptionDouble(po.dTrafficCost));
  line("TotalTraffic", FormatOptionDouble(po.dTotalTraffic));
  line("CompressTraffic", FormatOptionDouble(po.dCompressTraffic));
  line("Money", FormatOptionDouble(po.dMoney));
  line("StatSince", FormatOptionDouble(po.dStatSince));
  line("ProxyName", FirstWord(po.sProxyName));
  line("ProxyPort", FirstWord(po.sProxyPort));
  line("ProxyLogin", FirstWord(po.sProxyLogin));
  line("ProxyPassword", FirstWord(po.sProxyPassword));
  // Written only when set, so files of clients that never set it stay as
  // they were.
  const std::string serviceHost = FirstWord(po.sServiceHost);
  if (!serviceHost.empty()) line("ServiceHost", serviceHost);
  // Likewise last of all, and only once a tunnel has carried bytes.
  if (po.dTunnelTraffic != 0) line("TunnelTraffic", FormatOptionDouble(po.dTunnelTraffic));
  return out;
}

bool ParseProgramOptions(const std::string& text, Program_Options& po) {
  std::istringstream in(text);
  std::vector<std::string> words;
  // Like the file reader: every attempt adds an entry, the one that finds no
  // more words an empty one, which leaves the stream in a failed state.
  while (!in.eof()) {
    std::string word;
    in >> word;
    dbgmsg(word);
    words.push_back(word);
    if (in.fail()) break;
  }
  for (const std::string& word : words) ApplyWord(word, po);
  return in.fail();
}

bool OptionsStore::Load() {
  dbgmsg("bool LoadProgramOptions()");
  Program_Options po = Get();
  std::string text;
  bool failedState = true;  // a missing file counts as a failed read
  if (ReadWholeFile(kOptionsFileName, text)) {
    failedState = ParseProgramOptions(text, po);
  } else {
    // No file at all: start as the file the installer lays down would.
    po.bBlockFlash = po.bBlockActiveX = po.bBlockBanners = true;
    po.iJpegLvl = nb::kDefaultJpegLevel;
  }
  if (po.iPort == 0) po.iPort = nb::kDefaultPort;
  if (po.iSettingsPort == 0) po.iSettingsPort = nb::kDefaultSettingsPort;
  if (po.dTrafficCost == 0) po.dTrafficCost = 3;
  if (po.dStatSince == 0) po.dStatSince = static_cast<double>(std::time(nullptr));
  Set(po);
  {
    // The record as read is what the file holds: nothing to flush yet.
    std::lock_guard<std::mutex> lock(mtxStats_);
    statsDirty_ = false;
  }
  if (failedState) Save();
  dbgmsg("RET bool LoadProgramOptions()");
  return true;
}

bool OptionsStore::Save() {
  std::lock_guard<std::mutex> lock(mtxFile_);
  return SaveLocked();
}

bool OptionsStore::SaveIfChanged() {
  std::lock_guard<std::mutex> lock(mtxFile_);
  if (!StatsChanged()) return true;
  return SaveLocked();
}

void OptionsStore::SaveAndHoldForExit() {
  mtxFile_.lock();  // never released: the process ends holding it
  if (StatsChanged()) SaveLocked();
}

bool OptionsStore::SaveLocked() {
  dbgmsg("bool SaveProgramOptions()");
  // The snapshot is taken under the file lock, so two saves racing each
  // other can never leave the older state in the file.
  Program_Options po;
  {
    std::lock_guard<std::mutex> settings(mtxSettings_);
    std::lock_guard<std::mutex> stats(mtxStats_);
    static_cast<UserSettings&>(po) = settings_;
    static_cast<TrafficStats&>(po) = stats_;
    statsDirty_ = false;
  }
  const std::string text = FormatProgramOptions(po);
  // Written whole to a temporary file first and then renamed over the old
  // file, so a failed or interrupted save never leaves a cut-off file.
  const std::string temp = OptionsTempFileName();
  bool ok = WriteWholeFile(temp.c_str(), text);
  if (ok && !nbplat::ReplaceFile(temp, kOptionsFileName)) {
    std::remove(temp.c_str());
    ok = false;
  }
  if (!ok) {
    // Kept for the next flush.
    std::lock_guard<std::mutex> stats(mtxStats_);
    statsDirty_ = true;
  }
  dbgmsg("RET bool SaveProgramOptions()");
  return ok;
}
