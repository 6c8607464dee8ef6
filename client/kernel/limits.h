// Fixed sizes and tunables of the proxy core and the service link.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/packet.h"

namespace nb {

inline constexpr int kRequestBufferSize = 200010;  // per browser connection
// Largest packet body of the service link; also the largest request that may
// take the service road, and the relay's block size.
inline constexpr int kMaxPacketSize = static_cast<int>(kMaxBodySize);
inline constexpr int kRelayReadStep = 1000;  // one read of an answer
inline constexpr int kMaxWorkers = 100;
// Tunnels may hold at most this many workers; the rest serve other requests.
inline constexpr int kMaxTunnelWorkers = kMaxWorkers * 3 / 4;
inline constexpr int kListenBacklog = 10;
inline constexpr int kServicePort = kServiceTcpPort;
inline constexpr int kDefaultPort = 4321;
inline constexpr int kDefaultSettingsPort = 3344;
// Image quality of a fresh start without an options file: 1, medium.
inline constexpr int kDefaultJpegLevel = 1;
// The only port a browser's CONNECT may reach: HTTPS sites.
inline constexpr int kTunnelPort = 443;
// 127.0.0.1 in network byte order.
inline constexpr std::uint32_t kLoopbackNet = 0x0100007Fu;

// Idle time-outs: a silent peer frees its worker after this long.
inline constexpr int kBrowserIdleMs = 30000;
inline constexpr int kServerIdleMs = 60000;
inline constexpr int kServiceIdleMs = 60000;
inline constexpr int kConnectTimeoutMs = 20000;
// The whole request head must arrive within this time, however busy the
// browser keeps each read; and a send that makes no progress for this long
// (a peer that stopped reading) ends the connection.
inline constexpr int kRequestHeadDeadlineMs = 30000;
inline constexpr int kSendTimeoutMs = 30000;
// How often a waiting tunnel looks whether the socket registry closed it.
inline constexpr int kTunnelCloseCheckMs = 1000;
// The traffic counters reach the options file at most this long after they
// change (and at a normal stop): a killed client loses at most this much.
inline constexpr int kStatsFlushMs = 2000;

// Largest request body a browser may announce; a larger Content-Length is
// refused, so that a request's whole size always fits an int.
inline constexpr long long kMaxRequestBody = 2000000000;
// Services whose capability bits are remembered at once.
inline constexpr std::size_t kMaxRememberedServices = 8;

// Idle service connections kept per service (and upstream proxy), and how
// long one may stay idle: below the service's own idle time, so the client
// seldom takes one the service is just closing.
inline constexpr std::size_t kServicePoolPerService = 8;
inline constexpr std::uint32_t kServicePoolIdleMs = 20000;
// A connection opened ahead waits at most this long for its first request:
// the service gives a new connection 10 s for its first request header.
inline constexpr std::uint32_t kServicePoolAheadIdleMs = 8000;

// Pages of sites kept to have new pages coded against them: per site, and
// in all (each at most kSitePageMaxBytes).
inline constexpr std::size_t kSitePagesPerSite = 2;
inline constexpr std::size_t kSitePagesBytes = 8u * 1024 * 1024;

// Answers the service pushed after a page: kept at most this long, and at
// most this many bytes of them in all (the oldest go first).
inline constexpr std::uint32_t kPushStoreMs = 30000;
inline constexpr std::size_t kPushStoreBytes = 4u * 1024 * 1024;
// A browser request for a URL the service promised waits at most this long
// for its push (the page's exchange ending ends the wait sooner); at most
// kPushPromisesPerPage URLs of one page are waited for.
inline constexpr int kPushWaitMs = 8000;
inline constexpr std::size_t kPushPromisesPerPage = 16;
// URLs the browser got lately, named to the service on a page's request so
// it pushes none of them: at most kHeldUrls in all, each for kHeldUrlMs.
inline constexpr std::size_t kHeldUrls = 1024;
inline constexpr std::uint32_t kHeldUrlMs = 30u * 60 * 1000;

}  // namespace nb
