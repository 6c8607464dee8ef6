// A small pool of account store connections shared by the connection
// threads: a thread borrows one for its request and gives it back, so a
// PostgreSQL connection is not opened again for every request.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "accounts.h"

namespace nbsvc {

class AccountPool {
 public:
  // Connections to where (a PostgreSQL URL or an SQLite path); at most
  // maxIdle are kept open while nobody uses them.
  explicit AccountPool(std::string where, std::size_t maxIdle = 8)
      : where_(std::move(where)), maxIdle_(maxIdle) {}
  AccountPool(const AccountPool&) = delete;
  AccountPool& operator=(const AccountPool&) = delete;

  // A borrowed connection; goes back to the pool when destroyed, unless it
  // was lost. Use from one thread.
  class Lease {
   public:
    Lease(AccountPool* pool, std::unique_ptr<AccountStore> store)
        : pool_(pool), store_(std::move(store)) {}
    ~Lease() {
      if (store_) pool_->Return(std::move(store_));
    }
    Lease(Lease&&) = default;
    // Gives the connection held so far back before taking o's.
    Lease& operator=(Lease&& o) {
      if (this != &o) {
        if (store_) pool_->Return(std::move(store_));
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
    AccountPool* pool_;
    std::unique_ptr<AccountStore> store_;
  };

  // An idle connection, or a new one; an empty lease and *error set when
  // the database cannot be reached. Locks mu_ briefly (never while
  // connecting).
  Lease Acquire(std::string* error);

 private:
  // Keeps store for the next Acquire when it is healthy and there is room.
  void Return(std::unique_ptr<AccountStore> store);

  const std::string where_;
  const std::size_t maxIdle_;
  std::mutex mu_;  // guards idle_
  std::vector<std::unique_ptr<AccountStore>> idle_;
};

}  // namespace nbsvc
