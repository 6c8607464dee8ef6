// Blocking TCP socket object of the settings console.
#include "support/nbSocket.h"

#include <memory>
#include <new>

#include "support/debug.h"

std::atomic<bool> nbSocket::bWSAInitOK{false};

nbSocket::nbSocket() : m_IP(0), m_bListening(false) {
  if (!bWSAInitOK.load() && nbplat::NetStartup()) bWSAInitOK.store(true);
}

bool nbSocket::Send(std::string s) {
  if (!hSocket.valid()) {
    dbgmsg("bool nbSocket::Send (string s) : hSocket <= 0");
    return false;
  }
  nbplat::IoResult r = nbplat::SendSome(hSocket.get(), s.data(), s.size());
  return r.ok() && r.bytes == s.size();
}

bool nbSocket::Recv(std::string& s, int iLength) {
  if (!hSocket.valid()) {
    dbgmsg("bool nbSocket::Recv (string& s, int iLength) : hSocket <= 0");
    return false;
  }
  if (iLength <= 0) return false;
  std::unique_ptr<char[]> buf(new (std::nothrow) char[static_cast<std::size_t>(iLength)]);
  if (!buf) return false;
  nbplat::IoResult r =
      nbplat::RecvSome(hSocket.get(), buf.get(), static_cast<std::size_t>(iLength));
  if (r.ok() && r.bytes > 0) {
    s.assign(buf.get(), r.bytes);
    return true;
  }
  s.clear();
  dprintf("iRecvLen=%d", r.status == nbplat::IoStatus::Closed ? 0 : -1);
  return false;
}

bool nbSocket::Listen(int iPort) {
  if (iPort < 1 || iPort > 65534) return false;
  m_bListening = false;
  // A socket left by an earlier failed Listen is closed, not leaked.
  hSocket.reset(nbplat::TcpSocket());
  if (!hSocket.valid()) return false;
  if (!nbplat::SetReuseAddress(hSocket.get())) return false;
  nbplat::SetBlocking(hSocket.get());
  if (!nbplat::BindIPv4(hSocket.get(), static_cast<std::uint16_t>(iPort))) {
    dbgmsg("bind failed");
    return false;
  }
  if (!nbplat::ListenOn(hSocket.get(), 0x7fffffff)) {
    dbgmsg("listen failed");
    return false;
  }
  m_bListening = true;
  return true;
}

bool nbSocket::Accept(nbSocket& client) {
  std::uint32_t peer = 0;
  nbplat::Socket s = nbplat::AcceptConnection(hSocket.get(), &peer);
  dprintf("nbSocket nbSocket::Accept()::sckAcc=%llu", static_cast<unsigned long long>(s));
  if (s == nbplat::kNoSocket) return false;
  client.m_bListening = false;
  client.hSocket.reset(s);
  client.m_IP = peer;
  dprintf("wsAccept.m_IP=%lu", static_cast<unsigned long>(peer));
  return true;
}

bool nbSocket::Close() {
  if (!hSocket.valid()) return false;
  if (!m_bListening) nbplat::ShutdownSocket(hSocket.get());
  hSocket.reset();
  m_bListening = false;
  return true;
}
