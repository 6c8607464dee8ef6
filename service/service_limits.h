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
// A client that announced several exchanges per connection may leave it
// idle between them for this long; then the service closes it. Each idle
// connection keeps its slot and thread, within the per-address bound.
inline constexpr int kKeepAliveIdleMs = 30000;
// An idle connection looks at the server's stop mark this often.
inline constexpr int kKeepAliveSliceMs = 250;
// Deadlines from the accept (or, on a kept connection, from the first byte
// of the next request), however steadily the bytes trickle in: the
// 28-byte request header, and the whole request with its body.
inline constexpr int kDefaultHeaderDeadlineMs = 10000;
inline constexpr int kRequestDeadlineMs = 120000;
// A web server that stays silent for this long ends the fetch.
inline constexpr int kDefaultFetchIdleMs = 30000;
inline constexpr int kFetchConnectMs = 15000;
// Largest web server answer relayed; anything beyond is cut off.
inline constexpr std::size_t kDefaultMaxResponse = 32u * 1024 * 1024;
// Longest web server head followed; a longer one is passed on unread, and
// the answer is then framed by the connection's end.
inline constexpr std::size_t kMaxResponseHeadBytes = 64 * 1024;

// A client that takes no byte of its answer for this long loses its
// connection (and the memory and thread serving it).
inline constexpr int kDefaultClientSendTimeoutMs = 30000;
// Longest single send to a client; progress is judged between them.
inline constexpr int kSendSliceMs = 1000;
// Pieces of one answer packed at once. With the piece being read and the
// batch being sent, one connection holds about (this + 1) pieces and their
// packed forms (each at most kMaxBodySize bytes), whatever the answer's
// size and however many cores the machine has: about 1.5 MB.
inline constexpr int kMaxPiecesPacking = 2;
// An HTML page, for a client that keeps connections, leaves in a small
// first piece as soon as this much of its body is in, or as soon as some
// of it is in and this long has passed since its head: the browser reads
// the page's head and asks for its style sheets and scripts meanwhile.
inline constexpr std::size_t kEarlyPieceBytes = 8 * 1024;
inline constexpr int kEarlyPieceMs = 30;
// The default of --early-pages. Off: on the slow-link bench, pages that
// start early were no faster at
// 256 kbit/s and 10-25 % slower at 2 Mbit/s and without limit than pages
// sent whole (a difference near the bench's run-to-run spread).
inline constexpr bool kEarlyPages = false;
// Largest JPEG image held whole for recoding, and what all answers may hold
// for recoding at once; beyond either, an image leaves unrecoded in plain
// pieces as it arrives.
inline constexpr std::size_t kMaxRecodedImage = 16u * 1024 * 1024;
inline constexpr std::size_t kRecodeBudget = 128u * 1024 * 1024;

// A balance older than this is read again before the next piece leaves,
// so a slow answer sees what concurrent answers took meanwhile.
inline constexpr int kBalanceFreshMs = 1000;

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

// The service reads its own interface addresses again after this long.
inline constexpr std::int64_t kOwnAddressesRefreshSec = 30;

// Memory for packing results kept for content seen again, in MiB.
inline constexpr std::size_t kDefaultCacheMb = 256;
// Popular pieces waiting to be packed densely in the background; more are
// not queued (each holds up to kMaxBodySize bytes).
inline constexpr std::size_t kDenseQueuePieces = 16;
// Pages of sites kept to code new pages against: per account and site, and
// in all.
inline constexpr std::size_t kSitePagesPerSite = 2;
inline constexpr std::size_t kSitePagesBytes = 64u * 1024 * 1024;
// Site pages kept prepared as dictionaries for the requests that name them;
// each takes about 18 bytes of tables per byte of page (12 MB for a page of
// 700 KB), so this bounds them to about 100 MB at kSitePageMaxBytes.
inline constexpr std::size_t kPreparedPages = 8;
// Level for a piece coded against the answer before it (and the site's
// page) while the client waits; such pieces are never cached. Level 12
// costs a few tens of ms more than 9 per 200,000-byte piece; 19 saves
// another 8 % of bytes but takes about 0.5 s of a core per piece, which a
// waiting browser feels more than the bytes saved even at 256 kbit.
inline constexpr int kChainLevel = 12;
// Without a site page, a piece with less content than this before it (an
// answer's head, say) is coded alone, as before, and so cached.
inline constexpr std::size_t kChainMinBefore = 4 * 1024;

