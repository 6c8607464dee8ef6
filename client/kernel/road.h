// The choice between the direct road and the compression service for one
// request, and the reading of a browser request into the connection buffer.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/limits.h"
#include "platform/platform.h"

// What the road choice looks at for one request.
struct RoadFacts {
  std::int32_t iNoMoneyLogin = 0;  // non-zero: the account has no money
  int iRequestSize = 0;            // total request size announced
  bool bOnLine = true;             // the service link is usable
  std::uint32_t ipHost = 0;        // destination, network byte order
  std::string sExt;                // three-character extension, or empty
};

// True when the request goes the direct road: no money, a request of
// NB_CLIENT_MAX_PACKET_SIZE bytes or more, off line, a free-of-charge
// destination, an incompressible file or the host 127.0.0.1. Every test is
// evaluated and traced, even after one has held.
bool ChooseDirectRoad(const RoadFacts& facts);

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

// True when ipNet:port reaches this client's own proxy listener, which
// listens on listenPort on every address: a loopback address (127.x.x.x),
// 0.0.0.0 or an address of one of this machine's interfaces. listenPort 0
// (not known) matches nothing. Reads the interface list only when the ports
// match.
bool IsOwnListener(std::uint32_t ipNet, int port, int listenPort);
