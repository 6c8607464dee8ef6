// What the client announces to the service beyond today's exchange
// (protocol/capabilities.h).
#pragma once

#include <cstdint>

// The capability bits every request header carries.
std::uint16_t ClientCapabilities();
