// Pool of account store connections.
#include "account_pool.h"

namespace nbsvc {

AccountPool::Lease AccountPool::Acquire(std::string* error) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    while (!idle_.empty()) {
      std::unique_ptr<AccountStore> store = std::move(idle_.back());
      idle_.pop_back();
      if (store->Healthy()) return Lease(this, std::move(store));
    }
  }
  return Lease(this, OpenAccountStore(where_, error));
}

void AccountPool::Return(std::unique_ptr<AccountStore> store) {
  if (!store->Healthy()) return;
  std::lock_guard<std::mutex> lock(mu_);
  if (idle_.size() < maxIdle_) idle_.push_back(std::move(store));
}

}  // namespace nbsvc
