// Accept loop of the service.
#include "server.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "destination.h"
#include "service_limits.h"
#include "session.h"

namespace nbsvc {

Server::Server(const ServiceConfig& config, ServiceLog& log)
    : config_(config),
      log_(log),
      shared_(config),
      startThread_([](std::function<void()> fn) { return std::thread(std::move(fn)); }) {}

Server::~Server() {
  Stop();
  std::map<std::uint64_t, std::thread> left;
  {
    std::lock_guard<std::mutex> lock(mu_);
    left.swap(workers_);
  }
  for (auto& w : left) {
    if (w.second.joinable()) w.second.join();
  }
}

bool Server::Listen(std::string* error) {
  nbplat::OwnedSocket s(nbplat::TcpSocket());
  std::string where = FormatIPv4(config_.listenIpNet) + ":" + std::to_string(config_.port);
  if (!s.valid()) {
    *error = "cannot create a socket";
    return false;
  }
  nbplat::SetReuseAddress(s.get());
  if (!nbplat::BindIPv4(s.get(), config_.port, config_.listenIpNet)) {
    *error = "cannot bind " + where + " (port in use, or a port below 1024 without the right)";
    return false;
  }
  if (!nbplat::ListenOn(s.get(), kListenBacklog)) {
    *error = "cannot listen on " + where;
    return false;
  }
  listener_ = std::move(s);
  shared_.destinations.SetOwnPort(BoundPort());
  return true;
}

std::uint16_t Server::BoundPort() const { return nbplat::LocalPort(listener_.get()); }

bool Server::Run(int graceMs) {
  while (!stopping_.load()) {
    JoinFinished();
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return active_ < config_.maxConnections || stopping_.load(); });
    }
    if (stopping_.load()) break;
    std::uint32_t peer = 0;
    nbplat::Socket c = nbplat::AcceptConnection(listener_.get(), &peer);
    if (c == nbplat::kNoSocket) {
      if (stopping_.load()) break;
      nbplat::SleepMs(10);  // e.g. out of descriptors: do not spin
      continue;
    }
    if (!TakeSlot(peer)) {
      nbplat::CloseSocket(c);
      continue;
    }
    StartWorker(c, peer);
  }
  bool allDone;
  {
    std::unique_lock<std::mutex> lock(mu_);
    allDone =
        cv_.wait_for(lock, std::chrono::milliseconds(graceMs), [this] { return active_ == 0; });
  }
  JoinFinished();
  return allDone;
}

bool Server::TakeSlot(std::uint32_t peer) {
  std::lock_guard<std::mutex> lock(mu_);
  int& mine = perPeer_[peer];
  if (mine >= config_.maxPerAddress) return false;
  ++mine;
  ++active_;
  return true;
}

void Server::ReleaseSlot(std::uint32_t peer, std::uint64_t id) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = perPeer_.find(peer);
  if (it != perPeer_.end() && --it->second <= 0) perPeer_.erase(it);
  --active_;
  if (id != 0) finished_.push_back(id);
  cv_.notify_all();
}

void Server::StartWorker(nbplat::Socket s, std::uint32_t peer) {
  try {
    // Started under the lock, so the thread is registered before it can
    // report itself finished.
    std::lock_guard<std::mutex> lock(mu_);
    std::uint64_t id = ++nextId_;
    workers_.emplace(id, startThread_([this, s, peer, id] { Serve(s, peer, id); }));
    return;
  } catch (const std::system_error& e) {
    log_.Note(std::string("cannot start a thread for a connection: ") + e.what());
  }
  nbplat::CloseSocket(s);
  ReleaseSlot(peer, 0);
}

void Server::Serve(nbplat::Socket s, std::uint32_t peer, std::uint64_t id) {
  try {
    nbplat::OwnedSocket owned(s);
    ServeConnection(owned.get(), config_, log_, shared_, peer, &stopping_);
  } catch (const std::exception& e) {
    log_.Note(std::string("connection ended by an error: ") + e.what());
  }
  ReleaseSlot(peer, id);
}

void Server::JoinFinished() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (std::uint64_t id : finished_) {
      auto it = workers_.find(id);
      if (it == workers_.end()) continue;
      done.push_back(std::move(it->second));
      workers_.erase(it);
    }
    finished_.clear();
  }
  for (auto& t : done) {
    if (t.joinable()) t.join();
  }
}

void Server::Stop() {
  if (stopping_.exchange(true)) return;
  if (listener_.valid()) nbplat::ShutdownSocket(listener_.get());
  std::lock_guard<std::mutex> lock(mu_);
  cv_.notify_all();
}

}  // namespace nbsvc
