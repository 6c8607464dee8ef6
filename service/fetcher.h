// Fetches one answer from a web server for a client's request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nbsvc {

enum class FetchStatus {
  Complete,       // whole response (by its framing, or the server closed)
  ConnectFailed,  // no connection to the web server
  SendFailed,     // the request could not be sent
  TimedOut,       // the server fell silent before the end; response holds what came
  Cut,            // reset, or closed before the end its framing announced
  Truncated,      // the response reached (or announced more than) the size cap
};

struct FetchResult {
  FetchStatus status = FetchStatus::ConnectFailed;
  std::string response;
};

struct FetchLimits {
  int connectMs = 15000;
  int idleMs = 30000;
  std::size_t maxResponse = 32u * 1024 * 1024;
};

// Connects to ipNet:port, sends request and reads the answer until the
// response is complete, the server closes, falls silent or the cap is hit.
// An answer without length or chunking is complete only when the server
// closes cleanly.
FetchResult Fetch(std::uint32_t ipNet, std::uint16_t port, const std::string& request,
                  const FetchLimits& limits);

// True when the request line's method is HEAD (its answer has no body).
bool IsHeadRequest(const std::string& request);
// True for GET and HEAD, which the client may safely send again itself.
bool IsRepeatableRequest(const std::string& request);

}  // namespace nbsvc
