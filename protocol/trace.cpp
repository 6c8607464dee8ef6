// Trace sink of the protocol code.
#include "protocol/trace.h"

#include <atomic>

namespace {
std::atomic<ProtocolTraceSink> g_sink{nullptr};
}  // namespace

void SetProtocolTraceSink(ProtocolTraceSink sink) { g_sink.store(sink); }

void ProtocolTrace(const std::string& line) {
  ProtocolTraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (sink) sink(line);
}
