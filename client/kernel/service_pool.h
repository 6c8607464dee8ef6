// Idle connections to the compression service, kept between requests so a
// request finds one ready instead of paying for a connect (and, through the
// upstream proxy, for a tunnel). Only a service that ends its answers with
// NB_PACKET_END ever gets a connection back into the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/owned_socket.h"
#include "protocol/packet.h"
#include "support/nbMutex.h"

// True when h ends an answer on a kept connection: kind NB_PACKET_END
// without body from a service that set NB_CAP_KEEPALIVE on it. Any other
// kind 10 is an unknown kind, read and dropped.
bool IsAnswerEnd(const nbServiceHeader& h);

class ServicePool {
 public:
  // Keeps at most perKey idle connections per key and at most keys keys;
  // an idle connection older than idleMs is closed instead of handed out.
  ServicePool(std::size_t perKey, std::size_t keys, std::uint32_t idleMs);

  // The most recently kept idle connection for key, or an empty socket.
  // Connections idle too long, or on which the service has closed or sent
  // anything (it is no longer in step), are closed on the way.
  nbplat::OwnedSocket Take(const std::string& key, std::uint32_t nowMs);
  // Keeps s idle for key, for at most maxIdleMs (0: the pool's idleMs);
  // beyond the bound the oldest one of key is closed.
  void Give(const std::string& key, nbplat::OwnedSocket s, std::uint32_t nowMs,
            std::uint32_t maxIdleMs = 0);
  // Idle connections held for key now (some may have been closed meanwhile).
  std::size_t Idle(const std::string& key) const;

  // Opening ahead: true when the caller should open one connection for key
  // now (none is idle and none is being opened); EndOpen(key) must follow.
  bool BeginOpen(const std::string& key);
  void EndOpen(const std::string& key);

  // Service-road requests so far, and those that found a ready connection.
  void Count(bool ready);
  std::uint64_t Requests() const;
  std::uint64_t Ready() const;

 private:
  struct Idler {
    nbplat::OwnedSocket s;
    std::uint32_t since;
    std::uint32_t maxIdleMs;
  };
  const std::size_t perKey_, keys_;
  const std::uint32_t idleMs_;
  mutable nbMutex mu_;
  std::map<std::string, std::deque<Idler>> idle_;  // oldest first; guarded by mu_
  std::deque<std::string> order_;                  // keys, oldest first; guarded by mu_
  std::set<std::string> opening_;                  // guarded by mu_
  std::uint64_t requests_ = 0, ready_ = 0;         // guarded by mu_
};

// The program's pool, bounded by nb::kServicePoolPerService,
// nb::kServicePoolServices and nb::kServicePoolIdleMs.
ServicePool& ServiceConnections();

// Opens one connection ahead for key on a thread of its own when the pool
// holds none idle and none is being opened; connect fills its socket (the
// service, or a tunnel to it) and returns true when it got there. It is
// kept for nb::kServicePoolAheadIdleMs: the service closes a connection
// whose first request is late.
void OpenServiceAhead(const std::string& key, std::function<bool(nbplat::Socket)> connect);
