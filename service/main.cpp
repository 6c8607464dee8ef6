// NimbrelService: the compression service the client hands requests to.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "accounts.h"
#include "config.h"
#include "destination.h"
#include "platform/platform.h"
#include "server.h"
#include "service_log.h"

namespace {

// The running server, for the stop thread. gServerMu is held while the
// stop thread uses it and while main lets go of it, so a late signal never
// reaches a server that is being destroyed.
std::mutex gServerMu;
nbsvc::Server* gServer = nullptr;

void SetServer(nbsvc::Server* server) {
  std::lock_guard<std::mutex> lock(gServerMu);
  gServer = server;
}

void OnStop() {
  try {
    std::lock_guard<std::mutex> lock(gServerMu);
    if (gServer) gServer->Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "NimbrelService: stop: %s\n", e.what());
  }
}

// The database for messages: a URL may carry a password, so it is not shown.
std::string DatabaseName(const std::string& where) {
  return nbsvc::IsPostgresUrl(where) ? std::string("PostgreSQL") : where;
}

int RunAccount(const nbsvc::AccountCommand& a) {
  std::string error;
  auto db = nbsvc::OpenAccountStore(a.dbPath, &error);
  if (!db) {
    std::fprintf(stderr, "NimbrelService: cannot open database %s: %s\n",
                 DatabaseName(a.dbPath).c_str(), error.c_str());
    return 1;
  }
  if (!db->Upsert(a.login, a.setDigest, a.digest, a.setMoney, a.money, a.addMoney)) {
    std::fprintf(stderr, "NimbrelService: cannot change account %d: %s\n", a.login,
                 db->LastError().c_str());
    return 1;
  }
  nbsvc::Account acc;
  if (db->Lookup(a.login, &acc) == nbsvc::LookupResult::Found) {
    long long m = static_cast<long long>(acc.money);
    std::printf("account %d money %s%lld.%02lld\n", acc.login, m < 0 ? "-" : "",
                (m < 0 ? -m : m) / 100, (m < 0 ? -m : m) % 100);
  }
  return 0;
}

int RunServer(const nbsvc::ServiceConfig& config) {
  nbsvc::ServiceLog log;
  std::string error;
  if (!log.Open(config.logPath, &error)) {
    std::fprintf(stderr, "NimbrelService: cannot open log %s: %s\n", config.logPath.c_str(),
                 error.c_str());
    return 1;
  }
  {
    auto db = nbsvc::OpenAccountStore(config.dbPath, &error);
    if (!db) {
      std::fprintf(stderr, "NimbrelService: cannot open database %s: %s\n",
                   DatabaseName(config.dbPath).c_str(), error.c_str());
      return 1;
    }
  }
  if (!nbplat::NetStartup()) {
    std::fprintf(stderr, "NimbrelService: the network layer does not start\n");
    return 1;
  }
  nbsvc::Server server(config, log);
  if (!server.Listen(&error)) {
    std::fprintf(stderr, "NimbrelService: %s\n", error.c_str());
    return 1;
  }
  SetServer(&server);
  nbplat::InstallStopHandler(OnStop);
  log.Note("listening on " + nbsvc::FormatIPv4(config.listenIpNet) + ":" +
           std::to_string(server.BoundPort()) + " database " + DatabaseName(config.dbPath) +
           " cache " + std::to_string(config.cacheMb) + " MiB" +
           (config.allowPrivate ? " private destinations allowed" : "") +
           (config.allowGuests ? " guests allowed" : " guests refused"));
  if (!server.Run()) {
    // Connections still wait on silent peers; their threads use the server
    // and the log, so leave without running destructors.
    log.Note("stopped with connections still open");
    std::fflush(nullptr);
    std::_Exit(0);
  }
  SetServer(nullptr);
  log.Note("stopped");
  nbplat::NetCleanup();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  nbsvc::ParsedCommand cmd = nbsvc::ParseCommandLine(args);
  switch (cmd.kind) {
    case nbsvc::CommandKind::Help:
      std::fputs(nbsvc::UsageText().c_str(), stdout);
      return 0;
    case nbsvc::CommandKind::Error:
      std::fprintf(stderr, "NimbrelService: %s\n%s", cmd.error.c_str(), nbsvc::UsageText().c_str());
      return 2;
    case nbsvc::CommandKind::Account:
      return RunAccount(cmd.account);
    case nbsvc::CommandKind::Serve:
      return RunServer(cmd.serve);
  }
  return 2;
}
