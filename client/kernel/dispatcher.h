// The worker: reads one browser request, checks it and sends it down the
// direct or the service road, then cleans up the connection.
#pragma once

// Thread entry; lpSocket is a ThreadArgs* that the worker frees.
void processRequest(void* lpSocket);
