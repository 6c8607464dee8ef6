// Finding a page's sub-resources and judging their answers.
#include "push_scan.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "http_response.h"
#include "packer.h"

namespace nbsvc {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The value of attribute name in tag (tag already lower case, original the
// same bytes as written); empty when absent.
std::string Attribute(const std::string& tag, const std::string& original, const char* name) {
  const std::string key = std::string(name) + "=";
  for (std::size_t at = tag.find(key); at != std::string::npos; at = tag.find(key, at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
    std::size_t from = at + key.size();
    if (from >= tag.size()) return std::string();
    std::size_t end;
    if (tag[from] == '"' || tag[from] == '\'') {
      end = tag.find(tag[from], from + 1);
      ++from;
    } else {
      end = tag.find_first_of(" \t\r\n>", from);
    }
    if (end == std::string::npos) end = tag.size();
    return original.substr(from, end - from);
  }
  return std::string();
}

// "http://host" of an absolute URL.
std::string OriginOf(const std::string& url) {
  std::size_t slash = url.find('/', 7);
  return url.substr(0, slash);
}

// The path (with its query) without "." and ".." segments; false when
// ".." climbs above the root or the path is encoded past recognition of
// them (a "%2e" segment).
bool WithoutDotSegments(const std::string& full, std::string* out) {
  const std::size_t q = full.find('?');
  const std::string path = full.substr(0, q);
  if (Lower(path).find("%2e") != std::string::npos) return false;
  std::vector<std::string> kept;
  std::size_t from = 1;
  for (;;) {
    const std::size_t end = path.find('/', from);
    const std::string seg = path.substr(from, end == std::string::npos ? end : end - from);
    const bool last = end == std::string::npos;
    if (seg == "..") {
      if (kept.empty()) return false;
      kept.pop_back();
      if (last) kept.emplace_back();
    } else if (seg == ".") {
      if (last) kept.emplace_back();
    } else {
      kept.push_back(seg);
    }
    if (last) break;
    from = end + 1;
  }
  out->clear();
  for (const std::string& seg : kept) *out += "/" + seg;
  if (out->empty()) *out = "/";
  if (q != std::string::npos) *out += full.substr(q);
  return true;
}

// Resolves ref against pageUrl; empty when it is not a plain http URL on
// the page's host.
std::string Resolve(std::string ref, const std::string& pageUrl) {
  for (std::size_t amp; (amp = ref.find("&amp;")) != std::string::npos;) ref.erase(amp + 1, 4);
  ref.erase(std::min(ref.find('#'), ref.size()));
  const std::size_t b = ref.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  ref = ref.substr(b, ref.find_last_not_of(" \t\r\n") - b + 1);
  if (std::any_of(ref.begin(), ref.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '\\';
      }))
    return std::string();
  const std::string origin = OriginOf(pageUrl);
  std::string url;
  if (ref.compare(0, 2, "//") == 0) {
    url = "http:" + ref;
  } else if (Lower(ref.substr(0, 7)) == "http://") {
    url = ref;
  } else if (ref[0] == '/') {
    url = origin + ref;
  } else if (ref.find(':') < ref.find_first_of("/?") || ref[0] == '?') {
    return std::string();  // another scheme (https:, data:) or a query alone
  } else {
    std::string dir = pageUrl.substr(0, pageUrl.find('?'));
    url = dir.substr(0, dir.rfind('/') + 1) + ref;
  }
  std::size_t slash = url.find('/', 7);
  std::string host = Lower(url.substr(0, slash));
  if (host != Lower(origin)) return std::string();
  if (slash == std::string::npos) return host + "/";
  std::string path;
  if (!WithoutDotSegments(url.substr(slash), &path)) return std::string();
  return host + path;
}

// The trimmed value of the first field name (lower case) in a lower-case head.
bool HasField(const std::string& head, const std::string& name, std::string* value) {
  std::size_t at = head.find("\n" + name + ":");
  if (at == std::string::npos) return false;
  std::size_t from = at + name.size() + 2;
  std::size_t end = head.find('\n', from);
  *value = head.substr(from, end == std::string::npos ? std::string::npos : end - from);
  while (!value->empty() && std::isspace(static_cast<unsigned char>(value->back())))
    value->pop_back();
  value->erase(0, value->find_first_not_of(" \t"));
  return true;
}

}  // namespace

std::vector<std::string> FindPushUrls(const std::string& html, const std::string& pageUrl,
                                      std::size_t max) {
  std::vector<std::string> urls;
  if (pageUrl.compare(0, 7, "http://") != 0) return urls;
  const std::string low = Lower(html);
  for (std::size_t lt = low.find('<'); lt != std::string::npos && urls.size() < max;
       lt = low.find('<', lt + 1)) {
    std::size_t gt = low.find('>', lt);
    if (gt == std::string::npos) break;
    const std::string tag = low.substr(lt, gt - lt);
    const std::string original = html.substr(lt, gt - lt);
    std::string ref;
    if (tag.compare(0, 5, "<link") == 0 && std::isspace(static_cast<unsigned char>(tag[5]))) {
      if (Lower(Attribute(tag, original, "rel")) == "stylesheet")
        ref = Attribute(tag, original, "href");
    } else if ((tag.compare(0, 7, "<script") == 0 &&
                std::isspace(static_cast<unsigned char>(tag[7]))) ||
               (tag.compare(0, 4, "<img") == 0 &&
                std::isspace(static_cast<unsigned char>(tag[4])))) {
      ref = Attribute(tag, original, "src");
    }
    if (ref.empty()) continue;
    std::string url = Resolve(ref, pageUrl);
    if (url.empty() || url == pageUrl || std::find(urls.begin(), urls.end(), url) != urls.end())
      continue;
    urls.push_back(url);
  }
  return urls;
}

std::string PushRequest(const std::string& pageRequest, const std::string& url) {
  std::size_t slash = url.find('/', 7);
  std::string out =
      "GET " + url.substr(slash) + " HTTP/1.1\r\nHost: " + url.substr(7, slash - 7) + "\r\n";
  const std::string head = Lower(pageRequest.substr(0, pageRequest.find("\r\n\r\n") + 2));
  for (const char* name : {"user-agent", "accept-language"}) {
    std::size_t at = head.find(std::string("\n") + name + ":");
    if (at == std::string::npos) continue;
    std::size_t end = pageRequest.find("\r\n", at + 1);
    out += pageRequest.substr(at + 1, end - at - 1) + "\r\n";
  }
  return out + "Accept: */*\r\nConnection: close\r\n\r\n";
}

bool PushCacheable(const std::string& response) {
  const std::size_t end = HeadEnd(response);
  if (end == 0) return false;
  ResponseHead parsed = ParseResponseHead(response);
  if (parsed.status != 200) return false;
  const std::string head = Lower(response.substr(0, end));
  std::string value;
  if (HasField(head, "set-cookie", &value)) return false;
  if (HasField(head, "vary", &value) && value != "accept-encoding") return false;
  bool fresh = false;
  if (HasField(head, "cache-control", &value)) {
    if (value.find("no-store") != std::string::npos ||
        value.find("no-cache") != std::string::npos || value.find("private") != std::string::npos)
      return false;
    std::size_t age = value.find("max-age=");
    if (age != std::string::npos) {
      if (std::atol(value.c_str() + age + 8) <= 0) return false;
      fresh = true;
    }
    fresh = fresh || value.find("public") != std::string::npos;
  }
  return fresh || HasField(head, "expires", &value) || HasField(head, "last-modified", &value);
}

}  // namespace nbsvc
