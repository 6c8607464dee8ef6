// Command line of NimbrelService.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service_limits.h"

namespace nbsvc {

// Settings of a running service.
struct ServiceConfig {
  std::uint32_t listenIpNet = 0;  // 0: every local address
  std::uint16_t port = kDefaultPort;
  std::string dbPath = "NimbrelService.db";        // SQLite file or postgresql:// URL
  std::string logPath;                             // empty: standard output
  bool allowPrivate = false;                       // fetch from loopback/private/link-local too
  bool allowGuests = false;                        // login 0 without an account is served
  std::int64_t pricePerMiB = kDefaultPricePerMiB;  // hundredths per MiB sent
  int clientIdleMs = kDefaultClientIdleMs;
  int clientSendTimeoutMs = kDefaultClientSendTimeoutMs;  // no progress sending to the client
  int fetchIdleMs = kDefaultFetchIdleMs;
  std::size_t maxResponse = kDefaultMaxResponse;
  int maxConnections = kDefaultMaxConnections;
  int maxPerAddress = kDefaultMaxPerAddress;        // connections at once from one client address
  int headerDeadlineMs = kDefaultHeaderDeadlineMs;  // the 28-byte header, from accept
  std::size_t cacheMb = kDefaultCacheMb;            // packing cache; 0 turns it off
  int dbConnections = kDefaultDbConnections;        // account database connections at once
  int addressFailures = kGuardMaxFailures;          // failed codes that lock an address; 0: none
  std::uint16_t capsMask = 0xffff;  // capability bits honoured, of those the service knows
  bool earlyPages = kEarlyPages;    // an HTML page's first piece leaves before the rest is in
};

// The "account" subcommand: create or change one account.
struct AccountCommand {
  std::string dbPath = "NimbrelService.db";
  std::int32_t login = 0;
  bool setDigest = false;
  std::string digest;
  bool setMoney = false;
  std::int64_t money = 0;
  std::int64_t addMoney = 0;
  bool show = false;  // print the account after the change
};

enum class CommandKind { Serve, Account, Help, Error };

struct ParsedCommand {
  CommandKind kind = CommandKind::Serve;
  ServiceConfig serve;
  AccountCommand account;
  std::string error;
};

// Parses argv[1..] (the program name excluded).
ParsedCommand ParseCommandLine(const std::vector<std::string>& args);

// Usage text for --help and errors.
std::string UsageText();

// "a.b.c.d" into an address in network order; false when malformed.
bool ParseIPv4(const std::string& text, std::uint32_t* ipNet);

}  // namespace nbsvc