// A client clock further than this from ours gets a time correction. A
// corrected client is off by the rounding to whole seconds on both sides
// (up to 2 s) and the time the correction took to reach it; its next header
// adds the time it takes to arrive. 10 s leaves room for 4 s each way, and
// a found or overheard code serves for at most 20 s.
inline constexpr std::int64_t kClockToleranceSec = 10;

// Guessing authentication codes: this many failures within the window lock
// the login (or the client address) for the first lock time; each further
// lock lasts twice as long, up to the longest, until a day passes without
// a lock. Each table holds at most kGuardMaxEntries logins or addresses.
inline constexpr int kGuardMaxFailures = 10;
inline constexpr std::int64_t kGuardWindowSec = 600;
inline constexpr std::int64_t kGuardFirstLockSec = 60;
inline constexpr std::int64_t kGuardMaxLockSec = 3600;
inline constexpr std::int64_t kGuardForgetSec = 86400;
inline constexpr std::size_t kGuardMaxEntries = 65536;

// Price of one mebibyte sent to a client, in hundredths of the currency.
inline constexpr std::int64_t kDefaultPricePerMiB = 100;

// JPEG qualities used for the client's quality codes.
inline constexpr int kJpegQualityMedium = 40;  // code 1
inline constexpr int kJpegQualityLow = 20;     // code 2

// WebP qualities for the same codes ({code 1, code 2}) per source format,
// chosen so that the images keep about the mean SSIM of the JPEG qualities
// above (bench/bench_images.sh with NB_SWEEP=1 prints both).
inline constexpr int kWebpQualityFromJpeg[2] = {35, 15};
inline constexpr int kWebpQualityFromPng[2] = {25, 10};
inline constexpr int kWebpQualityFromGif[2] = {75, 35};
// Encoder effort (0 fastest .. 6 densest) of lossy and lossless WebP.
inline constexpr int kWebpMethod = 4;
inline constexpr int kWebpLosslessLevel = 2;
// Images above this many pixels are not turned into WebP (4 bytes each
// are held while encoding).
inline constexpr std::size_t kMaxWebpPixels = 16u * 1000 * 1000;

// AV1 quantizers (0 best .. 63 worst) for the same codes ({code 1, code 2})
// per source format, matched to the JPEG qualities' mean SSIM like WebP's
// (bench/bench_images.sh with NB_SWEEP=1).
inline constexpr int kAvifQuantizerFromJpeg[2] = {35, 43};
inline constexpr int kAvifQuantizerFromPng[2] = {37, 43};
inline constexpr int kAvifQuantizerFromGif[2] = {24, 33};
// Encoder speed of libaom through libavif (0 slowest .. 10 fastest): at 9 a
// web-sized photo costs about as much CPU as WebP at kWebpMethod; slower
// speeds save more bytes at several times the CPU, while the client waits.
inline constexpr int kAvifSpeed = 9;
// Images above this many pixels are not turned into AVIF: the encoder holds
// many times the image's pixels while it works.
inline constexpr std::size_t kMaxAvifPixels = 4u * 1000 * 1000;
// AVIF encodes under way at once in the whole service; an image that finds
// none free takes the WebP or JPEG road rather than wait.
inline constexpr int kMaxAvifEncodes = 2;
// Resources pushed after a page to a client that takes them: at most this
// many per page, found in the page's first kPushScanBytes, each answer at
// most kMaxPushBytes whole (it travels in one packet), each fetch silent at
// most kPushFetchIdleMs, and no new fetch once kPushBudgetMs passed since
// the first.
inline constexpr std::size_t kMaxPushPerPage = 8;
inline constexpr std::size_t kPushScanBytes = 64 * 1024;
inline constexpr std::size_t kMaxPushBytes = 150000;
inline constexpr int kPushFetchIdleMs = 5000;
inline constexpr int kPushBudgetMs = 3000;

}  // namespace nbsvc
