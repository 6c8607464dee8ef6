// Worker threads for browser connections. A thread that has finished its
// connection waits for the next one instead of ending, so a busy proxy does
// not pay a thread start per request. There are never more threads than
// connections served at once (at most the acceptor's worker limit).
#pragma once

#include <memory>

#include "kernel/thread_args.h"

// Hands args to processRequest on a waiting worker thread, or on a new one
// (args is then empty). False when no thread could be started: args is then
// still the caller's.
bool DispatchToWorker(std::unique_ptr<ThreadArgs>& args);
