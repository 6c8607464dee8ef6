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
  TimedOut,       // the server fell silent before the end; response holds what came
  Cut,            // reset, or closed before the end its framing announced
  Truncated,      // the response reached (or announced more than) the size cap
  Abandoned,      // the onData callback asked to stop
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
// closes cleanly. onData, when given, sees the response so far after every
// read that does not end the fetch; returning false abandons it.
FetchResult Fetch(std::uint32_t ipNet, std::uint16_t port, const std::string& request,
                  const FetchLimits& limits,
                  const std::function<bool(const std::string&)>& onData = nullptr);

// True when the request line's method is HEAD (its answer has no body).
bool IsHeadRequest(const std::string& request);
// True for GET and HEAD, which the client may safely send again itself.
bool IsRepeatableRequest(const std::string& request);

}  // namespace nbsvc
