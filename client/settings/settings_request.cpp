// Reading and vetting the console's requests: a receive with a time-out, the
// form data of a POST, and the check that a state-changing request comes
// from the console's own page rather than from another site.
#include <algorithm>
#include <vector>

#include "http/http_head.h"
#include "settings/settingsman.h"
#include "support/nbString.h"

namespace {

struct HeaderLine {
  std::string name;  // lower case
  std::string value;
};

std::string TrimBlanks(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Header lines of the request head (the request line is skipped).
std::vector<HeaderLine> ParseHead(const std::string& request) {
  std::vector<HeaderLine> lines;
  std::size_t end = request.find("\r\n\r\n");
  std::string head = request.substr(0, end);
  std::size_t pos = head.find('\n');
  while (pos != std::string::npos) {
    std::size_t next = head.find('\n', pos + 1);
    std::string line =
        head.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      lines.push_back(
          {StrLCase(TrimBlanks(line.substr(0, colon))), TrimBlanks(line.substr(colon + 1))});
    }
    pos = next;
  }
  return lines;
}

bool IsDecimal(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "localhost", "127.0.0.1" or the local address, optionally with ":<iPort>".
bool IsLocalHostHeader(const std::string& value, int iPort, const std::string& sLocal) {
  std::string v = StrLCase(value);
  std::size_t colon = v.find(':');
  std::string host = v.substr(0, colon);
  if (host != "localhost" && host != "127.0.0.1" && (sLocal.empty() || host != sLocal))
    return false;
  if (colon == std::string::npos) return true;
  std::string port = v.substr(colon + 1);
  return IsDecimal(port) && StrToInteger(port) == iPort;
}

// The console's own origins as a browser writes them.
std::vector<std::string> OwnOrigins(int iPort, const std::string& sLocal) {
  std::string port = iPort == 80 ? "" : ":" + IntToStr(iPort);
  std::vector<std::string> origins = {"http://localhost" + port, "http://127.0.0.1" + port};
  if (!sLocal.empty()) origins.push_back("http://" + sLocal + port);
  return origins;
}

bool IsOwnOrigin(const std::string& value, int iPort, const std::string& sLocal) {
  std::string v = StrLCase(value);
  for (const std::string& o : OwnOrigins(iPort, sLocal)) {
    if (v == o) return true;
  }
  return false;
}

bool IsOwnReferer(const std::string& value, int iPort, const std::string& sLocal) {
  std::string v = StrLCase(value);
  for (const std::string& o : OwnOrigins(iPort, sLocal)) {
    if (v == o || v.compare(0, o.size() + 1, o + "/") == 0) return true;
  }
  return false;
}

}  // namespace

bool IsConsoleHost(const std::string& request, int iPort, const std::string& sLocalAddress) {
  bool bHost = false;
  for (const HeaderLine& h : ParseHead(request)) {
    if (h.name != "host") continue;
    if (bHost || !IsLocalHostHeader(h.value, iPort, sLocalAddress)) return false;
    bHost = true;
  }
  return bHost;
}

bool IsSameOriginRequest(const std::string& request, int iPort, const std::string& sLocalAddress) {
  if (!IsConsoleHost(request, iPort, sLocalAddress)) return false;
  for (const HeaderLine& h : ParseHead(request)) {
    if (h.name == "sec-fetch-site") {
      std::string v = StrLCase(h.value);
      if (v != "same-origin" && v != "none") return false;
    } else if (h.name == "origin") {
      if (!IsOwnOrigin(h.value, iPort, sLocalAddress)) return false;
    } else if (h.name == "referer") {
      if (!IsOwnReferer(h.value, iPort, sLocalAddress)) return false;
    }
  }
  return true;
}

HeadRead ReadRequestHead(nbSocket& client, std::string& request, std::size_t limit,
                         int deadlineMs) {
  request.clear();
  if (!client.HasSocket()) return HeadRead::Cut;
  const std::uint32_t start = nbplat::TickCountMs();
  char chunk[nbset::kRequestLimit];
  while (request.size() < limit) {
    const int elapsed = static_cast<int>(nbplat::TickCountMs() - start);
    if (elapsed >= deadlineMs) return HeadRead::Cut;
    const int wait = std::min(deadlineMs - elapsed, nbset::kRecvTimeoutMs);
    const std::size_t room = std::min(sizeof chunk, limit - request.size());
    nbplat::IoResult r = nbplat::RecvSome(client.Handle(), chunk, room, wait);
    if (!r.ok()) return HeadRead::Cut;
    // The head ends at its first blank line (CR LF CR LF, or bare LFs); only
    // the new bytes and the three before them need a look.
    const std::size_t from = request.size() > 3 ? request.size() - 3 : 0;
    request.append(chunk, r.bytes);
    if (request.find("\r\n\r\n", from) != std::string::npos ||
        request.find("\n\n", from) != std::string::npos) {
      return HeadRead::Complete;
    }
  }
  return HeadRead::TooLarge;
}

bool RecvWithin(nbSocket& Socket, std::string& s, int iLength, int timeoutMs) {
  s.clear();
  if (!Socket.HasSocket() || iLength <= 0) return false;
  std::string buf(static_cast<std::size_t>(iLength), '\0');
  nbplat::IoResult r = nbplat::RecvSome(Socket.Handle(), &buf[0], buf.size(), timeoutMs);
  if (!r.ok() || r.bytes == 0) return false;
  buf.resize(r.bytes);
  s.swap(buf);
  return true;
}

namespace {

// The wait allowed to the next receive: at most kRecvTimeoutMs, and never
// past the request's deadline; 0 when the deadline has passed.
int NextWaitMs(std::uint32_t startMs, int deadlineMs) {
  const int elapsed = static_cast<int>(nbplat::TickCountMs() - startMs);
  if (elapsed >= deadlineMs) return 0;
  return std::min(deadlineMs - elapsed, nbset::kRecvTimeoutMs);
}

}  // namespace

bool ReadFormData(std::string& request, nbSocket& client, std::string& form, std::uint32_t startMs,
                  int deadlineMs) {
  form.clear();
  const std::optional<std::string> sLength = GetParameterFromHttpHeader(request, "Content-Length");
  const bool bAnnounced = sLength.has_value();
  long long length = bAnnounced ? static_cast<long long>(StrToDbl(*sLength)) : nbset::kRequestLimit;
  if (length < 0) length = 0;
  if (length > nbset::kMaxFormBytes) return false;

  std::size_t headEnd = request.find("\r\n\r\n");
  if (headEnd == std::string::npos || !bAnnounced) {
    // No complete head, or no announced length: the form is what follows
    // "idJpgLvl" here, or else what one further receive brings.
    std::size_t pos = request.find("idJpgLvl", headEnd == std::string::npos ? 0 : headEnd);
    if (pos != std::string::npos) {
      form = request.substr(pos, static_cast<std::size_t>(length));
    } else {
      const int wait = NextWaitMs(startMs, deadlineMs);
      if (wait > 0) RecvWithin(client, form, static_cast<int>(length > 0 ? length : 1), wait);
    }
    return true;
  }

  // The body is read in full, up to the length the head announced.
  std::string body = request.substr(headEnd + 4);
  std::string more;
  // However busy the sender keeps each receive, the body ends at the
  // request's deadline: a trickle must not hold the console.
  while (static_cast<long long>(body.size()) < length) {
    const int wait = NextWaitMs(startMs, deadlineMs);
    if (wait <= 0 || !RecvWithin(client, more, static_cast<int>(length - body.size()), wait)) break;
    body += more;
  }
  if (static_cast<long long>(body.size()) < length) return false;
  std::size_t pos = body.find("idJpgLvl");
  form = body.substr(pos == std::string::npos ? 0 : pos, static_cast<std::size_t>(length));
  return true;
}
