// Accept loop of the service.
#include "server.h"

#include <chrono>
#include <thread>

#include "destination.h"
#include "service_limits.h"
#include "session.h"

namespace nbsvc {

Server::~Server() { Stop(); }

bool Server::Listen(std::string* error) {
  OwnedSocket s(nbplat::TcpSocket());
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
  return true;
}

std::uint16_t Server::BoundPort() const { return nbplat::LocalPort(listener_.get()); }

bool Server::Run(int graceMs) {
  while (!stopping_.load()) {
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
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++active_;
    }
    std::thread(&Server::Serve, this, c).detach();
  }
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(graceMs), [this] { return active_ == 0; });
}

void Server::Serve(nbplat::Socket s) {
  {
    OwnedSocket owned(s);
    ServeConnection(owned.get(), config_, log_);
  }
  std::lock_guard<std::mutex> lock(mu_);
  --active_;
  cv_.notify_all();
}

void Server::Stop() {
  if (stopping_.exchange(true)) return;
  if (listener_.valid()) nbplat::ShutdownSocket(listener_.get());
  std::lock_guard<std::mutex> lock(mu_);
  cv_.notify_all();
}

}  // namespace nbsvc
