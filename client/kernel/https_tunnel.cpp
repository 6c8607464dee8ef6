// CONNECT tunnels for HTTPS: checked, opened directly or through the upstream
// proxy, relayed both ways and counted apart from compressed traffic.
#include "kernel/https_tunnel.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/http_head.h"
#include "http/http_text.h"
#include "kernel/context.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "kernel/relay.h"
#include "kernel/road.h"
#include "kernel/tunnel.h"
#include "kernel/tunnel_slots.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr char kEstablished[] = "HTTP/1.0 200 Connection established\r\n\r\n";

void SendStatus(nbplat::Socket s, const char* status) {
  const std::string answer =
      std::string("HTTP/1.0 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  nbplat::SendAll(s, answer.data(), answer.size());
}

// Passes the proxy's refusal on: its head and the body it announces (or what
// comes until the proxy ends or goes silent when it announces none).
void PassRefusal(ThreadArgs* a, const std::string& answer) {
  if (!nbplat::SendAll(a->sckBrowser.get(), answer.data(), answer.size()).ok()) return;
  const int total = getRequestSize(answer);
  long long passed = static_cast<long long>(answer.size());
  while (total < 0 || passed < total) {
    const nbplat::IoResult r =
        nbplat::RecvSome(a->sckServer.get(), a->buff, nb::kMaxPacketSize, nb::kServerIdleMs);
    if (!r.ok() || !nbplat::SendAll(a->sckBrowser.get(), a->buff, r.bytes).ok()) return;
    passed += static_cast<long long>(r.bytes);
  }
}

// Opens a->sckServer.get() to host:port; on failure the browser has been answered.
bool OpenServerSide(ThreadArgs* a, const Program_Options& po, const std::string& host, int port) {
  a->sckServer.reset(nbplat::TcpSocket());
  if (!a->sckServer.valid()) {
    SendStatus(a->sckBrowser.get(), "502 Bad Gateway");
    return false;
  }
  if (!po.sProxyName.empty()) {
    // The proxy gets the name the browser asked for: it may resolve names
    // this machine cannot.
    std::string answer;
    const TunnelResult r = OpenProxyTunnel(a->sckServer.get(), po, host + ":" + IntToStr(port),
                                           nb::kServerIdleMs, &answer);
    if (r == TunnelResult::Opened) return true;
    dbgmsg("Error: Proxy close connection.\n");
    if (r == TunnelResult::Refused) {
      PassRefusal(a, answer);
    } else {
      SendStatus(a->sckBrowser.get(), "502 Bad Gateway");
    }
    return false;
  }
  std::uint32_t ip = 0;
  if (!nbplat::ResolveIPv4(host, &ip)) {
    dbgmsg("Host unresolved=" + host);
    SendStatus(a->sckBrowser.get(), "502 Bad Gateway");
    return false;
  }
  a->ipHost = ip;
  if (!nbplat::ConnectIPv4(a->sckServer.get(), ip, static_cast<std::uint16_t>(port),
                           nb::kConnectTimeoutMs)) {
    dbgmsg("Socket connect error.\n" + IpIntToStr(ip) + ":" + IntToStr(port));
    SendStatus(a->sckBrowser.get(), "502 Bad Gateway");
    return false;
  }
  return true;
}

// True when host:port names this client itself: any of its addresses (a
// loopback address in any spelling, 0, a name of the machine, an interface
// address) with its proxy or console port. Such a tunnel would come straight
// back to us, and again, until every worker is taken.
bool TargetIsThisClient(const ClientContext& ctx, const std::string& host, int port,
                        const Program_Options& po) {
  const int ports[] = {nbplat::LocalPort(ctx.proxy.lsocket), po.iPort, po.iSettingsPort};
  bool ours = false;
  for (int p : ports) ours = ours || (p > 0 && p == port);
  if (!ours) return false;
  std::uint32_t ip = 0;
  if (!nbplat::ResolveIPv4(host, &ip)) return false;
  for (int p : ports) {
    if (IsOwnListener(ip, port, p)) return true;
  }
  return false;
}

void CountTunnelBytes(OptionsStore& options, long long bytes) {
  if (bytes <= 0) return;
  options.AddTunnelTraffic(static_cast<double>(bytes));
}

}  // namespace

bool IsConnectRequest(const char* buff, int count) {
  if (count < 8 || std::strncmp(buff, "CONNECT ", 8) != 0) return false;
  for (int i = 3; i < count; ++i) {
    if (buff[i - 3] == '\r' && buff[i - 2] == '\n' && buff[i - 1] == '\r' && buff[i] == '\n')
      return true;
  }
  return false;
}

bool ParseConnectTarget(const std::string& head, std::string& host, int& port) {
  const std::size_t eol = head.find("\r\n");
  const std::vector<std::string> words = StrExplode(head.substr(0, eol), " ", true);
  if (words.size() != 3 || words[0] != "CONNECT" || words[2].compare(0, 5, "HTTP/") != 0)
    return false;
  const std::string& target = words[1];
  const std::size_t colon = target.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string name = target.substr(0, colon);
  const std::string digits = target.substr(colon + 1);
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isspace(u) || std::iscntrl(u) || std::strchr("\"'<>&/?#@[]\\:", c) != nullptr)
      return false;
  }
  if (digits.empty() || digits.size() > 5) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  const int number = std::atoi(digits.c_str());
  if (number < 1 || number > 65535) return false;
  host = name;
  port = number;
  return true;
}

