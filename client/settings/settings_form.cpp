// The settings form: each submitted field applied to the options, which are
// then stored and saved.
#include <vector>

#include "kernel/md5.h"
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

int Truncated(const std::string& s) { return static_cast<int>(StrToDbl(s)); }

}  // namespace

void ApplySettingsForm(const std::string& settings, Program_Options& po) {
  for (const std::string& field : StrExplode(settings, "&", true)) {
    std::vector<std::string> parts = StrExplode(field, "=", true);
    if (parts.empty()) continue;
    const std::string& name = parts[0];
    const bool bValue = parts.size() > 1;
    const std::string value = bValue ? parts[1] : std::string();
    dbgmsg(name);
    dbgmsg(value);
    std::vector<std::string> entries;
    if (bValue) {
      entries = StrExplode(StrReplace(StrReplace(value, "\r", "+"), "\n", "+"), "++", true);
    }

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
    }
  }
}

int SettingsMan::ProcessPostRequest(std::string& settings, nbSocket& /*Socket*/) {
  const char* sig = "int SettingsMan::ProcessPostRequest(string &settings, nbSocket &Socket)";
  dbgmsg(sig);
  // Held from the copy to the store, so a statistics update made meanwhile
  // by a worker is not overwritten by this older copy.
  ChangeProgramOptions([&settings](Program_Options& po) {
    ApplySettingsForm(settings, po);
    dbgmsg("po.iJpegLvl=");
    dbgmsg(IntToStr(po.iJpegLvl));
  });
  SaveProgramOptions();
  dbgmsg(std::string("RET ") + sig);
  return 0;
}
