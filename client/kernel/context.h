// One running client's state: its options and counters, the service link's
// state and the proxy listener with its connections. The program wiring
// makes one and hands it to the acceptor, the workers and their roads, the
// console and the tray.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "kernel/held_urls.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/push_store.h"
#include "kernel/stats_flusher.h"
#include "platform/platform.h"

// What the service's answers told us (single words, atomic).
struct ServiceLinkState {
  // Offset of the service clock from the tick count, in seconds.
  std::atomic<std::int32_t> iServTimeShift{0};
  // Non-zero (the value the service sent) once the account has no money.
  std::atomic<std::int32_t> iNoMoneyLogin{0};
  // True when the last answer packet was an authentication failure.
  std::atomic<bool> bAuthFailed{false};
  // True while the service link is usable.
  std::atomic<bool> bOnLine{true};
  // False from a failed try to reach the compression service until it
  // answers again; requests go direct (uncompressed) meanwhile.
  std::atomic<bool> bServiceReached{true};
};

// The proxy listener and the browser connections it accepted.
struct ProxyState {
  // True while the proxy accepts connections.
  std::atomic<bool> bServerEnabled{false};
  // The listening socket on the proxy port; opened by ProgramInit, closed by
  // ProgramDeinit, only read in between.
  nbplat::Socket lsocket = nbplat::kNoSocket;
  // The routing table text; written once at start, then only read.
  std::string sRouteTable;
  // Guards setClientSockets only; never held while taking another lock.
  std::mutex mtxSocketSet;
  // The browser connections now open (their handles stay owned by the
  // workers); guarded by mtxSocketSet.
  std::set<nbplat::Socket> setClientSockets;
  // Running workers (counted by the acceptor, given back by each worker).
  std::atomic<int> iAmountThread{0};
};

struct ClientContext {
  OptionsStore options;  // the user's options and the counters (own locks)
  StatsFlusher flusher;  // writes the counters on a timer once started
  ServiceLinkState link;
  ProxyState proxy;
  // Answers the service pushed after pages, until the browser asks for them.
  PushStore pushed{nb::kPushStoreBytes, nb::kPushStoreMs};
  // URLs the browser got from the service road lately.
  HeldUrls held{nb::kHeldUrls, nb::kHeldUrlMs};
  // Numbers the service exchanges, for the promises each made.
  std::atomic<std::uint64_t> exchanges{0};
  // Longest wait, in milliseconds, of a send to the browser, the site or the
  // service that makes no progress; tests shorten it.
  std::atomic<int> iSendTimeoutMs{nb::kSendTimeoutMs};
};

// The program's context, made before main; it lives until the process ends
// (a normal stop ends it with _Exit, its threads still running). Only the
// program wiring, the filters (which have no connection at hand) and tests
// name it.
extern ClientContext gClient;
