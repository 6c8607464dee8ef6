// The client's side of the compression service exchange.
#pragma once

#include "kernel/thread_args.h"
#include "platform/platform.h"

void processRequestWithService(ThreadArgs* thArgs);
// Builds and sends the request header and compressed body; true when both
// went out whole.
bool sendDataToServer(nbplat::Socket ssocket, unsigned int ip, int port, const char* buff, int iSize);
// Stores money / 100 (integer division) as dMoney.
void saveMoneyInfo(int money);
int getJPEGCompressLevel();
