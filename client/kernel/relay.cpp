// Direct relay: connects to the web site (or opens a CONNECT tunnel through
// the upstream proxy), sends the request and its body, and passes the answer
// to the browser in blocks of at most 200000 bytes, each checked for
// forbidden content words before it is sent.
#include "kernel/relay.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "http/http.h"
#include "http/nbHttp.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/road.h"
#include "support/base64.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr const char* kSignature = "void processRequestDirect(ThreadArgs* thArgs)";

// Bytes a read may move, or 0 when the peer closed, failed or stayed silent.
std::size_t Recv(nbplat::Socket s, char* at, int len, int idleMs) {
  if (len <= 0) return 0;
  const nbplat::IoResult r = nbplat::RecvSome(s, at, static_cast<std::size_t>(len), idleMs);
  return r.ok() ? r.bytes : 0;
}

bool SendAll(nbplat::Socket s, const char* data, int len) {
  if (len <= 0) return true;
  return nbplat::SendAll(s, data, static_cast<std::size_t>(len)).ok();
}

// The proxy port option read as a number, truncated and taken modulo 65536.
std::uint16_t ProxyPortOf(const std::string& sPort) {
  const double d = StrToDbl(sPort);
  if (!std::isfinite(d) || d <= -2147483648.0 || d >= 2147483648.0) return 0;
  return static_cast<std::uint16_t>(static_cast<std::int32_t>(d));
}

// True when the proxy's answer to CONNECT opens the tunnel: the usual
// "200 Connection established" text, or any 2xx status line.
bool TunnelOpened(const std::string& sAnswer) {
  const std::size_t pos = sAnswer.find("200 Connection established");
  if (pos != std::string::npos && pos > 0) return true;
  if (sAnswer.compare(0, 5, "HTTP/") != 0) return false;
  const std::size_t sp = sAnswer.find(' ');
  return sp != std::string::npos && sp + 3 < sAnswer.size() && sAnswer[sp + 1] == '2' &&
         std::isdigit(static_cast<unsigned char>(sAnswer[sp + 2])) &&
         std::isdigit(static_cast<unsigned char>(sAnswer[sp + 3]));
}

// Passes the proxy's refusal to the browser: the first read as it came, then
// the rest of the announced answer (or until the proxy closes or goes silent).
void PassProxyRefusal(ThreadArgs* a, char* buff, int count) {
  if (!SendAll(a->sckBrowser, buff, count)) return;
  buff[count] = 0;
  const int total = isHttpHeaderExists(buff, count) ? getRequestSize(buff, count) : -1;
  long long passed = count;
  bool bLengthKnown = false;
  {
    char sLen[32];
    bLengthKnown =
        total >= 0 && getParameterFromHttpHeader("Content-Length", sLen, sizeof sLen, buff);
  }
  while (!(bLengthKnown && passed >= total)) {
    const std::size_t n = Recv(a->sckServer, buff, nb::kMaxPacketSize, nb::kServerIdleMs);
    if (n == 0) return;
    if (!SendAll(a->sckBrowser, buff, static_cast<int>(n))) return;
    passed += static_cast<long long>(n);
  }
}

// Connects through the upstream proxy with a CONNECT request; true when the
// tunnel to the site stands on a->sckServer.
bool OpenTunnel(ThreadArgs* a, const Program_Options& po) {
  std::uint32_t ipProxy = 0;
  if (!nbplat::ResolveIPv4(po.sProxyName, &ipProxy)) {
    dbgmsg("proxy unresolved=" + po.sProxyName);
    return false;
  }
  const std::uint16_t port = ProxyPortOf(po.sProxyPort);
  if (!nbplat::ConnectIPv4(a->sckServer, ipProxy, port, nb::kConnectTimeoutMs)) {
    dbgmsg("Socket connect error.\n" + po.sProxyName + ":" + IntToStr(port));
    return false;
  }
  const std::string sCred = Base64::encode(po.sProxyLogin + ":" + po.sProxyPassword);
  const std::string sReq = "CONNECT " + IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort) +
                           " HTTP/1.0\r\nUser-Agent: Mozilla/4.08 [en] (WinNT; U)\r\n"
                           "Authorization: Basic " +
                           sCred + "\r\nProxy-Authorization: Basic " + sCred + "\r\n\r\n";
  dbgmsg("send header to proxy");
  dbgmsg("proxy req: " + sReq);
  if (!SendAll(a->sckServer, sReq.data(), static_cast<int>(sReq.size()))) return false;

  // The proxy's answer is read aside: the connection buffer still holds the
  // request that goes through the tunnel.
  std::string sAnswer(static_cast<std::size_t>(nb::kProxyAnswerSize), '\0');
  sAnswer.resize(Recv(a->sckServer, &sAnswer[0], nb::kProxyAnswerSize, nb::kServerIdleMs));
  dbgmsg("recv header to proxy");
  dbgmsg("proxy answer: " + sAnswer);
  if (!sAnswer.empty() && TunnelOpened(sAnswer)) return true;
  dbgmsg("Error: Proxy close connection.\n");
  if (!sAnswer.empty()) {
    std::memcpy(a->buff, sAnswer.data(), sAnswer.size());
    PassProxyRefusal(a, a->buff, static_cast<int>(sAnswer.size()));
  }
  return false;
}

