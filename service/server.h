// The service's listening socket and its accept loop: one thread per
// connection, at most maxConnections at once and maxPerAddress from one
// client address.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "config.h"
#include "owned_socket.h"
#include "service_log.h"
#include "session.h"

namespace nbsvc {

class Server {
 public:
  // Starts a thread running fn; may throw std::system_error like std::thread.
  using ThreadStarter = std::function<std::thread(std::function<void()> fn)>;

  Server(const ServiceConfig& config, ServiceLog& log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with *error describing why.
  bool Listen(std::string* error);
  // Port actually bound (useful with port 0).
  std::uint16_t BoundPort() const;
  // Accepts and serves until Stop(); then waits up to graceMs for running
  // connections and joins their threads. False when some were still
  // running: the caller must then end the process without destroying the
  // server.
  bool Run(int graceMs = 5000);
  // Ends Run from any thread. The caller keeps the server alive until
  // Stop has returned.
  void Stop();
  // Replaces how connection threads start (fault injection in tests). Call
  // before Run.
  void SetThreadStarter(ThreadStarter starter) { startThread_ = std::move(starter); }

 private:
  // Takes a slot for a connection from peer; false when the peer already
  // holds its share (the caller closes the connection). Locks mu_.
  bool TakeSlot(std::uint32_t peer);
  // Gives the slot back, and marks worker id finished when non-zero. Locks mu_.
  void ReleaseSlot(std::uint32_t peer, std::uint64_t id);
  // Starts the thread for one accepted connection; on failure the
  // connection is closed and its slot given back.
  void StartWorker(nbplat::Socket s, std::uint32_t peer);
  void Serve(nbplat::Socket s, std::uint32_t peer, std::uint64_t id);
  // Joins the threads of finished connections. Call without mu_.
  void JoinFinished();

  const ServiceConfig& config_;
  ServiceLog& log_;
  ServiceShared shared_;
  ThreadStarter startThread_;
  nbplat::OwnedSocket listener_;
  std::atomic<bool> stopping_{false};
  std::mutex mu_;  // guards everything below
  std::condition_variable cv_;
  int active_ = 0;
  std::unordered_map<std::uint32_t, int> perPeer_;
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, std::thread> workers_;
  std::vector<std::uint64_t> finished_;
};

}  // namespace nbsvc
