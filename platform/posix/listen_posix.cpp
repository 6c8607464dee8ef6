// POSIX listening-socket option for a quick restart.
#include "platform/platform.h"

namespace nbplat {

// On Linux and the BSDs SO_REUSEADDR only lets bind() pass over connections
// of an earlier run still in TIME_WAIT; a port that has a listener stays
// refused, so a second running copy still fails to bind.
bool AllowListenRestart(Socket s) { return SetReuseAddress(s); }

}  // namespace nbplat
