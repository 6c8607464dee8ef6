// A bounded pool of account store connections shared by the connection
// threads. Every statement borrows a connection only for itself, so a slow
// answer holds none while it is fetched and sent, and a node never opens
// more than its bound however many answers are in flight.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "accounts.h"
#include "service_limits.h"

namespace nbsvc {

class AccountPool {
 public:
  // Connections to where (a PostgreSQL URL or an SQLite path); at most
  // maxOpen are open at once, and a statement waits at most waitMs for one
  // of them to be free.
  explicit AccountPool(std::string where, std::size_t maxOpen = kDefaultDbConnections,
                       int waitMs = kDbWaitMs)
      : where_(std::move(where)), maxOpen_(maxOpen == 0 ? 1 : maxOpen), waitMs_(waitMs) {}
  AccountPool(const AccountPool&) = delete;
  AccountPool& operator=(const AccountPool&) = delete;

  // A borrowed connection; goes back to the pool when destroyed, unless it
  // was lost. Use from one thread.
  class Lease {
   public:
    Lease(AccountPool* pool, std::unique_ptr<AccountStore> store)
        : pool_(pool), store_(std::move(store)) {}
    ~Lease() { Release(); }
    Lease(Lease&& o) noexcept : pool_(o.pool_), store_(std::move(o.store_)) {}
    Lease& operator=(Lease&& o) noexcept {
      if (this != &o) {
        Release();
        pool_ = o.pool_;
        store_ = std::move(o.store_);
      }
      return *this;
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    explicit operator bool() const { return store_ != nullptr; }
    AccountStore* operator->() const { return store_.get(); }

   private:
    void Release() {
      if (store_) pool_->Return(std::move(store_));
    }
    AccountPool* pool_;
    std::unique_ptr<AccountStore> store_;
  };

  // An idle connection, or a new one while fewer than maxOpen are open;
  // otherwise waits up to waitMs for one to come back. An empty lease and
  // *error set when the database cannot be reached or none came free in
  // time. Locks mu_ (never while connecting).
  Lease Acquire(std::string* error);

  // Connections open now, in use or idle. Locks mu_.
  std::size_t OpenCount();

 private:
  // Keeps store for the next Acquire when it is healthy, else closes it;
  // wakes one waiter either way.
  void Return(std::unique_ptr<AccountStore> store);

  const std::string where_;
  const std::size_t maxOpen_;
  const int waitMs_;
  std::mutex mu_;  // guards idle_ and open_
  std::condition_variable freed_;
  std::vector<std::unique_ptr<AccountStore>> idle_;
  std::size_t open_ = 0;  // idle_ plus those lent out plus those connecting
};

// The account calls of one service connection, each on a connection
// borrowed from the pool for that statement alone. Same calls as
// AccountStore; use from one thread.
class PooledAccounts {
 public:
  explicit PooledAccounts(AccountPool& pool) : pool_(pool) {}

  // A connection found lost when used gets one fresh try (it may have died
  // while idle); a time-out does not, so a silent database fails at once.
  LookupResult Lookup(std::int32_t login, Account* account);
  // Not tried again: the change may have been applied before the loss.
  bool Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance);

  // Why the last failed call failed.
  const std::string& LastError() const { return error_; }

 private:
  AccountPool& pool_;
  std::string error_;
};

}  // namespace nbsvc
