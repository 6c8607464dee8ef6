// Direct relay: connects to the web site (or opens a CONNECT tunnel through
// the upstream proxy), sends the request and its body, and passes the answer
// to the browser in blocks of at most 200000 bytes, each checked for
// forbidden content words before it is sent.
#include "kernel/relay.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/chunked.h"
#include "http/http_head.h"
#include "http/http_text.h"
#include "kernel/context.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/road.h"
#include "kernel/tunnel.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr const char* kSignature = "void processRequestDirect(ThreadArgs* thArgs)";

// One read; end of stream, time-out and failure stay apart in the result.
nbplat::IoResult Recv(nbplat::Socket s, char* at, int len, int idleMs) {
  return nbplat::RecvSome(s, at, static_cast<std::size_t>(std::max(len, 1)), idleMs);
}

bool SendAll(nbplat::Socket s, const char* data, int len) {
  if (len <= 0) return true;
  return nbplat::SendAll(s, data, static_cast<std::size_t>(len)).ok();
}

// Marks the site's connection to end with a reset: what it got of the
// request body is not the whole body. Always false, the relay's end.
bool AbortSite(ThreadArgs* a) {
  nbplat::SetResetOnClose(a->sckServer.get());
  return false;
}

// Passes the proxy's refusal to the browser: what came with its head, then
// the rest of the announced answer (or until the proxy closes or goes silent).
void PassProxyRefusal(ThreadArgs* a, char* buff, int count) {
  if (!SendAll(a->sckBrowser.get(), buff, count)) return;
  buff[count] = 0;
  const int total = getRequestSize(BufferView(buff, count));
  long long passed = count;
  const bool bLengthKnown =
      total >= 0 && GetParameterFromHttpHeader(BufferView(buff, count), "Content-Length");
  while (!(bLengthKnown && passed >= total)) {
    const nbplat::IoResult r =
        Recv(a->sckServer.get(), buff, nb::kMaxPacketSize, nb::kServerIdleMs);
    if (!r.ok()) return;
    if (!SendAll(a->sckBrowser.get(), buff, static_cast<int>(r.bytes))) return;
    passed += static_cast<long long>(r.bytes);
  }
}

// Opens the tunnel to the site through the upstream proxy; true when it
// stands on a->sckServer.get(). A refusal is passed to the browser.
bool OpenTunnel(ThreadArgs* a, const Program_Options& po) {
  std::string sAnswer;
  const TunnelResult r =
      OpenProxyTunnel(a->sckServer.get(), po, IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort),
                      nb::kServerIdleMs, &sAnswer);
  if (r == TunnelResult::Opened) return true;
  if (r == TunnelResult::Unresolved || r == TunnelResult::Unreachable) {
    dbgmsg("Socket connect error.\n" + po.sProxyName + ":" + IntToStr(ProxyPortOf(po.sProxyPort)));
    return false;
  }
  dbgmsg("Error: Proxy close connection.\n");
  if (r == TunnelResult::Refused) {
    // The proxy's answer goes on through the answer buffer.
    std::memcpy(a->buff, sAnswer.data(), sAnswer.size());
    PassProxyRefusal(a, a->buff, static_cast<int>(sAnswer.size()));
  }
  return false;
}

// Passes the rest of a body announced by Content-Length. False when the
// browser ends, fails or falls silent first: the site must not take the
// shortened body for the whole one.
bool PassRequestBody(ThreadArgs* a, int iEnd) {
  long long iSize = static_cast<long long>(a->request.size());
  while (iSize < iEnd) {
    const int want = static_cast<int>(std::min<long long>(nb::kMaxPacketSize, iEnd - iSize));
    const nbplat::IoResult r = Recv(a->sckBrowser.get(), a->buff, want, nb::kBrowserIdleMs);
    if (!r.ok()) {
      dbgmsg("request body cut short by the browser");
      return AbortSite(a);
    }
    iSize += static_cast<long long>(r.bytes);
    if (!SendAll(a->sckServer.get(), a->buff, static_cast<int>(r.bytes))) return false;
  }
  return true;
}

