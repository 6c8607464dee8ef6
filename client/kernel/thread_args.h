// The record that carries one browser connection from the acceptor through
// the worker to the road that serves it. Move-only: it goes from owner to
// owner as a std::unique_ptr<ThreadArgs> and is never copied.
#pragma once

#include <cstdint>
#include <string>

#include "platform/owned_socket.h"

struct ClientContext;

struct ThreadArgs {
  // ctx is the running client's; it outlives every connection.
  explicit ThreadArgs(ClientContext& c) : ctx(c) {}
  ThreadArgs(const ThreadArgs&) = delete;
  ThreadArgs& operator=(const ThreadArgs&) = delete;

  ClientContext& ctx;
  nbplat::OwnedSocket sckServer;   // web site, upstream proxy or service
  nbplat::OwnedSocket sckBrowser;  // the accepted browser connection
  std::uint32_t ipClient = 0;      // browser's address, network order
  std::uint32_t ipHost = 0;        // requested host, network order
  int iHostPort = 0;               // 0..65535
  // The request as the roads send it: the (rewritten) head and the body
  // bytes that came with it; read once, never copied back and forth.
  std::string request;
  // Answers and the rest of a request body pass through here:
  // nb::kRequestBufferSize bytes owned by the worker, apart from request.
  char* buff = nullptr;
  int iRequestSize = 0;  // total request size announced
};
