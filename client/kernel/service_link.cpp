// The client's side of the compression service exchange: one browser request
// handed to the service as a request packet, the answer packets turned into
// bytes for the browser, the traffic and money statistics, and the link's
// process-wide flags.
#include "kernel/service_link.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/chunked.h"
#include "kernel/filters.h"
#include "kernel/hash.h"
#include "kernel/limits.h"
#include "kernel/relay.h"
#include "kernel/state.h"
#include "kernel/tunnel.h"
#include "support/debug.h"
#include "support/nbMutex.h"
#include "support/nbString.h"
#include "tray/tray.h"

std::atomic<int> iServicePort{nb::kServicePort};
std::atomic<int> iServiceIdleMs{nb::kServiceIdleMs};

namespace {

const char* const kProcSig = "void processRequestWithService(ThreadArgs* thArgs)";
const char* const kSendSig =
    "void sendDataToServer(SOCKET ssocket, int ip, int port, char* buff , int iSize)";

// Reads len bytes unless the peer closes, fails or stays silent for the idle
// time first; returns the count received and, through *end, how the read
// ended (Ok when all len bytes came).
std::size_t RecvFull(nbplat::Socket s, void* data, std::size_t len, nbplat::IoStatus* end) {
  char* p = static_cast<char*>(data);
  std::size_t got = 0;
  *end = nbplat::IoStatus::Ok;
  while (got < len) {
    nbplat::IoResult r = nbplat::RecvSome(s, p + got, len - got, iServiceIdleMs.load());
    if (!r.ok()) {
      *end = r.status;
      break;
    }
    got += r.bytes;
  }
  return got;
}

// Marks the browser's connection to end with a reset: the service's answer
// was cut, and what was delivered of it must not look whole.
void CutAnswer(ThreadArgs* thArgs) {
  dbgmsg("service answer cut short: the browser's connection ends with a reset");
  nbplat::SetResetOnClose(thArgs->sckBrowser);
}

// Connects sckServer (already created) to the service, directly or through
// the upstream proxy's tunnel. False when the service cannot be reached.
bool ConnectService(ThreadArgs* thArgs, const Program_Options& po) {
  // The ServiceHost option, or else the build setting.
  std::string serviceHost = sServiceHostName;
  int servicePort = iServicePort.load();
  if (!po.sServiceHost.empty() &&
      !SplitServiceHost(po.sServiceHost, servicePort, serviceHost, servicePort)) {
    dbgmsg("Service address malformed");
    return false;
  }
  std::uint32_t ip = 0;
  if (po.sProxyName.empty()) {
    if (!nbplat::ResolveIPv4(serviceHost, &ip)) {
      dbgmsg("Service hostent error");
      return false;
    }
    if (!nbplat::ConnectIPv4(thArgs->sckServer, ip, static_cast<std::uint16_t>(servicePort),
                             nb::kConnectTimeoutMs)) {
      dbgmsg("Service socket failed");
      return false;
    }
    return true;
  }
  std::string answer;
  switch (OpenProxyTunnel(thArgs->sckServer, po, serviceHost + ":" + std::to_string(servicePort),
                          iServiceIdleMs.load(), &answer)) {
    case TunnelResult::Opened:
      return true;
    case TunnelResult::Unresolved:
      dbgmsg("Proxy hostent error");
      return false;
    case TunnelResult::Unreachable:
      dbgmsg("Proxy socket failed");
      return false;
    default:
      dbgmsg("Proxy refused the tunnel to the service");
      return false;
  }
}

// Drops the service connection and serves the request directly instead.
void RelayDirectInstead(ThreadArgs* thArgs) {
  nbplat::CloseSocket(thArgs->sckServer);
  thArgs->sckServer = nbplat::kNoSocket;
  processRequestDirect(thArgs);
}

// Sends len bytes to the browser; a packet without content is no failure.
bool DeliverToBrowser(ThreadArgs* thArgs, const char* data, std::size_t len) {
  if (len == 0) return true;
  return nbplat::SendAll(thArgs->sckBrowser, data, len).ok();
}

// Kind 2: decompresses the body held in buff and delivers the content.
void DeliverBz2(ThreadArgs* thArgs, const nbServiceHeader& h) {
  std::string content;
  if (!Bz2Decompress(thArgs->buff, h.size, static_cast<std::size_t>(h.decompSize) + kBz2Slack,
                     content)) {
    dbgmsg("bz2 don't worked. skeep packet");
    return;
  }
  if (!content.empty()) {
    dbgmsg(content.c_str());
    if (content.size() != h.decompSize) {
      dprintf("decompressed length %u differs from decompSize %u", unsigned(content.size()),
              unsigned(h.decompSize));
    }
    // The content itself is delivered, whatever length the header announced.
    if (!BadKeywordsInContent(content.c_str())) {
      DeliverToBrowser(thArgs, content.data(), content.size());
    }
  }
  dbgmsg("nbpacket is bz2. decompress and send to browser OK");
}

// Acts on one complete answer packet whose body lies in buff. False when the
// browser can no longer be written to.
bool HandlePacket(ThreadArgs* thArgs, const nbServiceHeader& h) {
  switch (h.msg) {
    case NB_PACKET_EMPTY:
      return true;
    case NB_PACKET_BZ2:
      DeliverBz2(thArgs, h);
      return true;
    case NB_PACKET_NOCOMPRESS: {
      thArgs->buff[h.size] = '\0';
      dbgmsg(thArgs->buff);
      bool ok = true;
      if (!BadKeywordsInContent(thArgs->buff)) ok = DeliverToBrowser(thArgs, thArgs->buff, h.size);
      dbgmsg("nbpacket is nocompress. send to browser OK");
      return ok;
    }
    case NB_PACKET_JPG: {
      bool ok = DeliverToBrowser(thArgs, thArgs->buff, h.size);
      if (ok) dbgmsg("nbpacket is jpg. send to browser OK");
      return ok;
    }
    default:
      dbgmsg("Unknow packet.");
      return true;
  }
}

// Adds one packet to the traffic statistics, refreshes po and saves the file.
void CountPacket(const nbServiceHeader& h, Program_Options& po) {
  {
    nbLockGuard lock(mtxProgramOptions);
    ChangeProgramOptions([&h](Program_Options& o) {
      o.dTotalTraffic += static_cast<double>(h.decompSize);
      o.dCompressTraffic += static_cast<double>(h.size);
    });
    po = GetProgramOptions();
  }
  SaveProgramOptions();
}

// Kind 5: takes the service clock, sends the bodiless reply header.
void CorrectClock(nbplat::Socket s, const Program_Options& po, std::int32_t serviceTime) {
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(MakeTimeShiftReply(po, serviceTime), out);
  std::int32_t shift;
  {
    nbLockGuard lock(mtxProgramOptions);
    shift = ServiceTimeShift(nbplat::TickCountMs(), serviceTime);
    iServTimeShift.store(shift);
  }
  // A failed send shows at the next header read, which then ends the exchange.
  nbplat::SendAll(s, out, sizeof out);
  dprintf("iServTimeShift=%d", static_cast<int>(shift));
}

}  // namespace

