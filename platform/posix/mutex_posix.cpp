// Re-entrant mutex registered by name: objects constructed with the same name
// share one lock, as named kernel mutexes do on Windows.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace nbplat {
namespace {

// One shared lock. Owner and depth are tracked explicitly so that a release
// by a thread that does not hold it is refused instead of corrupting the lock.
struct LockEntry {
  std::mutex guard;
  std::condition_variable freed;
  std::thread::id owner;
  unsigned depth = 0;
  unsigned refs = 0;  // objects naming this entry; changed under the registry lock
  std::string name;
};

struct Registry {
  std::mutex guard;
  std::map<std::string, LockEntry*> byName;
};

// Never destroyed: global locks may be constructed and destroyed during
// static initialisation and exit, in any order relative to this registry.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

LockEntry* Entry(void* impl) { return static_cast<LockEntry*>(impl); }

}  // namespace

NamedMutex::NamedMutex() {
  // Not registered: no name can reach it. refs 1 and an empty name make the
  // destructor's erase a no-op on the registry.
  LockEntry* e = new LockEntry;
  e->refs = 1;
  impl_ = e;
}

NamedMutex::NamedMutex(const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.guard);
  LockEntry*& slot = reg.byName[name];
  if (slot == nullptr) {
    slot = new LockEntry;
    slot->name = name;
  }
  ++slot->refs;
  impl_ = slot;
}

NamedMutex::~NamedMutex() {
  LockEntry* e = Entry(impl_);
  Registry& reg = TheRegistry();
  std::lock_guard<std::mutex> lock(reg.guard);
  if (--e->refs == 0) {
    auto it = reg.byName.find(e->name);
    if (it != reg.byName.end() && it->second == e) reg.byName.erase(it);
    delete e;
  }
}

void NamedMutex::Lock() {
  LockEntry* e = Entry(impl_);
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(e->guard);
  if (e->depth > 0 && e->owner == me) {
    ++e->depth;
    return;
  }
  e->freed.wait(lock, [e] { return e->depth == 0; });
  e->owner = me;
  e->depth = 1;
}

bool NamedMutex::Unlock() {
  LockEntry* e = Entry(impl_);
  std::unique_lock<std::mutex> lock(e->guard);
  if (e->depth == 0 || e->owner != std::this_thread::get_id()) return false;
  if (--e->depth == 0) {
    e->owner = std::thread::id();
    lock.unlock();
    e->freed.notify_one();
  }
  return true;
}

std::uintptr_t NamedMutex::Handle() const { return reinterpret_cast<std::uintptr_t>(impl_); }

}  // namespace nbplat
