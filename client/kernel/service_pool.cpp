// The pool of idle service connections.
#include "kernel/service_pool.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

#include "kernel/limits.h"
#include "platform/platform.h"
#include "protocol/capabilities.h"
#include "support/debug.h"

bool IsAnswerEnd(const nbServiceHeader& h) {
  return h.msg == NB_PACKET_END && (h.caps & NB_CAP_KEEPALIVE) != 0 && h.size == 0 &&
         h.decompSize == 0;
}

ServicePool::ServicePool(std::size_t perKey, std::size_t keys, std::uint32_t idleMs)
    : perKey_(perKey), keys_(keys), idleMs_(idleMs) {}

nbplat::OwnedSocket ServicePool::Take(const std::string& key, std::uint32_t nowMs) {
  std::deque<Idler> dropped;  // closed outside the lock
  nbplat::OwnedSocket found;
  {
    nbLockGuard lock(mu_);
    auto it = idle_.find(key);
    if (it == idle_.end()) return found;
    std::deque<Idler>& list = it->second;
    while (!list.empty() && !found.valid()) {
      Idler last = std::move(list.back());
      list.pop_back();
      // Tick counts wrap: the difference is the age either way.
      const bool stale = nowMs - last.since > last.maxIdleMs;
      // An idle connection in step has nothing to read: readable means the
      // service closed it (or sent what nobody asked for).
      if (stale || nbplat::WaitReadable(last.s.get(), nbplat::kNoSocket, 0) != 0) {
        dropped.push_back(std::move(last));
      } else {
        found = std::move(last.s);
      }
    }
    // What is older than the one handed out is older still.
    for (Idler& i : list) {
      if (nowMs - i.since > i.maxIdleMs) i.s.reset();
    }
    list.erase(
        std::remove_if(list.begin(), list.end(), [](const Idler& i) { return !i.s.valid(); }),
        list.end());
  }
  return found;
}

void ServicePool::Give(const std::string& key, nbplat::OwnedSocket s, std::uint32_t nowMs,
                       std::uint32_t maxIdleMs) {
  if (!s.valid() || perKey_ == 0) return;
  std::deque<Idler> dropped;
  {
    nbLockGuard lock(mu_);
    auto it = idle_.find(key);
    if (it == idle_.end()) {
      while (order_.size() >= keys_ && !order_.empty()) {
        auto old = idle_.find(order_.front());
        if (old != idle_.end()) {
          for (Idler& i : old->second) dropped.push_back(std::move(i));
          idle_.erase(old);
        }
        order_.pop_front();
      }
      if (keys_ == 0) return;
      order_.push_back(key);
      it = idle_.emplace(key, std::deque<Idler>()).first;
    }
    it->second.push_back(Idler{std::move(s), nowMs, maxIdleMs ? maxIdleMs : idleMs_});
    while (it->second.size() > perKey_) {
      dropped.push_back(std::move(it->second.front()));
      it->second.pop_front();
    }
  }
}

std::size_t ServicePool::Idle(const std::string& key) const {
  nbLockGuard lock(mu_);
  auto it = idle_.find(key);
  return it == idle_.end() ? 0 : it->second.size();
}

bool ServicePool::BeginOpen(const std::string& key) {
  nbLockGuard lock(mu_);
  auto it = idle_.find(key);
  if (it != idle_.end() && !it->second.empty()) return false;
  return opening_.insert(key).second;
}

void ServicePool::EndOpen(const std::string& key) {
  nbLockGuard lock(mu_);
  opening_.erase(key);
}

void ServicePool::Count(bool ready) {
  nbLockGuard lock(mu_);
  ++requests_;
  if (ready) ++ready_;
}

std::uint64_t ServicePool::Requests() const {
  nbLockGuard lock(mu_);
  return requests_;
}

std::uint64_t ServicePool::Ready() const {
  nbLockGuard lock(mu_);
  return ready_;
}

ServicePool& ServiceConnections() {
  static ServicePool pool(nb::kServicePoolPerService, nb::kMaxRememberedServices,
                          nb::kServicePoolIdleMs);
  return pool;
}

void OpenServiceAhead(const std::string& key, std::function<bool(nbplat::Socket)> connect) {
  ServicePool& pool = ServiceConnections();
  if (!pool.BeginOpen(key)) return;
  try {
    std::thread([key, connect = std::move(connect)] {
      ServicePool& p = ServiceConnections();
      nbplat::OwnedSocket s(nbplat::TcpSocket());
      if (s.valid() && connect(s.get())) {
        dbgmsg("service connection opened ahead");
        p.Give(key, std::move(s), nbplat::TickCountMs(), nb::kServicePoolAheadIdleMs);
      }
      p.EndOpen(key);
    }).detach();
  } catch (const std::system_error&) {
    pool.EndOpen(key);  // no thread to spare: the next request connects itself
  }
}