// Passes a chunked body up to its last chunk and trailers, never beyond.
// False when the browser ends or falls silent first, or the body is
// malformed or too large.
bool PassChunkedBody(ThreadArgs* a, int iHead) {
  ChunkedBodyScanner body;
  const std::string& request = a->request;
  const std::size_t inBuffer =
      body.Feed(request.data() + iHead, request.size() - static_cast<std::size_t>(iHead));
  if (!SendAll(a->sckServer.get(), request.data(), iHead + static_cast<int>(inBuffer)))
    return false;
  while (!body.done()) {
    if (body.failed()) {
      dbgmsg("chunked request body refused");
      return AbortSite(a);
    }
    const nbplat::IoResult r =
        Recv(a->sckBrowser.get(), a->buff, nb::kMaxPacketSize, nb::kBrowserIdleMs);
    if (!r.ok()) {
      dbgmsg("request body cut short by the browser");
      return AbortSite(a);
    }
    const std::size_t n = body.Feed(a->buff, r.bytes);
    if (!SendAll(a->sckServer.get(), a->buff, static_cast<int>(n))) return false;
  }
  return true;
}

// Sends the request and its whole body to the site; false ends the relay.
bool PassRequest(ThreadArgs* a) {
  const char* request = a->request.c_str();
  const int iSize = static_cast<int>(a->request.size());
  const BodyFraming framing = RequestBodyFraming(request);
  if (framing == BodyFraming::Invalid) {
    dbgmsg("request body framing refused");
    return false;
  }
  if (framing == BodyFraming::Chunked) return PassChunkedBody(a, getHeaderLen(a->request));
  // Where the request really ends: a POST's announced body in full.
  const int iEnd = std::max(a->iRequestSize, RequestWireSize(request, iSize));
  if (!SendAll(a->sckServer.get(), request, iSize)) {
    dbgmsg("send to server error. close socket");
    return false;
  }
  return PassRequestBody(a, iEnd);
}

// Checks one block for forbidden words, also across the seam with the
// blocks before it, and sends it; false ends the relay. A word found after
// earlier blocks went out ends the browser's connection with a reset.
bool SendCheckedBlock(ThreadArgs* a, int iPart, ContentScanner* words, bool* sent) {
  a->buff[iPart] = 0;
  if (words->Found(a->buff, static_cast<std::size_t>(iPart))) {
    dbgmsg("badkeywords is found. blocking");
    if (*sent) nbplat::SetResetOnClose(a->sckBrowser.get());
    return false;
  }
  *sent = true;
  if (!SendAll(a->sckBrowser.get(), a->buff, iPart)) {
    dbgmsg("send error.");
    return false;
  }
  dbgmsg("send from site to browser OK");
  return true;
}

// True for an answer that never has a body (204 No Content, 304 Not
// Modified), whatever its head says about lengths.
bool AnswerHasNoBody(const char* head) {
  const char* sp = std::strchr(head, ' ');
  if (sp == nullptr) return false;
  return (std::strncmp(sp + 1, "204", 3) == 0 || std::strncmp(sp + 1, "304", 3) == 0) &&
         (sp[4] == ' ' || sp[4] == '\r');
}

