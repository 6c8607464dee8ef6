// Request log of the service.
#include "service_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "auth.h"

namespace nbsvc {

namespace {

std::string IsoTime(std::int64_t t) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian), so no
  // non-thread-safe C time functions are needed.
  std::int64_t days = t / 86400, secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  std::int64_t doe = days - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return buf;
}

}  // namespace

std::string FormatRecord(const RequestRecord& r, std::int64_t unixTime) {
  return IsoTime(unixTime) + " login=" + std::to_string(r.login) +
         " dest=" + (r.destination.empty() ? "-" : r.destination) +
         " before=" + std::to_string(r.before) + " after=" + std::to_string(r.after) +
         " sent=" + std::to_string(r.sent) + " received=" + std::to_string(r.received) +
         " kinds=" + (r.kinds.empty() ? "-" : r.kinds) + " charged=" + std::to_string(r.charged) +
         " money=" + std::to_string(r.money) + " result=" + r.result;
}

bool ServiceLog::Open(const std::string& path, std::string* error) {
  if (path.empty()) {
    file_ = stdout;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) {
    *error = std::strerror(errno);
    return false;
  }
  own_ = true;
  return true;
}

ServiceLog::~ServiceLog() {
  if (own_ && file_) std::fclose(file_);
}

void ServiceLog::Write(const RequestRecord& r) { WriteLine(FormatRecord(r, ServiceClock())); }

void ServiceLog::Note(const std::string& text) { WriteLine(IsoTime(ServiceClock()) + " " + text); }

void ServiceLog::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace nbsvc
