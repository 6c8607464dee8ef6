// Exact-length receives of the service, on sockets it owns.
#pragma once

#include <chrono>

#include "platform/owned_socket.h"
#include "platform/platform.h"

namespace nbsvc {

// Receives exactly len bytes, each wait at most idleMs. Ok only when all
// arrived; otherwise the status of the receive that stopped it.
nbplat::IoStatus RecvExact(nbplat::Socket s, void* data, std::size_t len, int idleMs);

using Deadline = std::chrono::steady_clock::time_point;

// As above, and also TimedOut once deadline has passed, however steadily
// the bytes arrive.
nbplat::IoStatus RecvExactBy(nbplat::Socket s, void* data, std::size_t len, int idleMs,
                             Deadline deadline);

// Sends all len bytes on s, whose own send time-out (SetSendTimeout) must
// be short: each send then returns within it, and only idleMs without any
// byte leaving ends the sending with TimedOut. *sent (when given) receives
// the bytes that left, whatever the outcome.
nbplat::IoStatus SendAllWithin(nbplat::Socket s, const char* data, std::size_t len, int idleMs,
                               std::size_t* sent = nullptr);

}  // namespace nbsvc
