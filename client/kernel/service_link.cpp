// The exchange with the compression service: connect (directly or through
// the upstream proxy), send the request header and body, then act on the
// answer packets until the service closes.
#include "kernel/service_link.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/chunked.h"
#include "kernel/capabilities.h"
#include "kernel/context.h"
#include "kernel/events.h"
#include "kernel/limits.h"
#include "kernel/relay.h"
#include "kernel/service_pool.h"
#include "kernel/site_dict.h"
#include "kernel/tunnel.h"
#include "protocol/capabilities.h"
#include "protocol/push.h"
#include "support/debug.h"

namespace {

const char* const kProcSig = "void processRequestWithService(ThreadArgs* thArgs)";
const char* const kSendSig =
    "void sendDataToServer(SOCKET ssocket, int ip, int port, char* buff , int iSize)";

// Connects sckServer (already created) to the service, directly or through
// the upstream proxy's tunnel. False when the service cannot be reached.
bool ConnectService(nbplat::Socket sck, const Program_Options& po,
                    const ServiceLinkSettings& link) {
  // The ServiceHost option, or else the build setting.
  std::string serviceHost = link.host;
  int servicePort = link.port;
  if (!po.sServiceHost.empty() &&
      !SplitServiceHost(po.sServiceHost, servicePort, serviceHost, servicePort)) {
    dbgmsg("Service address malformed");
    return false;
  }
  std::uint32_t ip = 0;
  if (po.sProxyName.empty()) {
    if (!nbplat::ResolveIPv4(serviceHost, &ip)) {
      dbgmsg("Service hostent error");
      return false;
    }
    if (!nbplat::ConnectIPv4(sck, ip, static_cast<std::uint16_t>(servicePort),
                             nb::kConnectTimeoutMs)) {
      dbgmsg("Service socket failed");
      return false;
    }
    return true;
  }
  std::string answer;
  switch (OpenProxyTunnel(sck, po, serviceHost + ":" + std::to_string(servicePort), link.idleMs,
                          &answer)) {
    case TunnelResult::Opened:
      return true;
    case TunnelResult::Unresolved:
      dbgmsg("Proxy hostent error");
      return false;
    case TunnelResult::Unreachable:
      dbgmsg("Proxy socket failed");
      return false;
    default:
      dbgmsg("Proxy refused the tunnel to the service");
      return false;
  }
}

// Records whether the service could be reached and tells the program when
// that changes.
void NoteServiceReached(ServiceLinkState& link, bool reached) {
  if (link.bServiceReached.exchange(reached) == reached) return;
  dbgmsg(reached ? "service reached again" : "service cannot be reached");
  if (reached) {
    nbkernel::Events().ServiceReached();
  } else {
    nbkernel::Events().ServiceUnreached();
  }
}

// Drops the service connection and serves the request directly instead.
void RelayDirectInstead(ThreadArgs* thArgs) {
  thArgs->sckServer.reset();
  processRequestDirect(thArgs);
}

// Kind 5: takes the service clock, sends the bodiless reply header.
void CorrectClock(nbplat::Socket s, ServiceLinkState& link, const Program_Options& po,
                  std::int32_t serviceTime) {
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(MakeTimeShiftReply(po, serviceTime), out);
  const std::int32_t shift = ServiceTimeShift(nbplat::TickCountMs(), serviceTime);
  link.iServTimeShift.store(shift);
  // A failed send shows at the next header read, which then ends the exchange.
  nbplat::SendAll(s, out, sizeof out);
  dprintf("iServTimeShift=%d", static_cast<int>(shift));
}

// Where pooled connections to this service are kept apart: the service and
// the upstream proxy its tunnels go through.
std::string PoolKey(const Program_Options& po, const ServiceLinkSettings& link) {
  return ServiceKey(po, link) + "|" + po.sProxyName + ":" + po.sProxyPort + "|" + po.sProxyLogin;
}

// Only requests that may be sent twice are sent again on a fresh connection.
bool MayRetry(const std::string& request) {
  return request.compare(0, 4, "GET ") == 0 || request.compare(0, 5, "HEAD ") == 0;
}

// Answers a GET without credentials from what the service pushed after a
// page, without a round trip; one the service promised is waited for.
// True when the browser got it. Its bytes were counted when the push
// arrived.
bool ServePushed(ThreadArgs* thArgs) {
  const std::string& request = thArgs->request;
  if (RequestCarriesCredentials(request)) return false;
  const std::string url = PushUrlOfRequest(request);
  std::string answer;
  if (url.empty() ||
      !thArgs->ctx.pushed.TakeWaiting(url, nb::kPushWaitMs, nbplat::TickCountMs, &answer))
    return false;
  // A forbidden word is left to the service road, which blocks it.
  ContentScanner words;
  if (words.Found(answer.data(), answer.size())) return false;
  dbgmsg("answered from a pushed resource");
  if (nbplat::SendAll(thArgs->sckBrowser.get(), answer.data(), answer.size()).ok())
    thArgs->ctx.held.Note(url, nbplat::TickCountMs(), RequestIsConditional(request));
  return true;
}

// A page's request (a GET without credentials that accepts HTML) names the
// URLs on its host the browser got lately, when the service takes pushes.
std::string WithHeldUrls(ClientContext& ctx, const std::string& request, std::uint16_t caps) {
  if (!(caps & NB_CAP_PUSH) || RequestCarriesCredentials(request)) return request;
  const std::string url = PushUrlOfRequest(request);
  const std::size_t head = request.find("\r\n\r\n");
  const std::size_t accept = request.find("text/html");
  if (url.empty() || accept == std::string::npos || accept > head) return request;
  return WithHeldField(request, ctx.held.HashesOnHost(url, nbplat::TickCountMs(), kMaxHeldHashes));
}

// Ends an exchange's promises however it ends.
class ExchangePromises {
 public:
  explicit ExchangePromises(ClientContext& ctx) : ctx_(ctx), id_(++ctx.exchanges) {}
  ~ExchangePromises() { ctx_.pushed.EndExchange(id_); }
  ExchangePromises(const ExchangePromises&) = delete;
  ExchangePromises& operator=(const ExchangePromises&) = delete;
  std::uint64_t id() const { return id_; }