std::int32_t ServiceClock(std::uint32_t tickMs, std::int32_t shift) {
  return AsSigned(tickMs / 1000u + AsUnsigned(shift));
}

std::int32_t ServiceTimeShift(std::uint32_t tickMs, std::int32_t serviceTime) {
  return AsSigned(AsUnsigned(serviceTime) - tickMs / 1000u);
}

nbClientHeader MakeRequestHeader(const Program_Options& po, std::uint32_t ip, int port,
                                 std::int32_t time, std::uint32_t compSize, std::uint32_t iSize) {
  nbClientHeader h;
  h.login = po.iLogin;
  h.ipNet = ip;
  h.port = static_cast<std::uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
  h.authCode = static_cast<std::uint16_t>(getAuthCode(po.sPassword.c_str(), time) & 0xFFFF);
  h.jpegLevel = static_cast<std::uint16_t>(JpegCodeForLevel(po.iJpegLvl));
  h.time = time;
  h.size = compSize;
  h.decompSize = iSize;
  return h;
}

nbClientHeader MakeTimeShiftReply(const Program_Options& po, std::int32_t serviceTime) {
  nbClientHeader h;
  h.login = po.iLogin;
  h.authCode = static_cast<std::uint16_t>(getAuthCode(po.sPassword.c_str(), serviceTime) & 0xFFFF);
  h.jpegLevel = 0;
  h.time = serviceTime;
  return h;
}