long long RelayBothWays(nbplat::Socket browser, nbplat::Socket server, char* buff, int cap,
                        int idleMs, TunnelSlot* slot) {
  const nbplat::Socket from[2] = {browser, server};
  const nbplat::Socket to[2] = {server, browser};
  bool open[2] = {true, true};  // this side may still send to us
  long long moved = 0;
  // A tunnel the registry closes is woken by its shut-down sockets on some
  // systems only: the wait is cut into slices that look at the mark too.
  const int slice = slot != nullptr ? std::min(idleMs, nb::kTunnelCloseCheckMs) : idleMs;
  int idleFor = 0;
  while (open[0] || open[1]) {
    const int ready = nbplat::WaitReadable(open[0] ? browser : nbplat::kNoSocket,
                                           open[1] ? server : nbplat::kNoSocket, slice);
    if (ready == 0 && slot != nullptr && !slot->Closing() && (idleFor += slice) < idleMs) continue;
    if (ready <= 0) {
      dbgmsg(ready == 0 ? "tunnel idle or closed. close" : "tunnel wait error. close");
      return moved;
    }
    idleFor = 0;
    for (int i = 0; i < 2; ++i) {
      if (!open[i] || (ready & (1 << i)) == 0) continue;
      const nbplat::IoResult r = nbplat::RecvSome(from[i], buff, static_cast<std::size_t>(cap), 0);
      if (r.status == nbplat::IoStatus::TimedOut) continue;
      if (r.status == nbplat::IoStatus::Closed) {
        // The end of one direction is passed on; the other keeps flowing.
        open[i] = false;
        nbplat::ShutdownSend(to[i]);
        continue;
      }
      if (!r.ok()) return moved;
      if (slot != nullptr) slot->Touch();
      if (!nbplat::SendAll(to[i], buff, r.bytes).ok()) return moved;
      moved += static_cast<long long>(r.bytes);
    }
  }
  return moved;
}

void processConnectTunnel(ThreadArgs* a, const Program_Options& po) {
  nbTraceScope trace("void processConnectTunnel(ThreadArgs* thArgs)");
  const std::string& head = a->request;
  const int count = static_cast<int>(head.size());
  std::string host;
  int port = 0;
  if (!ParseConnectTarget(head, host, port)) {
    dbgmsg("bad CONNECT request");
    SendStatus(a->sckBrowser.get(), "400 Bad Request");
    return;
  }
  a->iHostPort = port;
  dbgmsg("Host=" + host);
  dbgmsg("Port=" + IntToStr(port));
  const std::string sUrl =
      "https://" + host + (port == nb::kTunnelPort ? "" : ":" + IntToStr(port)) + "/";
  LogURL(sUrl.c_str());
  const bool bSettingsGuard = port == po.iSettingsPort && a->ipClient != nb::kLoopbackNet;
  if (port != nb::kTunnelPort || bSettingsGuard) {
    dbgmsg("tunnel blocked. port");
    SendStatus(a->sckBrowser.get(), "403 Forbidden");
    return;
  }
  if (TargetIsThisClient(a->ctx, host, port, po)) {
    dbgmsg("tunnel to the proxy itself refused");
    SendStatus(a->sckBrowser.get(), "403 Forbidden");
    return;
  }
  // The URL fragment list applies to tunnels as to any other request.
  if (isBanner("CONNECT " + sUrl + " HTTP/1.0\r\n\r\n")) {
    dbgmsg("request blocked. banner");
    SendStatus(a->sckBrowser.get(), "403 Forbidden");
    return;
  }
  // A peer that stops reading must not hold the worker.
  nbplat::SetSendTimeout(a->sckBrowser.get(), a->ctx.iSendTimeoutMs.load());
  if (!OpenServerSide(a, po, host, port)) return;
  nbplat::SetSendTimeout(a->sckServer.get(), a->ctx.iSendTimeoutMs.load());
  if (!nbplat::SendAll(a->sckBrowser.get(), kEstablished, sizeof kEstablished - 1).ok()) return;
  TunnelSlot slot(a->sckBrowser.get(), a->sckServer.get());

  // Bytes the browser sent right after the head go first.
  const int iHead = static_cast<int>(head.find("\r\n\r\n")) + 4;
  long long moved = 0;
  if (count > iHead) {
    if (!nbplat::SendAll(a->sckServer.get(), head.data() + iHead,
                         static_cast<std::size_t>(count - iHead))
             .ok())
      return;
    moved = count - iHead;
  }
  moved += RelayBothWays(a->sckBrowser.get(), a->sckServer.get(), a->buff, nb::kMaxPacketSize,
                         nb::kServerIdleMs, &slot);
  dbgmsg("tunnel bytes=");
  dbgmsg(static_cast<double>(moved));
  CountTunnelBytes(a->ctx.options, moved);
}
