// Tunables of NimbrelService: limits, time-outs and defaults.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/packet.h"

namespace nbsvc {

inline constexpr std::uint16_t kDefaultPort = kServiceTcpPort;
inline constexpr int kListenBacklog = 64;
inline constexpr int kDefaultMaxConnections = 200;
// Connections one client address may hold at once; more are closed at once,
// so a few addresses cannot take every slot. A browser sends at most about 32
// requests at once through its proxy, so one busy user stays below it.
inline constexpr int kDefaultMaxPerAddress = 32;

// A client that sends nothing for this long loses its connection.
inline constexpr int kDefaultClientIdleMs = 30000;
// Deadlines from the accept, however steadily the bytes trickle in: the
// 28-byte request header, and the whole request with its body.
inline constexpr int kDefaultHeaderDeadlineMs = 10000;
inline constexpr int kRequestDeadlineMs = 120000;
// A web server that stays silent for this long ends the fetch.
inline constexpr int kDefaultFetchIdleMs = 30000;
inline constexpr int kFetchConnectMs = 15000;
// Largest web server answer kept; anything beyond is cut off.
inline constexpr std::size_t kDefaultMaxResponse = 32u * 1024 * 1024;

// Account database: connections one node may open at once, how long a
// statement waits for a free one, and the time-outs that end a connect or a
// statement the database never answers (a silent database fails as a
// database error, so the client gets the 503 page, well within 10 s).
inline constexpr int kDefaultDbConnections = 4;
inline constexpr int kDbWaitMs = 2000;
inline constexpr int kDbConnectMs = 3000;
inline constexpr int kDbStatementMs = 3000;
// TCP keepalives on database connections: a peer gone without a word is
// found after idle + interval * count seconds.
inline constexpr int kDbKeepaliveIdleSec = 10;
inline constexpr int kDbKeepaliveIntervalSec = 5;
inline constexpr int kDbKeepaliveCount = 3;

// Memory for packing results kept for content seen again, in MiB.
inline constexpr std::size_t kDefaultCacheMb = 256;

// A client clock further than this from ours gets a time correction.
inline constexpr std::int64_t kClockToleranceSec = 60;

// Price of one mebibyte sent to a client, in hundredths of the currency.
inline constexpr std::int64_t kDefaultPricePerMiB = 100;

// JPEG qualities used for the client's quality codes.
inline constexpr int kJpegQualityMedium = 40;  // code 1
inline constexpr int kJpegQualityLow = 20;     // code 2

}  // namespace nbsvc
