// What a client sends the service, as arbitrary bytes on a connection:
// the request reader, the size checks and the request the service forwards.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http_request.h"
#include "protocol/packet.h"
#include "session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 100000) return 0;  // stays within one socket buffer
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  if (size > 0 && write(pair[1], data, size) != static_cast<ssize_t>(size)) std::abort();
  shutdown(pair[1], SHUT_WR);
  nbClientHeader header;
  std::string request;
  const nbsvc::ReadOutcome outcome =
      nbsvc::ReadRequest(static_cast<nbplat::Socket>(pair[0]), 1000, &header, &request, 1000);
  close(pair[0]);
  close(pair[1]);
  if (outcome != nbsvc::ReadOutcome::Ok) return 0;
  if (nbsvc::CheckRequestHeader(header) != nbsvc::HeaderCheck::Ok ||
      request.size() != header.decompSize) {
    std::abort();  // a request was accepted that its header does not describe
  }
  nbsvc::WithoutAcceptEncoding(request);
  return 0;
}
