// Web server fetch for the service.
#include "fetcher.h"

#include "http_response.h"
#include "owned_socket.h"

namespace nbsvc {

namespace {

constexpr std::size_t kReadStep = 64 * 1024;

// Worth checking framing now? Content-Length answers are checked every time
// (cheap); chunked ones only when the data ends with an empty line, as the
// last chunk does, so big chunked answers are not re-scanned per read.
bool MayBeComplete(const std::string& data) {
  std::size_t n = data.size();
  if (n < 4) return false;
  return data.compare(n - 2, 2, "\n\n") == 0 || data.compare(n - 3, 3, "\n\r\n") == 0 ||
         ParseResponseHead(data).hasContentLength;
}

// A head whose Content-Length already exceeds the cap: no need to read on.
bool AnnouncedTooBig(const std::string& data, bool headRequest, std::size_t cap) {
  if (headRequest) return false;
  std::size_t from = FinalResponseOffset(data);
  ResponseHead h = ParseResponseHead(data.substr(from, 65536));
  return h.complete && h.hasContentLength && h.contentLength > cap - from - h.headLen;
}

// How an answer that stopped arriving ended: Complete when its framing is
// satisfied, or when it is delimited by the end of the connection and the
// server closed cleanly; otherwise the answer was cut.
FetchStatus EndedAnswer(const std::string& data, bool head, bool cleanClose) {
  if (ResponseComplete(data, head)) return FetchStatus::Complete;
  std::size_t from = FinalResponseOffset(data);
  ResponseHead h = ParseResponseHead(data.substr(from, 65536));
  if (!h.complete) {
    // Part of a head: cut. Something that is not HTTP at all is passed on
    // as it came.
    bool http = data.compare(from, 5, "HTTP/") == 0;
    return http || !cleanClose ? FetchStatus::Cut : FetchStatus::Complete;
  }
  if (h.hasContentLength || h.chunked || !cleanClose) return FetchStatus::Cut;
  return FetchStatus::Complete;
}

}  // namespace

bool IsHeadRequest(const std::string& request) { return request.compare(0, 5, "HEAD ") == 0; }

bool IsRepeatableRequest(const std::string& request) {
  return request.compare(0, 4, "GET ") == 0 || IsHeadRequest(request);
}

FetchResult Fetch(std::uint32_t ipNet, std::uint16_t port, const std::string& request,
                  const FetchLimits& limits,
                  const std::function<bool(const std::string&)>& onData) {
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
  std::string buf(kReadStep, '\0');
  for (;;) {
    std::size_t room = limits.maxResponse - r.response.size();
    nbplat::IoResult io =
        nbplat::RecvSome(s.get(), &buf[0], room < kReadStep ? room : kReadStep, limits.idleMs);
    if (io.status == nbplat::IoStatus::TimedOut) {
      r.status = ResponseComplete(r.response, head) ? FetchStatus::Complete : FetchStatus::TimedOut;
      return r;
    }
    if (!io.ok() || io.bytes == 0) {
      r.status = EndedAnswer(r.response, head, io.status == nbplat::IoStatus::Closed);
      return r;
    }
    r.response.append(buf, 0, io.bytes);
    // A GET or HEAD goes to the client's direct road anyway: stop early.
    if (repeatable && AnnouncedTooBig(r.response, head, limits.maxResponse)) {
      r.status = FetchStatus::Truncated;
      return r;
    }
    if (MayBeComplete(r.response) && ResponseComplete(r.response, head)) {
      r.status = FetchStatus::Complete;
      return r;
    }
    if (r.response.size() >= limits.maxResponse) {
      r.status = FetchStatus::Truncated;
      return r;
    }
    if (onData && !onData(r.response)) {
      r.status = FetchStatus::Abandoned;
      return r;
    }
  }
}

}  // namespace nbsvc
