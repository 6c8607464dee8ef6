// The service's listening socket and its accept loop: one thread per
// connection, at most maxConnections at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "config.h"
#include "owned_socket.h"
#include "service_log.h"

namespace nbsvc {

class Server {
 public:
  Server(const ServiceConfig& config, ServiceLog& log) : config_(config), log_(log) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with *error describing why.
  bool Listen(std::string* error);
  // Port actually bound (useful with port 0).
  std::uint16_t BoundPort() const;
  // Accepts and serves until Stop(); then waits up to graceMs for running
  // connections. False when some were still running: the caller must then
  // end the process without destroying the server.
  bool Run(int graceMs = 5000);
  // Ends Run from any thread.
  void Stop();

 private:
  void Serve(nbplat::Socket s);

  const ServiceConfig& config_;
  ServiceLog& log_;
  OwnedSocket listener_;
  std::atomic<bool> stopping_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  int active_ = 0;
};

}  // namespace nbsvc
