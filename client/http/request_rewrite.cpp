// The rewriting of a proxy request's head.
#include "http/request_rewrite.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "http/http_head.h"
#include "support/debug.h"
#include "support/nbString.h"

namespace {

// Turns the "/http:" form (GET /http://host/path HTTP/1.1) into an absolute
// URL and returns the host it names; the line is left alone when it is not in
// that form or has no protocol version.
std::string UnwrapSlashHttpForm(std::string& line) {
  std::vector<std::string> words = StrExplode(line, " ", true);
  if (words.size() < 3 || words[1].size() <= 10 || words[1].compare(0, 6, "/http:") != 0) {
    dbgmsg("/http: NOT found");
    return std::string();
  }
  dbgmsg("/http: found");
  std::string sHost = words[1].substr(8);
  dbgmsg("sHost N1=" + sHost);
  std::size_t i = sHost.find('/');
  sHost = i == std::string::npos ? std::string() : sHost.substr(0, i);
  dbgmsg("sHost N2=" + sHost);
  line = words[0] + " " + words[1].substr(1) + " " + words[2];
  dbgmsg("vsHttpHeaderParams.at(0)=" + line);
  return sHost;
}

// Cuts scheme and host from an absolute URL (the URL word begins with
// "http://"), keeping the path; a URL without a path after the host and a
// URL that is already a path stay as they are.
void AbsoluteUrlToPath(std::string& line) {
  std::size_t m = line.find_first_not_of(' ');
  if (m == std::string::npos) return;
  std::size_t gap = line.find(' ', m);
  if (gap == std::string::npos) return;
  std::size_t a = line.find_first_not_of(' ', gap);
  if (a == std::string::npos || line.compare(a, 7, "http://") != 0) return;
  std::size_t urlEnd = line.find(' ', a);
  if (urlEnd == std::string::npos) urlEnd = line.size();
  std::size_t b = line.find('/', a + 7);
  if (b == std::string::npos || b >= urlEnd) return;
  line.erase(a, b - a);
}

}  // namespace

std::string CorrectingHeader(std::string_view sHttpRequest, std::size_t iMaxSize) {
  dbgmsg("bool CorrectingHeader(string sHttpRequest)");
  const std::string head(GetHttpHeader(sHttpRequest));
  dbgmsg("header before modification: " + head);
  // Without a complete head of a known kind there is nothing to rewrite.
  const auto unchanged = [&] {
    return sHttpRequest.size() > iMaxSize ? std::string() : std::string(sHttpRequest);
  };
  if (head.empty()) return unchanged();
  std::vector<std::string> lines = StrExplode(head, "\r\n", true);
  if (lines.empty()) return unchanged();
  const std::string_view body = sHttpRequest.substr(head.size());

  const std::string sHost = UnwrapSlashHttpForm(lines[0]);
  dbgmsg("sHost=" + sHost);
  AbsoluteUrlToPath(lines[0]);

  // Every Host line may grow to the length of sHost: each line is measured
  // before it is added, so the result never grows beyond the limit.
  const std::size_t tail = 2 + body.size();
  if (tail > iMaxSize) return std::string();
  const std::size_t room = iMaxSize - tail;
  std::string result;
  result.reserve(std::min(room, head.size() + 64) + tail);
  // Each connection carries one request: every site is asked to close after
  // its answer, also when the browser sent no Proxy-Connection line.
  static const char kClose[] = "Connection: Close";
  bool bClose = false;
  for (const std::string& line : lines) {
    std::vector<std::string> pieces = StrExplode(line, ":", true);
    std::string name = pieces.empty() ? std::string() : StrLCase(pieces[0]);
    const char* replaced = nullptr;  // the new line's text, when it changes
    bool bWithHost = false;          // sHost follows that text
    if (name == "proxy-connection" && pieces.size() == 2) {
      replaced = kClose;
      bClose = true;
    } else if (!sHost.empty() && name == "host" && pieces.size() >= 2) {
      replaced = "Host: ";
      bWithHost = true;
    }
    const std::size_t len =
        replaced == nullptr ? line.size() : std::strlen(replaced) + (bWithHost ? sHost.size() : 0);
    if (len + 2 > room - result.size()) {
      dbgmsg("header after modification exceeds the limit");
      return std::string();
    }
    if (replaced == nullptr) {
      result += line;
    } else {
      result += replaced;
      if (bWithHost) result += sHost;
    }
    result += "\r\n";
  }
  if (!bClose) {
    if (sizeof kClose + 1 > room - result.size()) {
      dbgmsg("header after modification exceeds the limit");
      return std::string();
    }
    result += kClose;
    result += "\r\n";
  }
  dbgmsg("header after modification: " + result);
  result += "\r\n";
  result += body;
  return result;
}
