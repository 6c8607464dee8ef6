// The settings console's server loop: one local connection at a time, the
// page, the image, the settings form and the stop request.
#include <memory>

#include "http/http_text.h"
#include "kernel/events.h"
#include "settings/settingsman.h"
#include "support/debug.h"

namespace {

// Dotted text of the peer's address, as the address check expects it.
std::string PeerAddress(const nbSocket& client) { return IpIntToStr(client.ip()); }

// Dotted text of the address the client reached the console on; "" when
// unknown.
std::string LocalAddress(const nbSocket& client) {
  std::uint32_t ip = nbplat::LocalIPv4(client.Handle());
  if (ip == 0) return "";
  return IpIntToStr(ip);
}

}  // namespace

int SettingsMan::Start(int iPort) {
  const char* sig = "int SettingsMan::Start(int iPort)";
  dbgmsg(sig);
  // A loop that was stopped but has not ended yet still uses the listener.
  if (m_bLooping || m_bEnabled.exchange(true)) {
    dbgmsg("SettingsMan::Start ==> NBC_ERR_ALREADY_STARTED");
    dbgmsg(std::string("RET ") + sig);
    return NBC_ERR_ALREADY_STARTED;
  }
  int iResult = CreateSocket(iPort);
  if (iResult != 0) {
    dbgmsg(std::string("RET ") + sig);
    return iResult;
  }
  m_bLooping = true;
  while (m_bEnabled) {
    dbgmsg("SetMan: listening");
    auto client = std::make_unique<nbSocket>();
    if (!ServePass(*client)) {
      // No URL in the request: closed without an answer, next pass at once.
      client->Close();
      continue;
    }
    // The pass may have changed the options: saved, then shown.
    ctx_.options.Save();
    nbkernel::Events().StatisticsChanged();
    client->Close();
    client.reset();
    nbplat::SleepMs(nbset::kPassPauseMs);
  }
  DestroySocket();
  m_bLooping = false;
  dbgmsg(std::string("RET ") + sig);
  return iResult;
}

bool SettingsMan::ServePass(nbSocket& client) {
  nbSocket* listener = CurrentSocket();
  if (listener == nullptr) return true;
  bool bAccepted = listener->Accept(client);
  dbgmsg(bAccepted ? "SetMan: socket has accepted" : "SetMan: socket has not accepted");
  if (!bAccepted || !m_bEnabled) return true;

  // Other computers are turned away before anything is read from them.
  dbgmsg("SetMan: from address:");
  std::string sAddress = PeerAddress(client);
  dbgmsg(sAddress);
  if (!IsHostValid(sAddress)) {
    dbgmsg("connection from remote address: decline");
    return true;
  }
  dbgmsg("connection from the local address: accept");

  // The whole head is read before any decision, so no header can be pushed
  // out of sight of the checks below.
  std::string request;
  const std::uint32_t startMs = nbplat::TickCountMs();
  HeadRead head = ReadRequestHead(client, request, nbset::kHeadLimit, nbset::kHeadDeadlineMs);
  if (head == HeadRead::TooLarge) {
    dbgmsg("SetMan: request head too large: refused");
    client.Send(SettingsHeadTooLargePage());
    // The rest of the head is read and dropped for a moment, so that closing
    // with unread bytes does not reset the answer away before it is read.
    std::string rest;
    for (int i = 0; i < nbset::kHeadLimit / nbset::kRequestLimit &&
                    RecvWithin(client, rest, nbset::kRequestLimit, nbset::kDrainMs);
         ++i) {
    }
    return true;
  }
  if (head != HeadRead::Complete) return true;
  dbgmsg(request);
  dbgmsg("SetMan: got the new request");

  const std::string sLocal = LocalAddress(client);
  if (!IsConsoleHost(request, m_iPort, sLocal)) {
    dbgmsg("SetMan: request for another host name: decline");
    return true;
  }

  if (request.compare(0, 4, "POST") == 0) {
    dbgmsg("POST request");
    if (!IsSameOriginRequest(request, m_iPort, sLocal)) {
      dbgmsg("SetMan: form from another site: decline");
      return true;
    }
    std::string form;
    if (ReadFormData(request, client, form, startMs, nbset::kHeadDeadlineMs)) {
      // Still encoded: the form handler splits it into fields first.
      dbgmsg("SetMan: POST params:");
      dbgmsg(form);
      if (ProcessPostRequest(form, client) != 0) {
        client.Send(SettingsNotSavedPage());
        return true;
      }
    } else {
      // A body cut short is not applied: half a list must not replace the
      // stored one.
      dbgmsg("SetMan: incomplete form: not applied");
    }
    std::string page = nbset::kTemplateFile;
    SendSettingsPage(page, client);
    return true;
  }

  dbgmsg("GET request");
  std::string fileName;
  if (GetFileNameFromRequest(request, fileName) != 0) return false;
  dbgmsg("buf=");
  dbgmsg(fileName);
  if (fileName == "stop") {
    if (!IsSameOriginRequest(request, m_iPort, sLocal)) {
      dbgmsg("SetMan: stop from another site: decline");
      return true;
    }
    client.Send(SettingsStopPage());
    // The page is complete once the connection closes; the program ends
    // a little later so the browser can show it.
    client.Close();
    nbplat::SleepMs(nbset::kStopDelayMs);
    Stop();
    nbkernel::Events().StopRequested();
    return true;
  }
  if (fileName == "compress-off" || fileName == "compress-on") {
    // The tray menu's compression switch, for systems without a tray; the
    // end of the pass saves the options. Answered with the settings page.
    if (IsSameOriginRequest(request, m_iPort)) {
      const bool bOff = fileName == "compress-off";
      ctx_.options.Change([bOff](Program_Options& po) { po.bCompressOff = bOff; });
    } else {
      dbgmsg("SetMan: compression switch from another site: decline");
    }
    fileName = nbset::kTemplateFile;
  }
  dbgmsg("accessing the file:");
  dbgmsg(fileName);
  if (IsFileBinary(fileName)) {
    dprintf("sending file %s in binary mode", fileName.c_str());
    SendBinaryFile(fileName, client);
  } else {
    dprintf("sending file %s in html mode", fileName.c_str());
    SendSettingsPage(fileName, client);
  }
  return true;
}
