// Command-line parsing of NimbrelService.
#include "config.h"

#include <cctype>
#include <cstring>

#include "accounts.h"
#include "protocol/md5.h"

namespace nbsvc {

namespace {

bool ParseInt(const std::string& s, long long lo, long long hi, long long* v) {
  if (s.empty() || s.size() > 18) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  long long r = 0;
  for (; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    r = r * 10 + (s[i] - '0');
  }
  if (s[0] == '-') r = -r;
  if (r < lo || r > hi) return false;
  *v = r;
  return true;
}

bool IsDigest(const std::string& s) {
  if (s.size() != 32) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

ParsedCommand Fail(const std::string& msg) {
  ParsedCommand p;
  p.kind = CommandKind::Error;
  p.error = msg;
  return p;
}

ParsedCommand ParseAccount(const std::vector<std::string>& args) {
  ParsedCommand p;
  p.kind = CommandKind::Account;
  AccountCommand& a = p.account;
  bool haveLogin = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    long long n;
    if (arg == "--db" && hasValue) {
      a.dbPath = args[++i];
    } else if (arg == "--password" && hasValue) {
      // Stored as the client stores it: the digest of what the user typed.
      char out[33];
      md5str(out, args[++i].c_str());
      a.setDigest = true;
      a.digest = out;
    } else if (arg == "--digest" && hasValue) {
      a.setDigest = true;
      a.digest = args[++i];
      if (!a.digest.empty() && !IsDigest(a.digest)) {
        return Fail("--digest needs 32 lowercase hexadecimal characters");
      }
    } else if ((arg == "--money" || arg == "--add-money") && hasValue) {
      std::int64_t cents;
      if (!ParseMoney(args[++i], &cents)) return Fail("bad amount: " + args[i]);
      if (arg == "--money") {
        a.setMoney = true;
        a.money = cents;
      } else {
        a.addMoney = cents;
      }
    } else if (arg == "--show") {
      a.show = true;
    } else if (!haveLogin && ParseInt(arg, INT32_MIN, INT32_MAX, &n)) {
      haveLogin = true;
      a.login = static_cast<std::int32_t>(n);
    } else {
      return Fail("unknown or incomplete argument: " + arg);
    }
  }
  if (!haveLogin) return Fail("account: a login number is needed");
  return p;
}

}  // namespace

bool ParseIPv4(const std::string& text, std::uint32_t* ipNet) {
  unsigned char o[4];
  std::size_t pos = 0;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    int v = 0, digits = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      v = v * 10 + (text[pos++] - '0');
      if (++digits > 3) return false;
    }
    if (digits == 0 || v > 255) return false;
    o[k] = static_cast<unsigned char>(v);
  }
  if (pos != text.size()) return false;
  std::memcpy(ipNet, o, 4);
  return true;
}

