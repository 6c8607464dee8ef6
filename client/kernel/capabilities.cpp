// The client's capability bits.
#include "kernel/capabilities.h"

#include "protocol/capabilities.h"

std::uint16_t ClientCapabilities() { return NB_CAP_TEXT2 | NB_CAP_SITE_DICT; }
