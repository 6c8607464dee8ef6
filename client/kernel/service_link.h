// The client's side of the compression service exchange: one browser request
// sent as a request packet, the answer packets read back until the service
// closes.
#pragma once

#include "kernel/context.h"
#include "kernel/link_settings.h"
#include "kernel/options.h"
#include "kernel/service_answer.h"
#include "kernel/service_header.h"
#include "kernel/service_stats.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"
#include "protocol/packet.h"

// Serves thArgs's request through the service, or directly when compression
// is off, the body is not framed by a length, the service cannot be reached
// or the account has no money. Reads bCompressOff, ServiceHost and the
// upstream proxy options, and the service link settings.
void processRequestWithService(ThreadArgs* thArgs);
// Builds and sends the request header (ctx's options and service clock) and
// compressed body; true when both went out whole.
bool sendDataToServer(ClientContext& ctx, nbplat::Socket ssocket, unsigned int ip, int port,
                      const char* buff, int iSize);