ParsedCommand ParseCommandLine(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "account") return ParseAccount(args);
  ParsedCommand p;
  ServiceConfig& c = p.serve;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    long long n;
    if (arg == "--help" || arg == "-h") {
      p.kind = CommandKind::Help;
      return p;
    } else if (arg == "--allow-private") {
      c.allowPrivate = true;
    } else if (arg == "--guest") {
      c.allowGuests = true;
    } else if (arg == "--no-guest") {  // the default; still accepted
      c.allowGuests = false;
    } else if (arg == "--listen" && hasValue) {
      if (!ParseIPv4(args[++i], &c.listenIpNet)) return Fail("bad --listen address: " + args[i]);
    } else if (arg == "--port" && hasValue) {
      if (!ParseInt(args[++i], 0, 65535, &n)) return Fail("bad --port: " + args[i]);
      c.port = static_cast<std::uint16_t>(n);
    } else if (arg == "--db" && hasValue) {
      c.dbPath = args[++i];
    } else if (arg == "--log" && hasValue) {
      c.logPath = args[++i];
    } else if (arg == "--price" && hasValue) {
      if (!ParseInt(args[++i], 0, 1000000, &n)) return Fail("bad --price: " + args[i]);
      c.pricePerMiB = n;
    } else if (arg == "--idle-ms" && hasValue) {
      if (!ParseInt(args[++i], 1, 3600000, &n)) return Fail("bad --idle-ms: " + args[i]);
      c.clientIdleMs = static_cast<int>(n);
    } else if (arg == "--fetch-idle-ms" && hasValue) {
      if (!ParseInt(args[++i], 1, 3600000, &n)) return Fail("bad --fetch-idle-ms: " + args[i]);
      c.fetchIdleMs = static_cast<int>(n);
    } else if (arg == "--max-response" && hasValue) {
      if (!ParseInt(args[++i], 1024, 1LL << 30, &n)) return Fail("bad --max-response: " + args[i]);
      c.maxResponse = static_cast<std::size_t>(n);
    } else if (arg == "--max-connections" && hasValue) {
      if (!ParseInt(args[++i], 1, 10000, &n)) return Fail("bad --max-connections: " + args[i]);
      c.maxConnections = static_cast<int>(n);
    } else if (arg == "--max-per-address" && hasValue) {
      if (!ParseInt(args[++i], 1, 10000, &n)) return Fail("bad --max-per-address: " + args[i]);
      c.maxPerAddress = static_cast<int>(n);
    } else if (arg == "--header-ms" && hasValue) {
      if (!ParseInt(args[++i], 1, 3600000, &n)) return Fail("bad --header-ms: " + args[i]);
      c.headerDeadlineMs = static_cast<int>(n);
    } else if (arg == "--cache-mb" && hasValue) {
      if (!ParseInt(args[++i], 0, 1 << 20, &n)) return Fail("bad --cache-mb: " + args[i]);
      c.cacheMb = static_cast<std::size_t>(n);
    } else if (arg == "--db-connections" && hasValue) {
      if (!ParseInt(args[++i], 1, 1000, &n)) return Fail("bad --db-connections: " + args[i]);
      c.dbConnections = static_cast<int>(n);
    } else if (arg == "--address-failures" && hasValue) {
      if (!ParseInt(args[++i], 0, 1000000, &n)) return Fail("bad --address-failures: " + args[i]);
      c.addressFailures = static_cast<int>(n);
    } else if (arg == "--caps" && hasValue) {
      if (!ParseInt(args[++i], 0, 0xffff, &n)) return Fail("bad --caps: " + args[i]);
      c.capsMask = static_cast<std::uint16_t>(n);
    } else if (arg == "--early-pages") {
      c.earlyPages = true;
    } else {
      return Fail("unknown or incomplete argument: " + arg);
    }
  }
  return p;
}

std::string UsageText() {
  return "Usage:\n"
         "  NimbrelService [--listen ADDR] [--port N] [--db FILE|URL] [--log FILE]\n"
         "                 [--allow-private] [--guest] [--price HUNDREDTHS_PER_MIB]\n"
         "                 [--idle-ms MS] [--header-ms MS] [--fetch-idle-ms MS]\n"
         "                 [--max-response BYTES] [--max-connections N]\n"
         "                 [--max-per-address N] [--cache-mb N] [--db-connections N]\n"
         "                 [--address-failures N] [--caps BITS] [--early-pages]\n"
         "  NimbrelService account LOGIN [--db FILE|URL] [--password TEXT | --digest HEX]\n"
         "                 [--money AMOUNT | --add-money AMOUNT] [--show]\n"
         "--db takes an SQLite file or a postgresql:// URL (shared by several nodes).\n"
         "Defaults: listen 0.0.0.0, port 443, database NimbrelService.db, guests\n"
         "(login 0) refused (--guest serves them free of charge), internal\n"
         "destinations refused (--allow-private fetches from them), price 1.00 per\n"
         "MiB, 200 connections at once and 32 from one address, 10 s to send the\n"
         "request header and 120 s for the whole request, 256 MiB of packing cache,\n"
         "4 account database connections at once; 10 wrong codes in 10 minutes lock\n"
         "the login and the client address (--address-failures 0: addresses are\n"
         "not locked, for nodes behind a balancer). --caps limits the capability\n"
         "bits the service acts on (a number, e.g. 7 for bits 1, 2 and 4; default\n"
         "all it knows); --early-pages sends an HTML page's first piece before the\n"
         "rest of the page is in, to clients that keep connections.\n";
}

}  // namespace nbsvc