bool ServicePacketFits(const nbServiceHeader& h) {
  return h.size <= kMaxBodySize && h.decompSize <= kMaxBodySize;
}

double MoneyFromService(std::int32_t money) { return static_cast<double>(money / 100); }

int getJPEGCompressLevel() {
  dbgmsg("int getJPEGCompressLevel(void)");
  const int code = JpegCodeForLevel(GetProgramOptions().iJpegLvl);
  dbgmsg("RET int getJPEGCompressLevel(void)");
  return code;
}

void saveMoneyInfo(int money) {
  dbgmsg("void saveMoneyInfo(int money)");
  ChangeProgramOptions([money](Program_Options& po) { po.dMoney = MoneyFromService(money); });
}

bool sendDataToServer(nbplat::Socket ssocket, unsigned int ip, int port, const char* buff,
                      int iSize) {
  dbgmsg(kSendSig);
  const std::int32_t time = ServiceClock(nbplat::TickCountMs(), iServTimeShift.load());
  const Program_Options po = GetProgramOptions();
  if (iSize < 0 || (buff == nullptr && iSize > 0)) {
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  std::string compressed;
  if (!Bz2Compress(iSize > 0 ? buff : "", static_cast<std::size_t>(iSize), compressed)) {
    dbgmsg("bz2 is not worked. N1");
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  unsigned char header[kClientHeaderSize];
  EncodeClientHeader(
      MakeRequestHeader(po, ip, port, time, static_cast<std::uint32_t>(compressed.size()),
                        static_cast<std::uint32_t>(iSize)),
      header);
  nbplat::IoResult r = nbplat::SendAll(ssocket, header, sizeof header);
  if (!r.ok()) {
    dbgmsg("can't send nbheader");
    dprintf("iLen=%u", unsigned(r.bytes));
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  r = nbplat::SendAll(ssocket, compressed.data(), compressed.size());
  if (!r.ok()) {
    dbgmsg("can't send nbbody");
    dprintf("iLen=%u", unsigned(r.bytes));
    dbgmsg(std::string("RET ") + kSendSig);
    return false;
  }
  dbgmsg(std::string("RET ") + kSendSig);
  return true;
}

void processRequestWithService(ThreadArgs* thArgs) {
  dbgmsg(kProcSig);
  const std::string sRet = std::string("RET ") + kProcSig;
  Program_Options po = GetProgramOptions();
  if (po.bCompressOff) {
    processRequestDirect(thArgs);
    dbgmsg("ProgamOptions.bCompressOff=true");
    dbgmsg(sRet);
    return;
  }

  // A chunked body arrives after the head and only the relay passes it on.
  if (RequestBodyFraming(thArgs->buff) != BodyFraming::Length) {
    dbgmsg("request body is not framed by a length: direct road");
    processRequestDirect(thArgs);
    dbgmsg(sRet);
    return;
  }

  // Nothing has reached the browser yet: a service that cannot be reached
  // leaves the request to the direct relay rather than unanswered.
  thArgs->sckServer = nbplat::TcpSocket();
  nbplat::SetSendTimeout(thArgs->sckBrowser, iSendTimeoutMs.load());
  nbplat::SetSendTimeout(thArgs->sckServer, iSendTimeoutMs.load());
  if (thArgs->sckServer == nbplat::kNoSocket || !ConnectService(thArgs, po)) {
    RelayDirectInstead(thArgs);
    dbgmsg(sRet);
    return;
  }

  // Answer bodies are received into buff; the request is kept for a
  // no-money answer that arrives after content packets.
  const std::string request(thArgs->buff, static_cast<std::size_t>(std::max(thArgs->iSize, 0)));

  if (!sendDataToServer(thArgs->sckServer, thArgs->ipHost, thArgs->iHostPort, thArgs->buff,
                        thArgs->iSize)) {
    dbgmsg("send to service nbheader and body FAILED. exit");
    dbgmsg(sRet);
    return;
  }
  dbgmsg("send to service nbheader and body OK");

  bool bContinue = true;
  while (bContinue) {
    unsigned char raw[kServiceHeaderSize];
    nbplat::IoStatus end = nbplat::IoStatus::Ok;
    const std::size_t got = RecvFull(thArgs->sckServer, raw, sizeof raw, &end);
    if (got != sizeof raw) {
      // The service ends its answer by closing between packets; a close
      // inside a header, a reset or a silence cut the answer.
      if (got != 0 || end != nbplat::IoStatus::Closed) CutAnswer(thArgs);
      break;
    }
    const nbServiceHeader h = DecodeServiceHeader(raw);
    dbgmsg("nbheader accepted from service");
    dprintf("serviceHeader.size = %u", unsigned(h.size));

    if (h.msg == NB_PACKET_NOMONEY) {
      iNoMoneyLogin.store(AsSigned(h.size));
      dbgmsg("no money at account");
      const std::size_t n =
          std::min(request.size(), static_cast<std::size_t>(nb::kRequestBufferSize - 1));
      std::memcpy(thArgs->buff, request.data(), n);
      thArgs->buff[n] = '\0';
      thArgs->iSize = static_cast<int>(n);
      RelayDirectInstead(thArgs);
      dbgmsg(sRet);
      return;
    }
    WinSysTray::NetworkActivity(true);
    if (h.msg == NB_PACKET_TIMESHIFT) {
      CorrectClock(thArgs->sckServer, po, AsSigned(h.size));
      continue;
    }
    if (!ServicePacketFits(h)) {
      // What was delivered so far is not the whole answer.
      dbgmsg("Warning: big packet. Skipping");
      CutAnswer(thArgs);
      break;
    }
    dprintf(
        "packet dump: \nserviceHeader.msg = %u\nserviceHeader.size = %u\n"
        "serviceHeader.decompSize = %u",
        unsigned(h.msg), unsigned(h.size), unsigned(h.decompSize));

    std::size_t received = 0;
    while (received < h.size) {
      WinSysTray::NetworkActivity(true);
      nbplat::IoResult r = nbplat::RecvSome(thArgs->sckServer, thArgs->buff + received,
                                            h.size - received, iServiceIdleMs.load());
      if (!r.ok()) break;
      received += r.bytes;
      dbgmsg("receive packet body part");
    }
    dprintf("iSize, serviceHeader.size = %u, %u", unsigned(received), unsigned(h.size));
    dbgmsg("nbbody accepted from service");
    saveMoneyInfo(h.money);
    if (received != h.size) {
      dbgmsg("Warning accept not all data. skip");
      CutAnswer(thArgs);
      SaveProgramOptions();  // the money just taken lasts like every other packet's
      dbgmsg(sRet);
      return;
    }

    bAuthFailed.store(h.msg == NB_PACKET_AUTHFAILED);
    bContinue = HandlePacket(thArgs, h);
    CountPacket(h, po);
  }
}

bool nbGetServerState() { return bServerEnabled.load(); }

bool nbIsOnLine() {
  dbgmsg("bool nbIsOnLine(void)");
  const bool b = bOnLine.load();
  dbgmsg(b ? "bOnLine=1" : "bOnLine=0");
  return b;
}

bool nbNoMoney() { return iNoMoneyLogin.load() != 0; }

bool nbAuthFailed() { return bAuthFailed.load(); }
