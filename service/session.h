// Serves one client connection: request, clock and authentication checks,
// money, fetch, answer packets, charge and log line.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "account_pool.h"
#include "config.h"
#include "dense_packer.h"
#include "destination.h"
#include "login_guard.h"
#include "pack_cache.h"
#include "platform/platform.h"
#include "prepared_pages.h"
#include "protocol/packet.h"
#include "protocol/site_pages.h"
#include "service_limits.h"
#include "service_log.h"

namespace nbsvc {

// Why a request header is not acceptable, or Ok.
enum class HeaderCheck { Ok, TooBig, Empty };

// Size limits of a request header: the body and its decompressed length must
// be 1..kMaxBodySize bytes.
HeaderCheck CheckRequestHeader(const nbClientHeader& h);

// Outcome of reading one request from the connection. Slow: the bytes kept
// coming, but not all within the deadline. Unused: closed before its first
// byte (a connection opened ahead and not needed, a balancer's check).
enum class ReadOutcome { Ok, Silent, Slow, Closed, TooBig, BadBody, Unused };

// Reads the 28-byte header and its bzip2 body; *request receives exactly
// decompSize decompressed bytes. Each wait lasts at most idleMs; the header
// must be complete headerDeadlineMs after the call, the body
// kRequestDeadlineMs after it. Any failure ends the connection. When
// headerClock is given it receives the service clock as the header arrived.
ReadOutcome ReadRequest(nbplat::Socket s, int idleMs, nbClientHeader* header, std::string* request,
                        int headerDeadlineMs = kDefaultHeaderDeadlineMs,
                        std::int64_t* headerClock = nullptr);

// What the connections of one server share: account store connections, the
// limits on guessing codes, where fetches go and the packing cache. Safe
// from many threads.
struct ServiceShared {
  explicit ServiceShared(const ServiceConfig& config)
      : accounts(config.dbPath, static_cast<std::size_t>(config.dbConnections)),
        guard(GuardLimits(), config.addressFailures),
        destinations(config.allowPrivate, config.port),
        cache(config.cacheMb * 1024 * 1024) {}
  AccountPool accounts;
  LoginGuard guard;
  DestinationPolicy destinations;
  PackCache cache;
  DensePacker dense{&cache};  // feeds cache; declared after it
  // Pages sent to clients that keep them, by account (and address for
  // guests) and site.
  SitePageStore sitePages{kSitePagesPerSite, kSitePagesBytes};
  PreparedPages preparedPages{kPreparedPages, kText2Level};
};

// Handles the connection from client address peer (network order) to its
// end; the caller closes the socket. A client that announced
// NB_CAP_KEEPALIVE gets NB_PACKET_END after each whole answer and may send
// its next request on the same connection within kKeepAliveIdleMs; an idle
// connection also ends once *stopping (when given) turns true.
void ServeConnection(nbplat::Socket s, const ServiceConfig& config, ServiceLog& log,
                     ServiceShared& shared, std::uint32_t peer = 0,
                     const std::atomic<bool>* stopping = nullptr);

}  // namespace nbsvc
