// Trace channel, URL log, time text and the fatal stops.
#include "support/debug.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "protocol/trace.h"

namespace {

std::atomic<TraceSink> g_sink{nullptr};

// Serialises URL log writes and guards the first-call flag.
std::mutex& LogMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
bool bIsFirstCall = true;

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(long long z, int* year, unsigned* month, unsigned* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (*month <= 2));
}

}  // namespace

void SetTraceSink(TraceSink sink) {
  g_sink.store(sink);
  SetProtocolTraceSink(sink);  // the shared protocol code traces to the same place
}

void dbgmsg(const std::string& s) {
  TraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (sink) sink(s);
}

void dbgmsg(const char* s) {
  TraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (sink) sink(s ? std::string(s) : std::string());
}

void dbgmsg(double d) {
  TraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (!sink) return;
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", d);
  sink(text);
}

void dprintf(const char* format, ...) {
  TraceSink sink = g_sink.load(std::memory_order_relaxed);
  if (!sink || !format) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string line;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    line.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  sink(line);
}

// Computed by hand rather than through gmtime/strftime: the result is then
// independent of the locale and of other threads using the C runtime's
// shared time buffer.
std::string FormatGmtTime(long long now) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long long days = now >= 0 ? now / 86400 : -((-now + 86399) / 86400);
  long long secs = now - days * 86400;
  int year = 0;
  unsigned month = 1, day = 1;
  CivilFromDays(days, &year, &month, &day);
  long long wd = days % 7;
  if (wd < 0) wd += 7;
  char text[50];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d", kDays[wd], day,
                kMonths[month - 1], year, static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return text;
}

std::string gettime() { return FormatGmtTime(static_cast<long long>(std::time(nullptr))); }

void LogURL(const char* lpURL) {
  dbgmsg("void LogURL( char *lpURL )");
  const char* url = lpURL ? lpURL : "";
  std::string when = gettime();
  {
    std::lock_guard<std::mutex> lock(LogMutex());
    const char* mode = bIsFirstCall ? "w" : "a";
    bIsFirstCall = false;
    std::FILE* f = std::fopen("nimbrel.log", mode);
    if (f) {
      std::fprintf(f, "%s GMT - %s\n", when.c_str(), url);
      std::fclose(f);
    } else {
      dbgmsg("LogURL:: Couldn't open log file");
    }
  }
  dbgmsg("RET void LogURL( char *lpURL )");
}

void ResetLogURLForTests() {
  std::lock_guard<std::mutex> lock(LogMutex());
  bIsFirstCall = true;
}

void stop() {
  std::string text = "<" + std::to_string(nbplat::CurrentThreadId()) + "> " + gettime() +
                     " : Program stoped. Exit\n";
  dbgmsg(text);
  std::exit(1);
}

void failed(const char* str) {
  std::string text = "<" + std::to_string(nbplat::CurrentThreadId()) + "> " + gettime() +
                     " : Program failed. " + (str ? str : "") + "\n";
  dbgmsg(text);
  stop();
}
