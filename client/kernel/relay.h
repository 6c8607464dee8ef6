// Direct relay to the web site, or through the upstream proxy's CONNECT tunnel.
#pragma once

#include "kernel/thread_args.h"

void processRequestDirect(ThreadArgs* thArgs);
