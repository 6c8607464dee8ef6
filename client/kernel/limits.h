// Fixed sizes and tunables of the proxy core and the service link.
#pragma once

namespace nb {

inline constexpr int kRequestBufferSize = 200010;  // per browser connection
inline constexpr int kMaxPacketSize = 200000;      // NB_CLIENT_MAX_PACKET_SIZE
inline constexpr int kRelayReadStep = 1000;        // one read of an answer
inline constexpr int kMaxWorkers = 100;
inline constexpr int kListenBacklog = 10;
inline constexpr int kServicePort = 443;
inline constexpr int kDefaultPort = 4321;
inline constexpr int kDefaultSettingsPort = 3344;

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

// Largest request body a browser may announce; a larger Content-Length is
// refused, so that a request's whole size always fits an int.
inline constexpr long long kMaxRequestBody = 2000000000;

}  // namespace nb

#define NB_CLIENT_MAX_PACKET_SIZE 200000
