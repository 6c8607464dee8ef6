// The CONNECT request to an HTTP proxy and the reading of its answer.
#include "protocol/connect.h"

#include <cctype>

#include "protocol/base64.h"
#include "protocol/trace.h"

std::string ConnectRequest(const ProxyEndpoint& proxy, const std::string& target) {
  const std::string sCred = Base64::encode(proxy.login + ":" + proxy.password);
  return "CONNECT " + target +
         " HTTP/1.0\r\nUser-Agent: Mozilla/4.08 [en] (WinNT; U)\r\n"
         "Authorization: Basic " +
         sCred + "\r\nProxy-Authorization: Basic " + sCred + "\r\n\r\n";
}

bool TunnelAnswerOpens(const std::string& answer) {
  const std::size_t pos = answer.find("200 Connection established");
  if (pos != std::string::npos && pos > 0) return true;
  if (answer.compare(0, 5, "HTTP/") != 0) return false;
  const std::size_t sp = answer.find(' ');
  const std::size_t eol = answer.find("\r\n");
  if (sp == std::string::npos || sp + 3 >= answer.size() || sp > eol) return false;
  const auto digit = [&](std::size_t i) {
    return std::isdigit(static_cast<unsigned char>(answer[i])) != 0;
  };
  const bool codeEnds = sp + 4 == answer.size() || !digit(sp + 4);
  return answer[sp + 1] == '2' && digit(sp + 2) && digit(sp + 3) && codeEnds;
}

TunnelResult OpenProxyTunnel(nbplat::Socket s, const ProxyEndpoint& proxy,
                             const std::string& target, int idleMs, std::string* answer) {
  answer->clear();
  if (proxy.port == 0) return TunnelResult::Unreachable;
  std::uint32_t ip = 0;
  if (!nbplat::ResolveIPv4(proxy.host, &ip)) return TunnelResult::Unresolved;
  if (!nbplat::ConnectIPv4(s, ip, proxy.port, proxy.connectTimeoutMs)) {
    return TunnelResult::Unreachable;
  }
  const std::string sReq = ConnectRequest(proxy, target);
  ProtocolTrace("send header to proxy");
  ProtocolTrace("proxy req: " + sReq);
  if (!nbplat::SendAll(s, sReq.data(), sReq.size()).ok()) return TunnelResult::NoAnswer;

  // The answer head may come in pieces; nothing of the far side follows it
  // before our own request goes through, so reading to its end takes no more.
  char chunk[kProxyAnswerSize];
  while (answer->size() < kProxyAnswerSize && answer->find("\r\n\r\n") == std::string::npos) {
    const nbplat::IoResult r =
        nbplat::RecvSome(s, chunk, kProxyAnswerSize - answer->size(), idleMs);
    if (!r.ok()) break;
    answer->append(chunk, r.bytes);
  }
  ProtocolTrace("recv header to proxy");
  ProtocolTrace("proxy answer: " + *answer);
  if (answer->empty()) return TunnelResult::NoAnswer;
  return TunnelAnswerOpens(*answer) ? TunnelResult::Opened : TunnelResult::Refused;
}
