// The user's options and the traffic counters shared by every thread, and
// their text file "NimbrelClient.ini" in the program's folder.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// What the user configures: changed by the settings page, the tray and the
// file, and saved when the user saves.
struct UserSettings {
  int iLogin = 0;
  std::string sPassword;        // MD5 text of the service password, or empty
  std::string sRemoteLogin;     // form-only, never stored
  std::string sRemotePassword;  // form-only, never stored
  std::string sProxyName;
  std::string sProxyPort;
  std::string sProxyLogin;
  std::string sProxyPassword;
  int iPort = 0;
  int iSettingsPort = 0;
  int iJpegLvl = 0;
  bool bBlockFlash = false;
  bool bBlockActiveX = false;
  bool bBlockBanners = false;
  std::vector<std::string> vsBlockingContent;
  std::vector<std::string> vsBlockingUrls;
  std::vector<std::string> vsAllowHosts;
  double dTrafficCost = 0;
  bool bCompressOff = false;
  // Compression service as "host" or "host:port"; empty: the build setting.
  std::string sServiceHost;
};

// The counters the traffic updates; flushed to the file on a timer.
struct TrafficStats {
  double dTotalTraffic = 0;
  double dCompressTraffic = 0;
  double dMoney = 0;
  double dStatSince = 0;
  // Bytes that went through HTTPS tunnels (both directions, never compressed).
  double dTunnelTraffic = 0;
};
bool operator==(const TrafficStats& a, const TrafficStats& b);
inline bool operator!=(const TrafficStats& a, const TrafficStats& b) { return !(a == b); }

// The options file's record: both halves, as one snapshot.
struct Program_Options : UserSettings, TrafficStats {};

// The options and counters of a running client, and the file they are
// saved to. Lock order: mtxFile_, then mtxSettings_, then mtxStats_; no
// lock is taken twice, and no caller's code runs under mtxFile_.
class OptionsStore {
 public:
  // Snapshot of both halves.
  Program_Options Get() const;
  // Replaces both halves; the counters count as changed when they differ.
  void Set(const Program_Options& po);
  // Read, change and store as one step under both locks, so concurrent
  // changes are never lost: change(po) edits a copy that is then stored.
  // change must not call back into this store.
  template <typename F>
  void Change(F change) {
    std::lock_guard<std::mutex> settings(mtxSettings_);
    std::lock_guard<std::mutex> stats(mtxStats_);
    Program_Options po;
    static_cast<UserSettings&>(po) = settings_;
    static_cast<TrafficStats&>(po) = stats_;
    change(po);
    settings_ = po;
    if (static_cast<const TrafficStats&>(po) != stats_) statsDirty_ = true;
    stats_ = po;
  }
  // Counter updates (under mtxStats_ only); each marks the counters changed.
  void AddTraffic(double total, double compressed);
  void SetMoney(double money);
  void AddTunnelTraffic(double bytes);
  // True when the counters changed since the last save.
  bool StatsChanged() const;

  // Loads the file from the current directory, applies the defaults and
  // rewrites the file when the read ended in a failed state. Always true.
  bool Load();
  // Writes the file (temporary file + rename, so a failed save leaves the
  // old file whole). False when it could not be written (the counters then
  // stay marked changed).
  bool Save();
  // Save when the counters changed since the last save; true when nothing
  // was to be written or the write succeeded.
  bool SaveIfChanged();
  // Saves what changed and keeps the file lock until the process ends, so
  // no later save starts or is cut in half. Called once, by the stop.
  void SaveAndHoldForExit();

 private:
  bool SaveLocked();  // mtxFile_ held

  std::mutex mtxFile_;              // guards writing the options file
  mutable std::mutex mtxSettings_;  // guards settings_
  mutable std::mutex mtxStats_;     // guards stats_ and statsDirty_
  UserSettings settings_;
  TrafficStats stats_;
  bool statsDirty_ = false;
};

// The program's options: gClient's (context.h).
OptionsStore& Options();

// Shorthands on Options().
Program_Options GetProgramOptions();
void SetProgramOptions(const Program_Options& po);
template <typename F>
void ChangeProgramOptions(F change) {
  Options().Change(change);
}

// Options().Load() and Options().Save().
bool LoadProgramOptions();
bool SaveProgramOptions();

// The file's name, and the file text for a record (exact save format).
inline constexpr const char* kOptionsFileName = "NimbrelClient.ini";
std::string FormatProgramOptions(const Program_Options& po);
// Parses file text into po following the load rules (no defaults applied).
// Returns true when the last read attempt found no word (the stream ended
// in a failed state, so the file is to be rewritten).
bool ParseProgramOptions(const std::string& text, Program_Options& po);
// The temporary file a save from the calling thread writes before renaming
// it over the options file (unique per running thread, across processes).
std::string OptionsTempFileName();
// Splits a ServiceHost value into host and port (defaultPort when the value
// names none). False when it is malformed: an empty host, blanks, markup
// characters, or a port that is not a number in 1..65535.
bool SplitServiceHost(const std::string& value, int defaultPort, std::string& host, int& port);
// A number as the options file stores it, with all its digits: whole numbers
// below 2^53 in plain digits, others in the shortest text that reads back
// to the same double (an exponent has at least three digits).
std::string FormatOptionDouble(double d);