// Reads the site's answer and passes it to the browser in checked blocks.
// An answer that ends any other way than its own end (its announced length,
// or the site's orderly close when it announced none) leaves the browser's
// connection marked for a reset, so a cut answer never looks whole.
void RelayAnswer(ThreadArgs* a) {
  char* buff = a->buff;
  int count = 0;
  nbplat::IoStatus last = nbplat::IoStatus::Ok;
  buff[0] = 0;
  while (last == nbplat::IoStatus::Ok && !isHttpHeaderExists(BufferView(buff, count)) &&
         count < nb::kMaxPacketSize) {
    const int step = std::min(nb::kRelayReadStep, nb::kMaxPacketSize - count);
    const nbplat::IoResult r = Recv(a->sckServer.get(), buff + count, step, nb::kServerIdleMs);
    last = r.status;
    count += static_cast<int>(r.bytes);
    buff[count] = 0;
    dbgmsg("part of http-header is accepted. iRecvDataSize=");
    dbgmsg(static_cast<double>(r.bytes));
  }
  if (!isHttpHeaderExists(BufferView(buff, count))) {
    dbgmsg("Warning: Http header in request isn't present");
    dbgmsg("Request content=" + std::string(buff, static_cast<std::size_t>(count)));
    return;
  }

  const bool bContentType =
      GetParameterFromHttpHeader(BufferView(buff, count), "Content-Type").has_value();
  const bool bContentLength =
      GetParameterFromHttpHeader(BufferView(buff, count), "Content-Length").has_value();
  dbgmsg(bContentType ? "bContentType = true" : "bContentType = false");
  dbgmsg(bContentLength ? "bContentLength = true" : "bContentLength = false");
  if (AnswerHasNoBody(buff)) {
    if (!SendAll(a->sckBrowser.get(), buff, count))
      dbgmsg("error send, in not content type request.");
    return;
  }

  // Without a length (typed or not) the answer runs until the site closes;
  // with one, until that length, and more bytes that came along pass too.
  const int iContLen = getRequestSize(BufferView(buff, count));
  dbgmsg("iContLen");
  dbgmsg(static_cast<double>(iContLen));
  long long total = count;
  const auto ended = [&] { return bContentLength && total >= iContLen; };
  dbgmsg(ended() ? "accept full file from service. send to browser"
                 : "accept file part. send to browser");
  int iPart = count;  // the first block starts with what came with the head
  ContentScanner words;
  bool sent = false;
  for (;;) {
    dbgmsg("send data from site to browser");
    // The block is filled with reads as large as the room left in it: reads
    // of 1000 bytes cost two system calls per kilobyte and capped large
    // downloads at a fraction of what the link gives.
    while (last == nbplat::IoStatus::Ok && !ended() && iPart < nb::kMaxPacketSize) {
      const nbplat::IoResult r =
          Recv(a->sckServer.get(), buff + iPart, nb::kMaxPacketSize - iPart, nb::kServerIdleMs);
      last = r.status;
      iPart += static_cast<int>(r.bytes);
      total += static_cast<long long>(r.bytes);
    }
    if (iPart > 0 && !SendCheckedBlock(a, iPart, &words, &sent)) return;
    if (last != nbplat::IoStatus::Ok || ended()) break;
    iPart = 0;
  }
  if (!ended() && !(last == nbplat::IoStatus::Closed && !bContentLength)) {
    dbgmsg("answer cut short: the browser's connection ends with a reset");
    nbplat::SetResetOnClose(a->sckBrowser.get());
  }
}

}  // namespace

void processRequestDirect(ThreadArgs* a) {
  nbTraceScope trace(kSignature);
  if (a == nullptr || a->buff == nullptr) return;
  dbgmsg("ip, port = " + IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort));

  // A socket left by an earlier road (the service link) is closed here.
  a->sckServer.reset(nbplat::TcpSocket());
  if (!a->sckServer.valid()) return;
  // A peer that stops reading must not hold the worker.
  nbplat::SetSendTimeout(a->sckBrowser.get(), a->ctx.iSendTimeoutMs.load());
  nbplat::SetSendTimeout(a->sckServer.get(), a->ctx.iSendTimeoutMs.load());

  const Program_Options po = a->ctx.options.Get();
  if (!po.sProxyName.empty()) {
    if (!OpenTunnel(a, po)) return;
  } else if (!nbplat::ConnectIPv4(a->sckServer.get(), a->ipHost,
                                  static_cast<std::uint16_t>(a->iHostPort),
                                  nb::kConnectTimeoutMs)) {
    dbgmsg("Socket connect error.\n" + IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort));
    return;
  }
  if (PassRequest(a)) RelayAnswer(a);
}
