// The record that carries one browser connection from the acceptor through
// the worker to the direct relay or the service exchange.
#pragma once

#include <cstdint>

#include "platform/owned_socket.h"

struct ClientContext;

struct ThreadArgs {
  // ctx is the running client's; it outlives every connection.
  explicit ThreadArgs(ClientContext& c) : ctx(c) {}
  ClientContext& ctx;
  nbplat::OwnedSocket sckServer;   // web site, upstream proxy or service
  nbplat::OwnedSocket sckBrowser;  // the accepted browser connection
  std::uint32_t ipClient = 0;      // browser's address, network order
  std::uint32_t ipHost = 0;        // requested host, network order
  int iHostPort = 0;               // 0..65535
  char* buff = nullptr;            // kRequestBufferSize bytes, owned by the worker
  int iSize = 0;                   // request bytes in buff
  int iRequestSize = 0;            // total request size announced
};
