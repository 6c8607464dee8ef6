// The settings page: the template with its placeholder words replaced by the
// current options and statistics.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <utility>
#include <vector>

#include "http/http_text.h"
#include "kernel/context.h"
#include "settings/settingsman.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

const char* const kPageHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";

std::string Flag(bool b) { return b ? "1" : "0"; }

double Megabytes(double bytes) { return bytes / 1024 / 1024; }

// Placeholder words and their values, in the order the page defines them.
std::vector<std::pair<std::string, std::string>> PlaceholderValues(const Program_Options& po,
                                                                   bool serviceReached) {
  double dTotalMb = Megabytes(po.dTotalTraffic);
  double dCompressMb = Megabytes(po.dCompressTraffic);
  std::string sRatio =
      po.dCompressTraffic == 0 ? "1" : DblToStr(po.dTotalTraffic / po.dCompressTraffic, 2);
  std::string sAccess = std::string("Доступ: <a href=\"") + nbset::kLoginPageUrl +
                        "\" target=\"_blank\">Приоритетный</a>";
  // Why pages are not being compressed, when they are not.
  if (po.bCompressOff) {
    sAccess += "<br><b>Сжатие выключено: страницы идут без сжатия.</b>";
  } else if (!serviceReached) {
    sAccess += "<br><b>Сервис сжатия недоступен: страницы идут без сжатия.</b>";
  }
  return {
      {"idLoginValue", IntToStr(po.iLogin)},
      {"idConnectionStateValue", sAccess},
      {"idJpgLvlValue", IntToStr(po.iJpegLvl)},
      {"idBlockFlashValue", Flag(po.bBlockFlash)},
      {"idBlockActiveXValue", Flag(po.bBlockActiveX)},
      {"idBlockBannersValue", Flag(po.bBlockBanners)},
      {"idPortValue", IntToStr(po.iPort)},
      {"idTrafficCostValue", DblToStr(po.dTrafficCost, 2)},
      {"idTotalTrafValue", DblToStr(dTotalMb, 3)},
      {"idCompressTrafValue", DblToStr(dCompressMb, 3)},
      {"idCompressRatioValue", sRatio},
      {"idSpentWithoutSvrValue", DblToStr(dTotalMb * po.dTrafficCost, 2)},
      {"idSpentWithSvrValue", DblToStr(dCompressMb * po.dTrafficCost, 2)},
      {"idProffitValue", DblToStr((dTotalMb - dCompressMb) * po.dTrafficCost, 2)},
      {"idDateValue", FormatStatSince(po.dStatSince)},
      {"idProxyNameValue", HtmlEscape(po.sProxyName)},
      {"idProxyPortValue", HtmlEscape(po.sProxyPort)},
      {"idProxyLoginValue", HtmlEscape(po.sProxyLogin)},
      {"idForbiddenContentValue", HtmlEscape(StrJoin(po.vsBlockingContent, "\n", true))},
      {"idForbiddenUrlsValue", HtmlEscape(StrJoin(po.vsBlockingUrls, "\n", true))},
      {"idChildClientsValue", HtmlEscape(StrJoin(po.vsAllowHosts, "\n", true))},
      {"idServiceHostValue", HtmlEscape(po.sServiceHost)},
      {"idTunnelTrafValue", DblToStr(Megabytes(po.dTunnelTraffic), 3)},
  };
}

}  // namespace

std::string FormatStatSince(double dStatSince) {
  std::time_t t = static_cast<std::time_t>(dStatSince);
  char buf[300] = {0};
  const std::tm* tmLocal = std::localtime(&t);
  // The Russian form, the same on every platform: 07.12.2026 02:24:27.
  if (tmLocal != nullptr) std::strftime(buf, sizeof buf - 1, "%d.%m.%Y %H:%M:%S", tmLocal);
  return buf;
}

std::string RenderSettingsPage(const std::string& sTemplate, const Program_Options& po,
                               bool serviceReached) {
  const auto values = PlaceholderValues(po, serviceReached);
  std::string page;
  page.reserve(sTemplate.size() + 4096);
  std::size_t i = 0;
  while (i < sTemplate.size()) {
    bool bReplaced = false;
    if (sTemplate[i] == 'i') {
      for (const auto& kv : values) {
        if (sTemplate.compare(i, kv.first.size(), kv.first) == 0) {
          page += kv.second;
          i += kv.first.size();
          bReplaced = true;
          break;
        }
      }
    }
    if (!bReplaced) page += sTemplate[i++];
  }
  return page;
}

bool ReadSettingsTemplate(const std::string& fileName, std::string& sTemplate) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  sTemplate.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    sTemplate += line;
    sTemplate += '\n';
  }
  return !in.bad();
}

std::string SettingsTemplateMissingPage() {
  return std::string(
             "<html><meta http-equiv=\"Content-Type\" content=\"text/html; "
             "charset=windows-1251\">Файл <b>") +
         nbset::kTemplateFile +
         "</b> не найден.<br> Невозможно отобразить страницу настроек.</html>";
}

int SettingsMan::SendSettingsPage(std::string& fileName, nbSocket& Socket) {
  const char* sig = "int SettingsMan::SendSettingsPage(string &fileName, nbSocket &Socket)";
  dbgmsg(sig);
  Program_Options po = ctx_.options.Get();
  std::string sTemplate;
  if (!ReadSettingsTemplate(fileName, sTemplate)) {
    Socket.Send(kPageHead);
    Socket.Send(SettingsTemplateMissingPage());
    dbgmsg(std::string("RET ") + sig);
    return 0;
  }
  dbgmsg("sPage after=");
  dbgmsg(sTemplate);
  std::string page = RenderSettingsPage(sTemplate, po, ctx_.link.bServiceReached.load());
  dbgmsg("sPage before=");
  dbgmsg(page);
  Socket.Send(kPageHead);
  Socket.Send(page);
  dbgmsg(std::string("RET ") + sig);
  return 0;
}
