// The client's reading of the service's answer packets. A fake service on a
// loopback port takes the request and answers with the input bytes; a fake
// browser drains what the client delivers.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/link_settings.h"
#include "kernel/options.h"
#include "kernel/relay.h"
#include "kernel/service_link.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"
#include "protocol/packet.h"

namespace {

nbplat::Socket listener = nbplat::kNoSocket;
const std::uint32_t kLoopback = 0x0100007fu;  // 127.0.0.1, network order

// Reads len bytes; false when the connection ends first.
bool ReadAll(nbplat::Socket s, void* data, std::size_t len) {
  char* p = static_cast<char*>(data);
  while (len > 0) {
    nbplat::IoResult r = nbplat::RecvSome(s, p, len, 2000);
    if (!r.ok()) return false;
    p += r.bytes;
    len -= r.bytes;
  }
  return true;
}

// One exchange of the fake service: the request in, the answer out, then
// whatever the client still sends is read to its end.
void FakeService(const std::uint8_t* answer, std::size_t size) {
  nbplat::Socket s = nbplat::AcceptConnection(listener, nullptr);
  if (s == nbplat::kNoSocket) return;
  unsigned char raw[kClientHeaderSize];
  if (ReadAll(s, raw, sizeof raw)) {
    std::vector<char> body(DecodeClientHeader(raw).size);
    if (ReadAll(s, body.data(), body.size())) nbplat::SendAll(s, answer, size);
  }
  nbplat::ShutdownSocket(s);
  char sink[4096];
  while (nbplat::RecvSome(s, sink, sizeof sink, 2000).ok()) {
  }
  nbplat::CloseSocket(s);
}

// Every counted packet saves NimbrelClient.ini into the current folder:
// run this target from a scratch folder (run.sh does).
void Prepare() {
  listener = nbplat::TcpSocket();
  if (!nbplat::BindIPv4(listener, 0, kLoopback) || !nbplat::ListenOn(listener, 4)) std::abort();
  Program_Options po = GetProgramOptions();
  po.sServiceHost = "127.0.0.1:" + std::to_string(nbplat::LocalPort(listener));
  SetProgramOptions(po);
  ServiceLinkSettings link = GetServiceLinkSettings();
  link.idleMs = 500;
  SetServiceLinkSettings(link);
  gClient.iSendTimeoutMs.store(2000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool prepared = (Prepare(), true);
  (void)prepared;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
  std::thread service(FakeService, data, size);
  std::thread browser([fd = pair[1]] {
    char sink[4096];
    while (read(fd, sink, sizeof sink) > 0) {
    }
  });

  static const char kRequest[] =
      "GET http://127.0.0.1:1/a.html HTTP/1.0\r\nHost: 127.0.0.1:1\r\n\r\n";
  std::vector<char> buff(nb::kRequestBufferSize);
  ThreadArgs args(gClient);
  args.request = kRequest;
  args.sckBrowser.reset(static_cast<nbplat::Socket>(pair[0]));
  args.buff = buff.data();
  args.ipHost = kLoopback;
  args.iHostPort = 1;  // a no-money answer's direct road is refused at once
  processRequestWithService(&args);

  args.sckServer.reset();
  service.join();
  args.sckBrowser.reset();
  browser.join();
  close(pair[1]);
  return 0;
}
