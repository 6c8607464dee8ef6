// Fetches one answer from a web server for a client's request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace nbsvc {

enum class FetchStatus {
  Complete,       // whole response (by its framing, or the server closed)
  ConnectFailed,  // no connection to the web server
  SendFailed,     // the request could not be sent
  TimedOut,       // the server fell silent before the end
  Cut,            // reset, or closed before the end its framing announced
  Truncated,      // the response reached (or announced more than) the size cap
  Abandoned,      // the onData callback asked to stop
};

struct FetchResult {
  FetchStatus status = FetchStatus::ConnectFailed;
  std::uint64_t received = 0;  // response bytes handed to onData
};

struct FetchLimits {
  int connectMs = 15000;
  int idleMs = 30000;
  std::size_t maxResponse = 32u * 1024 * 1024;
};

// Receives the next bytes of the response; false abandons the fetch.
using FetchSink = std::function<bool(const char* data, std::size_t len)>;

// Connects to ipNet:port, sends request and reads the answer until the
// response is complete, the server closes, falls silent or the cap is hit.
// An answer without length or chunking is complete only when the server
// closes cleanly. onData sees every read's bytes in order as they arrive;
// nothing of the response is kept here. A GET or HEAD whose head announces
// more than the cap ends Truncated before its bytes reach onData.
FetchResult Fetch(std::uint32_t ipNet, std::uint16_t port, const std::string& request,
                  const FetchLimits& limits, const FetchSink& onData);

// True when the request line's method is HEAD (its answer has no body).
bool IsHeadRequest(const std::string& request);
// True for GET and HEAD, which the client may safely send again itself.
bool IsRepeatableRequest(const std::string& request);

}  // namespace nbsvc
