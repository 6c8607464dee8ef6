// The service's request log: one line per request, safe from many threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace nbsvc {

// What one request did, for its log line.
struct RequestRecord {
  std::int32_t login = 0;
  std::string destination;     // "a.b.c.d:port", empty before the header was read
  std::uint64_t before = 0;    // content bytes before compression (sum of decompSize)
  std::uint64_t after = 0;     // body bytes sent (sum of size)
  std::uint64_t sent = 0;      // all bytes sent, headers included
  std::uint64_t received = 0;  // request bytes read from the client, headers included
  std::string kinds;           // packet kinds in order, comma-separated
  std::int64_t money = 0;      // balance after the charge, hundredths
  std::int64_t charged = 0;    // hundredths taken
  std::string result;          // served, authfailed, nomoney, refused, ...
};

// "2026-12-08T01:02:03Z login=5 dest=1.2.3.4:80 before=.. after=.. sent=..
// received=.. kinds=2,3 charged=.. money=.. result=served"
std::string FormatRecord(const RequestRecord& r, std::int64_t unixTime);

class ServiceLog {
 public:
  // Appends to path, or writes to standard output when path is empty.
  bool Open(const std::string& path, std::string* error);
  ~ServiceLog();
  void Write(const RequestRecord& r);
  // A free-form line (start, stop, warnings).
  void Note(const std::string& text);

 private:
  void WriteLine(const std::string& line);
  std::mutex mu_;
  std::FILE* file_ = nullptr;
  bool own_ = false;
};

}  // namespace nbsvc
