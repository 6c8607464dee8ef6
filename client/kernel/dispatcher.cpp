// The worker thread of one browser connection: one request, one answer, then
// the connection is closed and the worker slot given back.
#include "kernel/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "http/http.h"
#include "http/nbHttp.h"
#include "kernel/capabilities.h"
#include "kernel/context.h"
#include "kernel/filters.h"
#include "kernel/https_tunnel.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/relay.h"
#include "kernel/road.h"
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
  // args is not nullptr; the scope owns it from here.
  explicit WorkerScope(ThreadArgs* args) : args_(args), proxy_(args->ctx.proxy) {}
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

  ThreadArgs* args() const { return args_.get(); }
  // Allocates the request buffer and hands it to the record; false when the
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

void SendText(nbplat::Socket s, const std::string& text) {
  nbplat::SendAll(s, text.data(), text.size());
}

// Last three characters of the URL's path (see getFileExtensionFromRequest),
// or "" when there are none.
std::string ExtensionOf(const char* buff) {
  char sTmp[16] = {0};
  if (!getFileExtensionFromRequest(sTmp, sizeof sTmp, buff)) return std::string();
  return sTmp;
}

bool HasHeader(const char* buff, const char* name) {
  char value[256];
  return getParameterFromHttpHeader(name, value, sizeof value, buff);
}

// The body of the worker once the slot is counted and the buffer exists.
void ServeRequest(ThreadArgs* a, const Program_Options& po) {
  char* buff = a->buff;
  int count = ReadBrowserRequest(a->sckBrowser.get(), buff, nb::kRequestBufferSize,
                                 nb::kMaxPacketSize, nb::kBrowserIdleMs);
  if (IsConnectRequest(buff, count)) {
    processConnectTunnel(a, po, count);
    return;
  }
  if (!isHttpHeaderExists(buff, count)) {
    dbgmsg("Warning: isHttpHeaderExists = false");
    return;
  }
  // The size the browser declared, before any rewriting: the road is chosen
  // on it, so that a request that did not fit the buffer is never cut.
  const int iRawSize = RequestWireSize(buff, count);
  if (iRawSize < 0) {
    dbgmsg("Content-Length refused. exit");
    return;
  }
  if (count > iRawSize) {
    // One request per connection: whatever follows its end is dropped. A
    // chunked body has no size in its head; the relay passes it to its end.
    if (!HasHeader(buff, "Transfer-Encoding")) count = iRawSize;
  } else if (count < iRawSize && count < nb::kMaxPacketSize) {
    dbgmsg("request incomplete. exit");
    return;
  }
  buff[count] = 0;
  a->iSize = count;
  dbgmsg("iSize=");
  dbgmsg(static_cast<double>(a->iSize));

  const std::string sRequest(buff, static_cast<std::size_t>(a->iSize));
  const std::string sHost = GetParameterFromHttpHeader(sRequest, "Host");
  if (sHost.empty()) {
    dbgmsg("sHost not found. exit");
    return;
  }
  if (!ParseRequestPort(GetParameterFromHttpHeader(sRequest, "Port"), &a->iHostPort)) {
    dbgmsg("port out of range. exit");
    return;
  }
  dbgmsg("Host=" + sHost);
  dbgmsg("Port=" + IntToStr(a->iHostPort));

  // Only a browser on this machine may reach the settings port through us.
  if (a->iHostPort == po.iSettingsPort && a->ipClient != nb::kLoopbackNet) {
    dbgmsg("blocking of remote connection at settings port.");
    return;
  }

  LogURL(GetUrlFromHttpRequest(sRequest).c_str());

  if (isBanner(sRequest)) {
    dbgmsg("request blocked. banner");
    return;
  }
  if (isBlockFileExtension(sRequest)) {
    dbgmsg("request blocked. ext");
    return;
  }

  // The corrected request must still fit the connection buffer as a limit;
  // the buffer's room beyond a full read takes the line asking to close.
  const std::string sCorrected =
      CorrectingHeader(sRequest, static_cast<std::size_t>(nb::kRequestBufferSize - 1));
  if (sCorrected.empty()) {
    dbgmsg("corrected request does not fit the buffer. exit");
    return;
  }
  std::memcpy(buff, sCorrected.data(), sCorrected.size());
  a->iSize = static_cast<int>(sCorrected.size());
  buff[a->iSize] = 0;

  std::uint32_t ip = 0;
  if (!nbplat::ResolveIPv4(sHost, &ip)) {
    dbgmsg("Host unresolved=" + sHost);
    SendText(a->sckBrowser.get(), "<b>NimbrelClient:</b> " + HtmlEscape(sHost) + " not found.");
    return;
  }
  a->ipHost = ip;
  dbgmsg("ip=" + IpIntToStr(ip));
  // A request for our own port would come straight back to us, and again.
  if (IsOwnListener(ip, a->iHostPort, nbplat::LocalPort(a->ctx.proxy.lsocket))) {
    dbgmsg("request for the proxy's own port refused. exit");
    return;
  }

  a->iRequestSize = getRequestSize(buff, a->iSize);
  dbgmsg("iRequestSize=");
  dbgmsg(static_cast<double>(a->iRequestSize));

  // Images: either relayed untouched or, for a conditional request while
  // images are recompressed, answered from the browser's own cache.
  // PNG and GIF are recoded too by a service that makes WebP.
  const std::string sExt = ExtensionOf(buff);
  if (IsRecodedImage(sExt, ServiceCapabilities(ServiceKey(po, GetServiceLinkSettings())))) {
    const bool bJpeg = sExt == "jpg" || sExt == "peg";
    if (getJPEGCompressLevel() == 4) {
      if (bJpeg) {
        processRequestDirect(a);
        return;
      }
    } else if (HasHeader(buff, "If-Range") || HasHeader(buff, "If-None-Match")) {
      dbgmsg("'is modified' request");
      nbplat::SendAll(a->sckBrowser.get(), kNotModified, sizeof kNotModified - 1);
      return;
    }
  }

  RoadFacts facts;
  facts.iNoMoneyLogin = a->ctx.link.iNoMoneyLogin.load();
  facts.iRequestSize = std::max(iRawSize, a->iRequestSize);
  facts.bOnLine = a->ctx.link.bOnLine.load();
  facts.ipHost = a->ipHost;
  facts.sExt = sExt;
  if (ChooseDirectRoad(facts)) {
    processRequestDirect(a);
  } else {
    processRequestWithService(a);
  }
}

}  // namespace

void processRequest(void* lpSocket) {
  dbgmsg(kSignature);
  if (lpSocket == nullptr) return;
  WorkerScope scope(static_cast<ThreadArgs*>(lpSocket));
  ThreadArgs* a = scope.args();
  const Program_Options po = a->ctx.options.Get();
  dbgmsg("threadMap[index].sckBrowser");
  dbgmsg(static_cast<double>(a->sckBrowser.get()));
  if (!scope.AllocateBuffer()) return;
  ServeRequest(a, po);
}
