// The worker: reads one browser request, judges it and hands the connection
// to the road the verdict names, then cleans up the connection.
#pragma once

#include <memory>
#include <string>

#include "kernel/options.h"
#include "kernel/thread_args.h"

// What the dispatcher decided for one request.
struct Verdict {
  enum class Road {
    Refuse,    // closed after `answer` (empty: without a word)
    Direct,    // relay.h
    Service,   // service_link.h
    Tunnel,    // https_tunnel.h, for a CONNECT
    Answered,  // answered here: `answer` is all the browser gets
  };
  Road road = Road::Refuse;
  std::string answer;  // Refuse and Answered only
};

// Reads the request on c's browser socket into c.request (rewritten for the
// road) and judges it. c.buff must hold nb::kRequestBufferSize bytes.
Verdict JudgeRequest(ThreadArgs& c, const Program_Options& po);

// Worker entry: serves the connection the acceptor counted a slot for, then
// closes it, forgets its socket and gives the slot back.
void processRequest(std::unique_ptr<ThreadArgs> connection);
