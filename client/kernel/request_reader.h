// Reading one browser request into the connection buffer.
#pragma once

#include <string>

#include "kernel/limits.h"
#include "platform/platform.h"

// Where a request read stands after `count` bytes of buff (zero-terminated).
enum class RequestState {
  Incomplete,   // read on
  Complete,     // a GET/POST head and its announced body are there
  OtherMethod,  // a complete head of a method we do not serve: stop now
  BadLength,    // a GET/POST head whose Content-Length is refused: stop now
};
RequestState ClassifyRequest(const char* buff, int count);

// Size the request really has on the wire: the head alone for a GET, head
// plus Content-Length for a POST (a chunked body is not counted). -1 while
// the head is incomplete and when the Content-Length is refused: not a plain
// decimal number, above nb::kMaxRequestBody, two Content-Length lines that
// disagree, or a Transfer-Encoding line beside it.
int RequestWireSize(const char* buff, int count);

// Reads one request from the browser into buff (capacity cap, at most
// cap - 1 data bytes followed by a zero byte) until it is complete, another
// method's head is complete, `limit` bytes are there, the browser closes or
// stays silent for idleMs, or the head is still incomplete headDeadlineMs
// after the start (a negative deadline: none). Returns the byte count.
int ReadBrowserRequest(nbplat::Socket s, char* buff, int cap, int limit, int idleMs,
                       int headDeadlineMs = nb::kRequestHeadDeadlineMs);

// The Host header's port text as a port: true and *port when it is a decimal
// number from 1 to 65535 (spaces around it allowed); false for anything else.
bool ParseRequestPort(const std::string& sPort, int* port);