// Passes the rest of a request body that did not fit the first read.
bool PassRequestBody(ThreadArgs* a, int iEnd) {
  long long iSize = a->iSize;
  while (iSize < iEnd) {
    const int want = static_cast<int>(std::min<long long>(nb::kMaxPacketSize, iEnd - iSize));
    const std::size_t n = Recv(a->sckBrowser, a->buff, want, nb::kBrowserIdleMs);
    if (n == 0) return true;  // the browser sent what it had
    iSize += static_cast<long long>(n);
    if (!SendAll(a->sckServer, a->buff, static_cast<int>(n))) return false;
  }
  return true;
}

// Checks one block for forbidden words and sends it; false ends the relay.
bool SendCheckedBlock(ThreadArgs* a, int iPart) {
  a->buff[iPart] = 0;
  if (BadKeywordsInContent(a->buff)) {
    dbgmsg("badkeywords is found. blocking");
    return false;
  }
  if (!SendAll(a->sckBrowser, a->buff, iPart)) {
    dbgmsg("send error.");
    return false;
  }
  dbgmsg("send from site to browser OK");
  return true;
}

// Reads the site's answer and passes it to the browser.
void RelayAnswer(ThreadArgs* a) {
  char* buff = a->buff;
  int count = 0;
  bool bLast = true;
  buff[0] = 0;
  while (bLast && !isHttpHeaderExists(buff, count) && count < nb::kMaxPacketSize) {
    const int step = std::min(nb::kRelayReadStep, nb::kMaxPacketSize - count);
    const std::size_t n = Recv(a->sckServer, buff + count, step, nb::kServerIdleMs);
    bLast = n > 0;
    count += static_cast<int>(n);
    buff[count] = 0;
    dbgmsg("part of http-header is accepted. iRecvDataSize=");
    dbgmsg(static_cast<double>(n));
  }
  if (!isHttpHeaderExists(buff, count)) {
    dbgmsg("Warning: Http header in request isn't present");
    dbgmsg("Request content=" + std::string(buff, static_cast<std::size_t>(count)));
    return;
  }

  char sValue[256];
  const bool bContentType = getParameterFromHttpHeader("Content-Type", sValue, sizeof sValue, buff);
  const bool bContentLength =
      getParameterFromHttpHeader("Content-Length", sValue, sizeof sValue, buff);
  dbgmsg(bContentType ? "bContentType = true" : "bContentType = false");
  dbgmsg(bContentLength ? "bContentLength = true" : "bContentLength = false");

  const int iContLen = getRequestSize(buff, count);
  dbgmsg("iContLen");
  dbgmsg(static_cast<double>(iContLen));
  if (!bContentType && !(bContentLength && count < iContLen)) {
    // No body type (a redirect, a 304): only what came with the head is
    // passed on. A body whose length is announced is relayed in full below,
    // type or not, so that it never reaches the browser cut short.
    if (!SendAll(a->sckBrowser, buff, count)) dbgmsg("error send, in not content type request.");
    return;
  }
  if (bContentLength && count >= iContLen) {
    // The whole answer is here (a site that sent more than it announced
    // gets what it sent passed on, too).
    dbgmsg("accept full file from service. send to browser");
    SendCheckedBlock(a, count);
    return;
  }

  dbgmsg("accept file part. send to browser");
  long long total = count;
  int iPart = count;
  bool bFirst = true;
  while (bLast && !(bContentLength && total >= iContLen)) {
    dbgmsg("send data from site to browser");
    if (!bFirst) iPart = 0;
    bFirst = false;
    // The block is filled with reads as large as the room left in it: reads
    // of 1000 bytes cost two system calls per kilobyte and capped large
    // downloads at a fraction of what the link gives.
    while (bLast && !(bContentLength && total >= iContLen) && iPart < nb::kMaxPacketSize) {
      const int step = nb::kMaxPacketSize - iPart;
      const std::size_t n = Recv(a->sckServer, buff + iPart, step, nb::kServerIdleMs);
      bLast = n > 0;
      iPart += static_cast<int>(n);
      total += static_cast<long long>(n);
    }
    if (iPart == 0) break;
    if (!SendCheckedBlock(a, iPart)) return;
  }
}

}  // namespace

void processRequestDirect(ThreadArgs* a) {
  nbTraceScope trace(kSignature);
  if (a == nullptr || a->buff == nullptr) return;
  dbgmsg("ip, port = " + IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort));

  // A socket left by an earlier road (the service link) is not leaked.
  if (a->sckServer != nbplat::kNoSocket && a->sckServer != 0) nbplat::CloseSocket(a->sckServer);
  a->sckServer = nbplat::TcpSocket();
  if (a->sckServer == nbplat::kNoSocket) return;

  const Program_Options po = GetProgramOptions();
  if (!po.sProxyName.empty()) {
    if (!OpenTunnel(a, po)) return;
  } else if (!nbplat::ConnectIPv4(a->sckServer, a->ipHost, static_cast<std::uint16_t>(a->iHostPort),
                                  nb::kConnectTimeoutMs)) {
    dbgmsg("Socket connect error.\n" + IpIntToStr(a->ipHost) + ":" + IntToStr(a->iHostPort));
    return;
  }

  // Where the request really ends: a POST's announced body in full.
  const int iEnd = std::max(a->iRequestSize, RequestWireSize(a->buff, a->iSize));
  if (!SendAll(a->sckServer, a->buff, a->iSize)) {
    dbgmsg("send to server error. close socket");
    return;
  }
  if (!PassRequestBody(a, iEnd)) return;
  RelayAnswer(a);
}
