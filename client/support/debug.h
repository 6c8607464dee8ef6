// Diagnostics: the trace channel (compiled in, discarding by default) and the
// URL log "nimbrel.log" with one line per browser request.
#pragma once

#include <string>

// Trace channel: every function traces its signature on entry and
// "RET " + signature on return. Lines go nowhere unless a sink is set.
void dbgmsg(const std::string& s);
void dbgmsg(const char* s);
void dbgmsg(double d);
void dprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Traces a function's signature on entry and "RET " + signature on every
// way out of the scope.
class nbTraceScope {
 public:
  explicit nbTraceScope(const char* sig) : sig_(sig) { dbgmsg(sig_); }
  ~nbTraceScope() { dbgmsg(std::string("RET ") + sig_); }
  nbTraceScope(const nbTraceScope&) = delete;
  nbTraceScope& operator=(const nbTraceScope&) = delete;

 private:
  const char* sig_;
};

// Where trace lines go; nullptr (the default) discards them. Not thread-safe
// to change while other threads trace: set it once at start (tests, debugging).
using TraceSink = void (*)(const std::string& line);
void SetTraceSink(TraceSink sink);

// Appends "<time> GMT - <url>\n" to nimbrel.log in the current directory.
// The first call of the run truncates the file (exactly one call, even when
// several threads log at once); lines never interleave.
void LogURL(const char* lpURL);
// Restores the "first call of the run" state (tests only).
void ResetLogURLForTests();

// Current UTC time as "%a, %d %b %Y %H:%M:%S".
std::string gettime();
// The same text for t seconds since 1970-01-01 UTC; English names whatever
// the locale.
std::string FormatGmtTime(long long t);

// End the process with status 1.
[[noreturn]] void stop();
[[noreturn]] void failed(const char* str);
inline void DbgSaveDump() {}
