// The HTTP-head parser: recognises, measures and queries the head of a
// request or an answer held in a byte view (a connection buffer or a string).
// A `const char*` argument is read up to its first zero byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The first `size` bytes at data; empty for a negative size.
std::string_view BufferView(const char* data, int size);

// True when msg is more than 10 bytes, begins with GET, POST, HTTP/1.0 or
// HTTP/1.1 (case-sensitive) and holds a complete head (up to CR LF CR LF).
bool isHttpHeaderExists(std::string_view msg);
// Length of the head including CR LF CR LF, or 0 when there is none (or it
// starts at the very beginning).
int getHeaderLen(std::string_view msg);
// The head of a known kind (see isHttpHeaderExists), or "".
std::string_view GetHttpHeader(std::string_view msg);

// Value of the first header line named `name` (case-insensitive; the request
// or status line never matches), trimmed, with the colons inside it put back
// (a Referer's URL comes whole). A line with nothing after its colon is
// skipped. nullopt when no line matches or the head is incomplete.
std::optional<std::string> GetParameterFromHttpHeader(std::string_view msg, std::string_view name);
// The Host line's host without its port; "" when there is no Host line.
std::string GetHostFromHttpRequest(std::string_view msg);
// The Host line's port text as written (not trimmed), "80" when the line
// names none, "" when there is no Host line.
std::string GetPortFromHttpRequest(std::string_view msg);

// Total size the message announces, or -1 while the head is incomplete (or
// is of an unknown kind). Without Content-Length: the head. A POST: head +
// Content-Length - 4, raised to msg.size(). An answer: head + Content-Length.
// Other messages with a Content-Length, and negative totals: -1. Capped at
// INT_MAX.
int getRequestSize(std::string_view msg);

// The URL of the request line (the text before the first CR LF, which must
// be exactly three words separated by spaces), or "".
std::string GetUrlFromHttpRequest(std::string_view msg);
// The file extension of the request's URL: the text after the last dot of
// the path's last segment, case kept; the query and, for an absolute URL,
// scheme and host are not part of the path. "" when there is none.
std::string GetFileExtensionFromHttpRequest(std::string_view msg);
