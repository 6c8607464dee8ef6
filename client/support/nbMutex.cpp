// Re-entrant lock of its own, labelled after the tick count at its construction.
#include "support/nbMutex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/debug.h"

// The C runtime's _gcvt form with 9 significant digits: a whole number of up
// to 9 digits is followed by a decimal point; 10 digits go to exponent form
// with trailing zeros of the mantissa dropped and a three-digit exponent.
std::string nbMutexName(std::uint32_t tick) {
  char text[64];
  if (tick < 1000000000u) {
    std::snprintf(text, sizeof text, "%u.", static_cast<unsigned>(tick));
  } else {
    char mantissa[32];
    std::snprintf(mantissa, sizeof mantissa, "%.8e", static_cast<double>(tick));
    // mantissa is "d.dddddddde+09"; cut the exponent and trailing zeros.
    char* e = std::strchr(mantissa, 'e');
    int exponent = e ? std::atoi(e + 1) : 0;
    if (e) *e = '\0';
    std::size_t len = std::strlen(mantissa);
    while (len > 0 && mantissa[len - 1] == '0') mantissa[--len] = '\0';
    std::snprintf(text, sizeof text, "%se+%03d", mantissa, exponent);
  }
  return std::string("NBMUTEX") + text;
}

nbMutex::nbMutex() : m_sName(nbMutexName(nbplat::TickCountMs())) {
  dbgmsg("nbMutex::nbMutex()");
  dbgmsg("m_mutex=");
  dbgmsg(static_cast<double>(m_mutex.Handle()));
}

nbMutex::~nbMutex() {
  dbgmsg("nbMutex::~nbMutex()");
  Unlock();
}

bool nbMutex::Lock() {
  dbgmsg("bool nbMutex::Lock()");
  m_mutex.Lock();
  dbgmsg("mutex handle=");
  dbgmsg(static_cast<double>(m_mutex.Handle()));
  return true;
}

bool nbMutex::Unlock() {
  dbgmsg("bool nbMutex::Unlock()");
  bool ok = m_mutex.Unlock();
  dbgmsg("release mutex ok=");
  dbgmsg(ok ? 1.0 : 0.0);
  return true;
}
