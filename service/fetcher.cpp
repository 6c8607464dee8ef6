// Web server fetch for the service.
#include "fetcher.h"

#include "owned_socket.h"
#include "response_framer.h"

namespace nbsvc {

namespace {

constexpr std::size_t kReadStep = 64 * 1024;

// A head whose Content-Length already exceeds the cap: no need to read on.
bool AnnouncedTooBig(const ResponseFramer& framer, bool headRequest, std::size_t cap) {
  if (headRequest || !framer.HeadKnown() || !framer.Head().hasContentLength) return false;
  std::size_t headBytes = framer.HeadOffset() + framer.Head().headLen;
  return headBytes >= cap || framer.Head().contentLength > cap - headBytes;
}

}  // namespace

bool IsHeadRequest(const std::string& request) { return request.compare(0, 5, "HEAD ") == 0; }

bool IsRepeatableRequest(const std::string& request) {
  return request.compare(0, 4, "GET ") == 0 || IsHeadRequest(request);
}

FetchResult Fetch(std::uint32_t ipNet, std::uint16_t port, const std::string& request,
                  const FetchLimits& limits, const FetchSink& onData) {
  FetchResult r;
  nbplat::OwnedSocket s(nbplat::TcpSocket());
  if (!s.valid() || !nbplat::ConnectIPv4(s.get(), ipNet, port, limits.connectMs)) {
    r.status = FetchStatus::ConnectFailed;
    return r;
  }
  if (!nbplat::SendAll(s.get(), request.data(), request.size()).ok()) {
    r.status = FetchStatus::SendFailed;
    return r;
  }
  bool head = IsHeadRequest(request);
  bool repeatable = IsRepeatableRequest(request);
  ResponseFramer framer(head);
  std::string buf(kReadStep, '\0');
  for (;;) {
    std::size_t room = limits.maxResponse - static_cast<std::size_t>(r.received);
    nbplat::IoResult io =
        nbplat::RecvSome(s.get(), &buf[0], room < kReadStep ? room : kReadStep, limits.idleMs);
    if (io.status == nbplat::IoStatus::TimedOut) {
      r.status = framer.Complete() ? FetchStatus::Complete : FetchStatus::TimedOut;
      return r;
    }
    if (!io.ok() || io.bytes == 0) {
      r.status = framer.WholeAtEnd(io.status == nbplat::IoStatus::Closed) ? FetchStatus::Complete
                                                                          : FetchStatus::Cut;
      return r;
    }
    framer.Feed(buf.data(), io.bytes);
    // A GET or HEAD goes to the client's direct road anyway: stop early.
    if (repeatable && AnnouncedTooBig(framer, head, limits.maxResponse)) {
      r.status = FetchStatus::Truncated;
      return r;
    }
    r.received += io.bytes;
    if (!onData(buf.data(), io.bytes)) {
      r.status = FetchStatus::Abandoned;
      return r;
    }
    if (framer.Complete()) {
      r.status = FetchStatus::Complete;
      return r;
    }
    if (r.received >= limits.maxResponse) {
      r.status = FetchStatus::Truncated;
      return r;
    }
  }
}

}  // namespace nbsvc
