// Reading one browser request into the connection buffer: how much of it
// there is, whether it is whole, and the port its Host line names.
#include "kernel/request_reader.h"

#include <climits>
#include <string>
#include <vector>

#include "http/http_head.h"
#include "kernel/limits.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

// A Content-Length value: a plain decimal number of at most
// nb::kMaxRequestBody, spaces around it allowed. False for anything else.
bool ParseBodyLength(const std::string& sValue, long long* len) {
  const std::string text = StrTrim(sValue);
  if (text.empty()) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (value > (nb::kMaxRequestBody - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *len = value;
  return true;
}

// The body length that the Content-Length lines of head declare, found as
// GetParameterFromHttpHeader finds them: true with *len (0 when there is no
// such line) when every one of them holds the same valid length and no
// Transfer-Encoding line contradicts them.
bool DeclaredBodyLength(const std::string& head, long long* len) {
  *len = 0;
  bool seen = false;
  bool bTransferEncoding = false;
  const std::vector<std::string> lines = StrExplode(head, "\r\n", true);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].find(':') == std::string::npos) continue;
    const std::vector<std::string> pieces = StrExplode(lines[i], ":", true);
    if (pieces.size() < 2) continue;
    const std::string name = StrLCase(StrTrim(pieces[0]));
    if (name == "transfer-encoding") bTransferEncoding = true;
    if (name != "content-length") continue;
    // A value holding a colon is not a number either.
    long long value = 0;
    if (pieces.size() > 2 || !ParseBodyLength(pieces[1], &value)) return false;
    if (seen && value != *len) return false;
    seen = true;
    *len = value;
  }
  return !(seen && bTransferEncoding);
}

}  // namespace

int RequestWireSize(const char* buff, int count) {
  if (!isHttpHeaderExists(BufferView(buff, count))) return -1;
  const int iHead = getHeaderLen(BufferView(buff, count));
  if (iHead <= 0) return -1;
  long long body = 0;
  if (!DeclaredBodyLength(std::string(buff, static_cast<std::size_t>(iHead)), &body)) return -1;
  static_assert(nb::kMaxRequestBody + nb::kRequestBufferSize <= INT_MAX, "sizes fit an int");
  return iHead + static_cast<int>(body);
}

RequestState ClassifyRequest(const char* buff, int count) {
  if (count <= 0) return RequestState::Incomplete;
  if (isHttpHeaderExists(BufferView(buff, count))) {
    const int wire = RequestWireSize(buff, count);
    if (wire < 0) return RequestState::BadLength;
    return wire <= count ? RequestState::Complete : RequestState::Incomplete;
  }
  // A complete head that is not a GET or POST will never become one.
  for (int i = 3; i < count; ++i) {
    if (buff[i - 3] == '\r' && buff[i - 2] == '\n' && buff[i - 1] == '\r' && buff[i] == '\n') {
      return RequestState::OtherMethod;
    }
  }
  return RequestState::Incomplete;
}

int ReadBrowserRequest(nbplat::Socket s, char* buff, int cap, int limit, int idleMs,
                       int headDeadlineMs) {
  if (cap <= 0) return 0;
  if (limit > cap - 1) limit = cap - 1;
  int count = 0;
  buff[0] = 0;
  // The request's whole size, measured once, as soon as its head is there.
  int wire = -1;
  const std::uint32_t start = nbplat::TickCountMs();
  while (count < limit) {
    if (wire < 0) {
      if (ClassifyRequest(buff, count) != RequestState::Incomplete) break;
      wire = RequestWireSize(buff, count);
    }
    if (wire >= 0 && count >= wire) break;
    // Until the head is complete, each read waits only for what is left of
    // the head's deadline: a browser sending a byte now and then is cut off.
    int wait = idleMs;
    if (wire < 0 && headDeadlineMs >= 0) {
      const std::uint32_t spent = nbplat::TickCountMs() - start;
      if (spent >= static_cast<std::uint32_t>(headDeadlineMs)) {
        dbgmsg("request head deadline passed");
        break;
      }
      const int left = headDeadlineMs - static_cast<int>(spent);
      if (wait < 0 || left < wait) wait = left;
    }
    const nbplat::IoResult r =
        nbplat::RecvSome(s, buff + count, static_cast<std::size_t>(limit - count), wait);
    if (!r.ok()) break;
    count += static_cast<int>(r.bytes);
    buff[count] = 0;
    dbgmsg("accept http-header part from browser. iRecvDataSize=");
    dbgmsg(static_cast<double>(r.bytes));
  }
  return count;
}

bool ParseRequestPort(const std::string& sPort, int* port) {
  const std::string text = StrTrim(sPort);
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;  // checked before the next digit can overflow
  }
  if (value == 0) return false;
  *port = value;
  return true;
}
