// A browser's request, as arbitrary bytes on a connection, through what the
// worker does before it chooses a road: reading, sizing, host and port,
// filters, the rewritten request and the road choice.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/http_head.h"
#include "http/request_rewrite.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "kernel/request_reader.h"
#include "kernel/road.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 100000) return 0;  // stays within one socket buffer
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  if (size > 0 && write(pair[1], data, size) != static_cast<ssize_t>(size)) std::abort();
  shutdown(pair[1], SHUT_WR);
  std::vector<char> buff(nb::kRequestBufferSize);
  int count = ReadBrowserRequest(static_cast<nbplat::Socket>(pair[0]), buff.data(),
                                 nb::kRequestBufferSize, nb::kMaxPacketSize, 1000, -1);
  close(pair[0]);
  close(pair[1]);
  if (count < 0 || count >= nb::kRequestBufferSize || buff[count] != 0) std::abort();

  ClassifyRequest(buff.data(), count);
  if (!isHttpHeaderExists(BufferView(buff.data(), count))) return 0;
  const int wire = RequestWireSize(buff.data(), count);
  if (wire < 0) return 0;
  if (count > wire) count = wire;
  const std::string request(buff.data(), static_cast<std::size_t>(count));
  GetHostFromHttpRequest(request);
  int port = 0;
  if (ParseRequestPort(GetPortFromHttpRequest(request), &port) && (port < 1 || port > 65535)) {
    std::abort();
  }
  GetUrlFromHttpRequest(request);
  isBanner(request);
  isBlockFileExtension(request);
  const std::string corrected =
      CorrectingHeader(request, static_cast<std::size_t>(nb::kRequestBufferSize - 1));
  RoadFacts facts;
  facts.iRequestSize = getRequestSize(corrected);
  facts.sExt = GetFileExtensionFromHttpRequest(corrected);
  isFileCantCompress(facts.sExt.c_str());
  ChooseDirectRoad(facts);
  return 0;
}
