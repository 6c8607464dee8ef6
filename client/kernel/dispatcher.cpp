// The worker thread of one browser connection: one request, one answer, then
// the connection is closed and the worker slot given back.
#include "kernel/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "http/http_head.h"
#include "http/http_text.h"
#include "http/request_rewrite.h"
#include "kernel/capabilities.h"
#include "kernel/context.h"
#include "kernel/filters.h"
#include "kernel/https_tunnel.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/relay.h"
#include "kernel/road.h"
#include "kernel/roads.h"
#include "kernel/service_link.h"
#include "kernel/thread_args.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr const char* kSignature = "void processRequest(IN PVOID lpSocket)";
constexpr char kNotModified[] = "HTTP/1.1 304 Not Modified\r\n\r\n";

// Owns the connection for the whole life of the worker (the acceptor counted
// its slot before starting it): on destruction closes both sockets, drops the
// browser socket from the open set, frees buffer and record and gives the
// slot back.
class WorkerScope {
 public:
  // c is not empty; the scope owns it from here.
  explicit WorkerScope(std::unique_ptr<ThreadArgs> c)
      : args_(std::move(c)), proxy_(args_->ctx.proxy) {}
  ~WorkerScope() {
    {
      // Forget the browser socket before closing it: once closed, its number
      // may come back at once for a connection the acceptor records.
      {
        std::lock_guard<std::mutex> lock(proxy_.mtxSocketSet);
        proxy_.setClientSockets.erase(args_->sckBrowser.get());
      }
      args_->sckBrowser.reset();
      args_->sckServer.reset();
      args_->buff = nullptr;
    }
    buff_.reset();
    args_.reset();
    dbgmsg("processRequest OK");
    const int left = --proxy_.iAmountThread;
    dbgmsg("iAmountThread=");
    dbgmsg(static_cast<double>(left));
    dbgmsg(std::string("RET ") + kSignature);
  }
  WorkerScope(const WorkerScope&) = delete;
  WorkerScope& operator=(const WorkerScope&) = delete;

  ThreadArgs& args() const { return *args_; }
  // Allocates the answer buffer and hands it to the record; false when the
  // memory is not there.
  bool AllocateBuffer() {
    buff_.reset(new (std::nothrow) char[nb::kRequestBufferSize]);
    if (!buff_) return false;
    args_->buff = buff_.get();
    return true;
  }

 private:
  std::unique_ptr<ThreadArgs> args_;
  ProxyState& proxy_;  // the worker count and socket set of args_'s client
  std::unique_ptr<char[]> buff_;
};

bool HasHeader(const char* buff, const char* name) {
  return GetParameterFromHttpHeader(buff, name).has_value();
}

Verdict Refuse() { return Verdict(); }

Verdict Take(Verdict::Road road) {
  Verdict v;
  v.road = road;
  return v;
}

Verdict Answer(std::string answer) {
  Verdict v;
  v.road = Verdict::Road::Answered;
  v.answer = std::move(answer);
  return v;
}

}  // namespace

