// Direct relay to the web site, or through the upstream proxy's CONNECT tunnel.
#pragma once

#include "kernel/thread_args.h"

// Serves thArgs->request directly (answers pass through thArgs->buff):
// connects to the site (or tunnels through the
// upstream proxy when sProxyName is set; reads the proxy options), passes
// the request on and relays the answer, each block checked against
// vsBlockingContent. The sockets stay with thArgs, whose owner closes them.
// A request body or answer that ends short leaves the connection that
// carried it marked to close with a reset.
void processRequestDirect(ThreadArgs* thArgs);
