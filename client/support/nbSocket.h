// Blocking TCP socket object of the settings console. Failures are reported by
// false results and short lines on standard output. The object owns its
// socket: it is closed by Close() or, at the latest, when the object goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/owned_socket.h"
#include "platform/platform.h"

class nbSocket {
 public:
  nbSocket();
  // One send of all of s; true when every byte went in that call.
  bool Send(std::string s);
  // One receive of at most iLength bytes into s (binary-safe); false and s
  // cleared on end of stream or error.
  bool Recv(std::string& s, int iLength);
  // Listens on every local address; ports 1..65534 only.
  bool Listen(int iPort);
  // Blocks for the next connection and hands it to client.
  bool Accept(nbSocket& client);
  std::uint32_t ip() const { return m_IP; }
  // Shuts an accepted connection down both ways, then closes it; false when
  // there was no socket.
  bool Close();
  // True while a socket is held.
  bool HasSocket() const { return hSocket.valid(); }
  // The handle, still owned by this object.
  nbplat::Socket Handle() const { return hSocket.get(); }

 private:
  nbplat::OwnedSocket hSocket;
  std::uint32_t m_IP;
  bool m_bListening;
  // Set once the sockets library has started; a failed start is retried by
  // the next construction.
  static std::atomic<bool> bWSAInitOK;
};
