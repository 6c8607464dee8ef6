// Bounded pool of account store connections.
#include "account_pool.h"

namespace nbsvc {

AccountPool::Lease AccountPool::Acquire(std::string* error) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    auto by = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
    for (;;) {
      while (!idle_.empty()) {
        std::unique_ptr<AccountStore> store = std::move(idle_.back());
        idle_.pop_back();
        if (store->Healthy()) return Lease(this, std::move(store));
        --open_;  // lost while idle: closed here, its place is free
      }
      if (open_ < maxOpen_) break;
      if (freed_.wait_until(lock, by) == std::cv_status::timeout && idle_.empty() &&
          open_ >= maxOpen_) {
        *error = "no free database connection within " + std::to_string(waitMs_) + " ms";
        return Lease(this, nullptr);
      }
    }
    ++open_;  // this place is ours while we connect
  }
  std::unique_ptr<AccountStore> store = OpenAccountStore(where_, error);
  if (!store) {
    std::lock_guard<std::mutex> lock(mu_);
    --open_;
    freed_.notify_one();
  }
  return Lease(this, std::move(store));
}

std::size_t AccountPool::OpenCount() {
  std::lock_guard<std::mutex> lock(mu_);
  return open_;
}

void AccountPool::Return(std::unique_ptr<AccountStore> store) {
  bool healthy = store->Healthy();
  if (!healthy) store.reset();  // closed outside the lock
  std::lock_guard<std::mutex> lock(mu_);
  if (healthy) {
    idle_.push_back(std::move(store));
  } else {
    --open_;
  }
  freed_.notify_one();
}

LookupResult PooledAccounts::Lookup(std::int32_t login, Account* account) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    AccountPool::Lease db = pool_.Acquire(&error_);
    if (!db) return LookupResult::Error;
    LookupResult found = db->Lookup(login, account);
    if (found != LookupResult::Error) return found;
    error_ = db->LastError();
    if (!db->LostConnection()) break;
  }
  return LookupResult::Error;
}

bool PooledAccounts::Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance) {
  AccountPool::Lease db = pool_.Acquire(&error_);
  if (!db) return false;
  if (db->Charge(login, cents, balance)) return true;
  error_ = db->LastError();
  return false;
}

}  // namespace nbsvc
