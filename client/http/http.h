// Buffer HTTP helpers: recognise, measure and query request and answer heads
// held in zero-terminated character buffers. Text results are copied into the
// caller's buffer, never beyond its capacity.
#pragma once

#include <cstddef>
#include <string>

// True when the first iSize bytes hold a complete head beginning with GET,
// POST, HTTP/1.0 or HTTP/1.1.
bool isHttpHeaderExists(const char* request, int iSize);
// Length of the head including CR LF CR LF, or 0.
int getHeaderLen(const char* request);
// Value of the first header line named `name` (case-insensitive), trimmed,
// copied into value (at most cap-1 bytes and a zero). False when absent.
bool getParameterFromHttpHeader(const char* name, char* value, std::size_t cap,
                                const char* request);
// Total size the message announces (see the POST/answer rules), or -1.
int getRequestSize(const char* request, int iSize);
// Second word of the request line into url (capacity cap).
bool getUrlFromRequest(char* url, std::size_t cap, const char* request);
// Last three characters of the URL's path (lowered when there is a query).
bool getFileExtensionFromRequest(char* ext, std::size_t cap, const char* request);
// Dotted text of an address held in network byte order; sip holds 16 bytes.
char* ip_int2str(unsigned int iip, char* sip);
// Decodes percent escapes in place ("+" is left alone).
void UndecorateHttpString(std::string* dstr);
// Position of find in src at or after pos, or -1.
int instr(int pos, const char* src, const char* find);