 private:
  ClientContext& ctx_;
  const std::uint64_t id_;
};

// Notes a GET the browser got whole from the service road as held.
void NoteHeld(ClientContext& ctx, const std::string& request) {
  if (!RequestCarriesCredentials(request))
    ctx.held.Note(PushUrlOfRequest(request), nbplat::TickCountMs(), RequestIsConditional(request));
}

}  // namespace

bool sendDataToServer(ClientContext& ctx, nbplat::Socket ssocket, unsigned int ip, int port,
                      const char* buff, int iSize) {
  dbgmsg(kSendSig);
  const std::int32_t time = ServiceClock(nbplat::TickCountMs(), ctx.link.iServTimeShift.load());
  const Program_Options po = ctx.options.Get();
  if (iSize < 0 || (buff == nullptr && iSize > 0)) {
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  std::string compressed;
  if (!Bz2Compress(iSize > 0 ? buff : "", static_cast<std::size_t>(iSize), compressed)) {
    dbgmsg("bz2 is not worked. N1");
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  unsigned char header[kClientHeaderSize];
  EncodeClientHeader(
      MakeRequestHeader(po, ip, port, time, static_cast<std::uint32_t>(compressed.size()),
                        static_cast<std::uint32_t>(iSize)),
      header);
  // One write: a body sent apart would wait for the acknowledgement of the
  // header, which a kept connection's peer delays.
  std::string packet(reinterpret_cast<const char*>(header), sizeof header);
  packet += compressed;
  nbplat::IoResult r = nbplat::SendAll(ssocket, packet.data(), packet.size());
  if (!r.ok()) {
    dbgmsg(r.bytes < sizeof header ? "can't send nbheader" : "can't send nbbody");
    dprintf("iLen=%u", unsigned(r.bytes));
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  dbgmsg(std::string("RET ") + kSendSig);
  return true;
}

void processRequestWithService(ThreadArgs* thArgs) {
  dbgmsg(kProcSig);
  const std::string sRet = std::string("RET ") + kProcSig;
  Program_Options po = thArgs->ctx.options.Get();
  const ServiceLinkSettings link = GetServiceLinkSettings();
  if (po.bCompressOff) {
    processRequestDirect(thArgs);
    dbgmsg("ProgamOptions.bCompressOff=true");
    dbgmsg(sRet);
    return;
  }

  nbplat::SetSendTimeout(thArgs->sckBrowser.get(), thArgs->ctx.iSendTimeoutMs.load());
  if (ServePushed(thArgs)) {
    dbgmsg(sRet);
    return;
  }

  // A chunked body arrives after the head and only the relay passes it on.
  if (RequestBodyFraming(thArgs->request.c_str()) != BodyFraming::Length) {
    dbgmsg("request body is not framed by a length: direct road");
    processRequestDirect(thArgs);
    dbgmsg(sRet);
    return;
  }

  // Nothing has reached the browser yet: a service that cannot be reached
  // leaves the request to the direct relay rather than unanswered.
  nbplat::SetSendTimeout(thArgs->sckBrowser.get(), thArgs->ctx.iSendTimeoutMs.load());
  const std::string serviceKey = ServiceKey(po, link);
  const std::string poolKey = PoolKey(po, link);
  ServicePool& pool = ServiceConnections();
  const bool keeps = (ServiceCapabilities(serviceKey) & NB_CAP_KEEPALIVE) != 0;
  // A service that keeps connections gets the next one opened ahead while
  // this request is served.
  ClientContext& ctx = thArgs->ctx;
  auto openAhead = [&] {
    if (!keeps) return;
    OpenServiceAhead(poolKey, [&ctx, po, link](nbplat::Socket s) {
      nbplat::SetSendTimeout(s, ctx.iSendTimeoutMs.load());
      return ConnectService(s, po, link);
    });
  };

  // Answer bodies are received into buff, apart from the request, which
  // stays whole for a no-money answer that arrives after content packets.
  const std::string& request = thArgs->request;

  // Pages are kept per service: only one that sent them is told of them.
  SitePageUse pageUse;
  const std::string named = RequestNamingPage(
      link.host + ":" + std::to_string(link.port) + "|" + po.sServiceHost, request, &pageUse);
  const std::string toService =
      WithHeldUrls(ctx, pageUse.named ? named : request, ServiceCapabilities(serviceKey));
  ExchangePromises promises(ctx);

  // A kept connection the service (or a middlebox) has closed meanwhile
  // carries the request again on a fresh one, but only while no byte of
  // the answer has come and when the request may be sent twice.
  nbServiceHeader firstHeader;
  AnswerHead firstHead = AnswerHead::Cut;
  bool counted = false;
  for (bool pooled = keeps;; pooled = false) {
    if (pooled) thArgs->sckServer = pool.Take(poolKey, nbplat::TickCountMs());
    const bool reused = pooled && thArgs->sckServer.valid();
    if (!counted) pool.Count(reused);
    counted = true;
    if (!reused) {
      thArgs->sckServer.reset(nbplat::TcpSocket());
      nbplat::SetSendTimeout(thArgs->sckServer.get(), ctx.iSendTimeoutMs.load());
      if (!thArgs->sckServer.valid() || !ConnectService(thArgs->sckServer.get(), po, link)) {
        if (thArgs->sckServer.valid()) NoteServiceReached(ctx.link, false);
        RelayDirectInstead(thArgs);
        dbgmsg(sRet);
        return;
      }
    }
    openAhead();
    const bool sent =
        sendDataToServer(ctx, thArgs->sckServer.get(), thArgs->ipHost, thArgs->iHostPort,
                         toService.data(), static_cast<int>(toService.size()));
    std::size_t got = 0;
    if (sent) {
      dbgmsg("send to service nbheader and body OK");
      firstHead = ReadAnswerHeader(thArgs->sckServer.get(), link.idleMs, &firstHeader, &got);
    }
    if (reused && got == 0 && firstHead != AnswerHead::Read && MayRetry(request)) {
      dbgmsg("kept service connection was closed: the request goes on a fresh one");
      continue;
    }
    if (!sent) {
      dbgmsg("send to service nbheader and body FAILED. exit");
      dbgmsg(sRet);
      return;
    }
    break;
  }

  AnswerProgress progress;
  progress.named = pageUse.named;
  progress.exchange = promises.id();
  bool bContinue = true;
  bool first = true;
  while (bContinue) {
    nbServiceHeader h = firstHeader;
    const AnswerHead head =
        first ? firstHead : ReadAnswerHeader(thArgs->sckServer.get(), link.idleMs, &h);
    first = false;
    if (head == AnswerHead::Read && IsAnswerEnd(h)) {
      // The answer is whole and the connection in step: it carries the
      // next request.
      saveMoneyInfo(ctx.options, h.money);
      NoteHeld(ctx, request);
      if (!progress.tooLong)
        KeepSitePage(pageUse, progress.serviceCaps, std::move(progress.answer));
      pool.Give(poolKey, std::move(thArgs->sckServer), nbplat::TickCountMs());
      break;
    }
    if (head != AnswerHead::Read) {
      if (head == AnswerHead::Cut) CutAnswer(thArgs);
      // A whole answer may be the page the site's next one is coded against.
      if (head == AnswerHead::End) NoteHeld(ctx, request);
      if (head == AnswerHead::End && !progress.tooLong) {
        KeepSitePage(pageUse, progress.serviceCaps, std::move(progress.answer));
      }
      break;
    }
    dbgmsg("nbheader accepted from service");
    NoteServiceReached(thArgs->ctx.link, true);
    NoteServiceCapabilities(serviceKey, h.caps);
    dprintf("serviceHeader.size = %u", unsigned(h.size));

    if (h.msg == NB_PACKET_NOMONEY) {
      thArgs->ctx.link.iNoMoneyLogin.store(AsSigned(h.size));
      dbgmsg("no money at account");
      RelayDirectInstead(thArgs);
      dbgmsg(sRet);
      return;
    }
    nbkernel::Events().TrafficActivity();
    if (h.msg == NB_PACKET_TIMESHIFT) {
      CorrectClock(thArgs->sckServer.get(), thArgs->ctx.link, po, AsSigned(h.size));
      continue;
    }
    if (!ServicePacketFits(h)) {
      // What was delivered so far is not the whole answer.
      dbgmsg("Warning: big packet. Skipping");
      CutAnswer(thArgs);
      break;
    }
    dprintf(
        "packet dump: \nserviceHeader.msg = %u\nserviceHeader.size = %u\n"
        "serviceHeader.decompSize = %u",
        unsigned(h.msg), unsigned(h.size), unsigned(h.decompSize));

    const bool whole = ReadAnswerBody(thArgs->sckServer.get(), h, thArgs->buff, link.idleMs);
    dbgmsg("nbbody accepted from service");
    saveMoneyInfo(thArgs->ctx.options, h.money);
    if (!whole) {
      dbgmsg("Warning accept not all data. skip");
      CutAnswer(thArgs);
      dbgmsg(sRet);
      return;
    }

    thArgs->ctx.link.bAuthFailed.store(h.msg == NB_PACKET_AUTHFAILED);
    bContinue = HandlePacket(thArgs, h, &progress);
    CountPacket(thArgs->ctx.options, h);
    po = thArgs->ctx.options.Get();
  }
}
