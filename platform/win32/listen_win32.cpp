// Win32 listening-socket option for a quick restart.
#include "platform/platform.h"

namespace nbplat {

// Windows binds a port again despite connections of an earlier run, so
// nothing is needed; SO_REUSEADDR must not be set, because there it would let
// a second running copy bind the same port.
bool AllowListenRestart(Socket s) { return s != kNoSocket; }

}  // namespace nbplat
