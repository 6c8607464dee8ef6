// The options and statistics record shared by every thread, and its text
// file "NimbrelClient.ini" in the program's folder.
#pragma once

#include <string>
#include <vector>

#include "support/nbMutex.h"

struct Program_Options {
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
  double dTotalTraffic = 0;
  double dCompressTraffic = 0;
  double dMoney = 0;
  double dStatSince = 0;
  bool bCompressOff = false;
  // Compression service as "host" or "host:port"; empty: the build setting.
  std::string sServiceHost;
  // Bytes that went through HTTPS tunnels (both directions, never compressed).
  double dTunnelTraffic = 0;
};

// Guards ProgramOptions, the writing of the options file and iAmountThread.
// Re-entrant because holders re-enter it: ChangeProgramOptions and
// CountPacket read the record (GetProgramOptions) and save it
// (SaveProgramOptions) while they hold it, and ProgramDeinit takes it for
// good from whichever thread asks the program to end.
extern nbMutex mtxProgramOptions;
extern Program_Options ProgramOptions;

// Whole-record copy in and out under the lock.
Program_Options GetProgramOptions();
void SetProgramOptions(Program_Options po);

// Read, change and store as one step under mtxProgramOptions, so concurrent
// changes are never lost: change(po) edits a copy that is then stored.
template <typename F>
void ChangeProgramOptions(F change) {
  nbLockGuard lock(mtxProgramOptions);
  Program_Options po = GetProgramOptions();
  change(po);
  SetProgramOptions(po);
}

// Loads NimbrelClient.ini from the current directory, applies the defaults
// and rewrites the file when the read ended in a failed state. Always true.
bool LoadProgramOptions();
// Writes the file (temporary file + rename, so a failed save leaves the old
// file whole). False when it could not be written.
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
