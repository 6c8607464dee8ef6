// Each road as one object over the functions that serve it.
#include "kernel/roads.h"

#include "kernel/https_tunnel.h"
#include "kernel/relay.h"
#include "kernel/service_link.h"
#include "platform/platform.h"

void DirectRoad::Serve(ThreadArgs& c) { processRequestDirect(&c); }

void ServiceRoad::Serve(ThreadArgs& c) { processRequestWithService(&c); }

void TunnelRoad::Serve(ThreadArgs& c) { processConnectTunnel(&c, po_); }

void AnswerRoad::Serve(ThreadArgs& c) {
  if (!answer_.empty()) nbplat::SendAll(c.sckBrowser.get(), answer_.data(), answer_.size());
}
