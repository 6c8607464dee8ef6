// The settings form: each submitted field applied to the options, which are
// then stored and saved.
#include <limits>
#include <string>
#include <vector>

#include "http/http_text.h"
#include "protocol/md5.h"
#include "settings/settingsman.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

const char* const kUnchangedPassword = "********";

std::string Md5Text(const std::string& s) {
  char out[33] = {0};
  md5str(out, s.c_str());
  return out;
}

// The number's integer part; beyond the range of int it is held at the
// nearest end, and what is not a number counts as 0.
int Truncated(const std::string& s) {
  const double d = StrToDbl(s);
  if (!(d == d)) return 0;
  if (d <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  if (d >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(d);
}

// A name or value as the browser encoded it: "+" is a blank, then the
// percent escapes are decoded.
std::string FormDecoded(std::string s) {
  for (char& c : s) {
    if (c == '+') c = ' ';
  }
  UndecorateHttpString(&s);
  return s;
}

// The lines of a text area, empty lines dropped.
std::vector<std::string> Lines(const std::string& value) {
  return StrExplode(StrReplace(value, "\r", "\n"), "\n", true);
}

std::string TrimmedBlanks(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

void ApplySettingsForm(const std::string& settings, Program_Options& po) {
  // Split while still encoded, so a "&" or "=" the user typed (sent as an
  // escape) stays inside its value.
  for (const std::string& field : StrExplode(settings, "&", true)) {
    std::vector<std::string> parts = StrExplode(field, "=", true);
    if (parts.empty()) continue;
    const std::string name = FormDecoded(parts[0]);
    const std::string value = parts.size() > 1 ? FormDecoded(parts[1]) : std::string();
    const bool bValue = !value.empty();
    dbgmsg(name);
    dbgmsg(value);
    const std::vector<std::string> entries = Lines(value);

    if (name == "idJpgLvl") {
      if (bValue) po.iJpegLvl = Truncated(value);
    } else if (name == "idBlockFlash") {
      if (bValue) po.bBlockFlash = StrToDbl(value) != 0;
    } else if (name == "idBlockActiveX") {
      if (bValue) po.bBlockActiveX = StrToDbl(value) != 0;
    } else if (name == "idBlockBanners") {
      if (bValue) po.bBlockBanners = StrToDbl(value) != 0;
    } else if (name == "idPort") {
      if (bValue) po.iPort = Truncated(value);
    } else if (name == "idLogin") {
      if (bValue) po.iLogin = StrToInteger(value);
    } else if (name == "idPassword") {
      if (bValue && value != kUnchangedPassword) po.sPassword = Md5Text(value);
    } else if (name == "idTrafficCost") {
      if (bValue) po.dTrafficCost = StrToDbl(value);
    } else if (name == "idRemoteLogin") {
      po.sRemoteLogin = value;
    } else if (name == "idRemotePassword") {
      if (!bValue) {
        po.sRemotePassword.clear();
      } else if (value != kUnchangedPassword) {
        po.sRemotePassword = Md5Text(value);
      }
    } else if (name == "idForbiddenContent") {
      po.vsBlockingContent = entries;
    } else if (name == "idForbiddenUrls") {
      po.vsBlockingUrls = entries;
    } else if (name == "idChildClients") {
      po.vsAllowHosts = entries;
    } else if (name == "idProxyName") {
      po.sProxyName = value;
    } else if (name == "idProxyPort") {
      po.sProxyPort = value;
    } else if (name == "idProxyLogin") {
      po.sProxyLogin = value;
    } else if (name == "idProxyPassword") {
      if (bValue && value != kUnchangedPassword) po.sProxyPassword = value;
    } else if (name == "idServiceHost") {
      // Empty falls back to the build setting; a malformed address is not
      // taken, so the page goes on showing the one in use.
      std::string host;
      int port = 0;
      std::string typed = TrimmedBlanks(value);
      if (typed.empty() || SplitServiceHost(typed, 1, host, port)) po.sServiceHost = typed;
    }
  }
}

int SettingsMan::ProcessPostRequest(std::string& settings, nbSocket& /*Socket*/) {
  const char* sig = "int SettingsMan::ProcessPostRequest(string &settings, nbSocket &Socket)";
  dbgmsg(sig);
  // Held from the copy to the store, so a statistics update made meanwhile
  // by a worker is not overwritten by this older copy.
  ctx_.options.Change([&settings](Program_Options& po) {
    ApplySettingsForm(settings, po);
    dbgmsg("po.iJpegLvl=");
    dbgmsg(IntToStr(po.iJpegLvl));
  });
  const bool bSaved = ctx_.options.Save();
  if (!bSaved) dbgmsg("settings not saved");
  dbgmsg(std::string("RET ") + sig);
  return bSaved ? 0 : NBC_ERR_COULDNOT_SAVE;
}