Verdict JudgeRequest(ThreadArgs& c, const Program_Options& po) {
  ThreadArgs* a = &c;
  // Read straight into the request's own string: its bytes are never copied
  // to another buffer and back.
  std::string sRequest(static_cast<std::size_t>(nb::kRequestBufferSize), '\0');
  int count = ReadBrowserRequest(a->sckBrowser.get(), &sRequest[0], nb::kRequestBufferSize,
                                 nb::kMaxPacketSize, nb::kBrowserIdleMs);
  const char* buff = sRequest.c_str();
  if (IsConnectRequest(buff, count)) {
    sRequest.resize(static_cast<std::size_t>(count));
    a->request = std::move(sRequest);
    return Take(Verdict::Road::Tunnel);
  }
  if (!isHttpHeaderExists(BufferView(buff, count))) {
    dbgmsg("Warning: isHttpHeaderExists = false");
    return Refuse();
  }
  // The size the browser declared, before any rewriting: the road is chosen
  // on it, so that a request that did not fit the buffer is never cut.
  const int iRawSize = RequestWireSize(buff, count);
  if (iRawSize < 0) {
    dbgmsg("Content-Length refused. exit");
    return Refuse();
  }
  if (count > iRawSize) {
    // One request per connection: whatever follows its end is dropped. A
    // chunked body has no size in its head; the relay passes it to its end.
    if (!HasHeader(buff, "Transfer-Encoding")) count = iRawSize;
  } else if (count < iRawSize && count < nb::kMaxPacketSize) {
    dbgmsg("request incomplete. exit");
    return Refuse();
  }
  sRequest.resize(static_cast<std::size_t>(count));
  dbgmsg("iSize=");
  dbgmsg(static_cast<double>(count));

  const std::string sHost = GetHostFromHttpRequest(sRequest);
  if (sHost.empty()) {
    dbgmsg("sHost not found. exit");
    return Refuse();
  }
  if (!ParseRequestPort(GetPortFromHttpRequest(sRequest), &a->iHostPort)) {
    dbgmsg("port out of range. exit");
    return Refuse();
  }
  dbgmsg("Host=" + sHost);
  dbgmsg("Port=" + IntToStr(a->iHostPort));

  // Only a browser on this machine may reach the settings port through us.
  if (a->iHostPort == po.iSettingsPort && a->ipClient != nb::kLoopbackNet) {
    dbgmsg("blocking of remote connection at settings port.");
    return Refuse();
  }

  LogURL(GetUrlFromHttpRequest(sRequest).c_str());

  if (isBanner(sRequest)) {
    dbgmsg("request blocked. banner");
    return Refuse();
  }
  if (isBlockFileExtension(sRequest)) {
    dbgmsg("request blocked. ext");
    return Refuse();
  }

  // The corrected request must still fit the connection buffer as a limit;
  // the buffer's room beyond a full read takes the line asking to close.
  a->request =
      CorrectingHeader(std::move(sRequest), static_cast<std::size_t>(nb::kRequestBufferSize - 1));
  if (a->request.empty()) {
    dbgmsg("corrected request does not fit the buffer. exit");
    return Refuse();
  }
  const char* request = a->request.c_str();

  std::uint32_t ip = 0;
  if (!nbplat::ResolveIPv4(sHost, &ip)) {
    dbgmsg("Host unresolved=" + sHost);
    return Answer(HtmlAnswer("502 Bad Gateway",
                             "<b>NimbrelClient:</b> " + HtmlEscape(sHost) + " not found."));
  }
  a->ipHost = ip;
  dbgmsg("ip=" + IpIntToStr(ip));
  // A request for our own port would come straight back to us, and again.
  if (IsOwnListener(ip, a->iHostPort, nbplat::LocalPort(a->ctx.proxy.lsocket))) {
    dbgmsg("request for the proxy's own port refused. exit");
    return Refuse();
  }

  a->iRequestSize = getRequestSize(a->request);
  dbgmsg("iRequestSize=");
  dbgmsg(static_cast<double>(a->iRequestSize));

  // Images: either relayed untouched or, for a conditional request while
  // images are recompressed, answered from the browser's own cache.
  // PNG and GIF are recoded too by a service that makes WebP or AVIF.
  const std::string sExt = GetFileExtensionFromHttpRequest(a->request);
  if (IsRecodedImage(sExt, ServiceCapabilities(ServiceKey(po, GetServiceLinkSettings())))) {
    const bool bJpeg = sExt == "jpg" || sExt == "jpeg";
    if (getJPEGCompressLevel(po) == 4) {
      if (bJpeg) return Take(Verdict::Road::Direct);
    } else if (HasHeader(request, "If-Range") || HasHeader(request, "If-None-Match")) {
      dbgmsg("'is modified' request");
      return Answer(kNotModified);
    }
  }

  RoadFacts facts;
  facts.iNoMoneyLogin = a->ctx.link.iNoMoneyLogin.load();
  facts.iRequestSize = std::max(iRawSize, a->iRequestSize);
  facts.bOnLine = a->ctx.link.bOnLine.load();
  facts.ipHost = a->ipHost;
  facts.sExt = sExt;
  return Take(ChooseDirectRoad(facts) ? Verdict::Road::Direct : Verdict::Road::Service);
}

void processRequest(std::unique_ptr<ThreadArgs> connection) {
  dbgmsg(kSignature);
  if (!connection) return;
  WorkerScope scope(std::move(connection));
  ThreadArgs& c = scope.args();
  const Program_Options po = c.ctx.options.Get();
  dbgmsg("threadMap[index].sckBrowser");
  dbgmsg(static_cast<double>(c.sckBrowser.get()));
  if (!scope.AllocateBuffer()) return;
  Verdict v = JudgeRequest(c, po);
  switch (v.road) {
    case Verdict::Road::Direct:
      DirectRoad().Serve(c);
      break;
    case Verdict::Road::Service:
      ServiceRoad().Serve(c);
      break;
    case Verdict::Road::Tunnel:
      TunnelRoad(po).Serve(c);
      break;
    case Verdict::Road::Refuse:
    case Verdict::Road::Answered:
      AnswerRoad(std::move(v.answer)).Serve(c);
      break;
  }
}
