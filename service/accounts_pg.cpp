// PostgreSQL account store: the same table and contract as the SQLite one,
// for several service nodes sharing their accounts.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "accounts.h"
#include "service_limits.h"

namespace nbsvc {

namespace {

// Any fixed number names the lock that serialises creating the table when
// several nodes start at once.
constexpr const char* kCreateTable =
    "SELECT pg_advisory_xact_lock(4832167);"
    "CREATE TABLE IF NOT EXISTS accounts ("
    "login INTEGER PRIMARY KEY, "
    "digest TEXT NOT NULL DEFAULT '', "
    "money BIGINT NOT NULL DEFAULT 0)";

// Clears a result when it goes out of scope.
class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  PGresult* get() const { return r_; }
  ExecStatusType status() const { return PQresultStatus(r_); }

 private:
  PGresult* r_;
};

using Clock = std::chrono::steady_clock;

// Waits until fd is ready for events or the deadline passes; false on
// time-out.
bool WaitFd(int fd, short events, Clock::time_point by) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(by - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // the next libpq call reports the failure
  }
}

class PgAccounts : public AccountStore {
 public:
  explicit PgAccounts(PGconn* conn) : conn_(conn) {}
  ~PgAccounts() override { PQfinish(conn_); }
  PgAccounts(const PgAccounts&) = delete;
  PgAccounts& operator=(const PgAccounts&) = delete;

  bool CreateTable() {
    // Several statements in one string run as one transaction.
    Result r(timedOut_ || !PQsendQuery(conn_, kCreateTable) ? nullptr : Await());
    return Check(r, PGRES_TUPLES_OK) || Check(r, PGRES_COMMAND_OK);
  }

  LookupResult Lookup(std::int32_t login, Account* account) override {
    std::string l = std::to_string(login);
    const char* params[] = {l.c_str()};
    Result r(Exec("SELECT digest, money FROM accounts WHERE login = $1", 1, params));
    if (!Check(r, PGRES_TUPLES_OK)) return LookupResult::Error;
    if (PQntuples(r.get()) == 0) return LookupResult::Missing;
    account->login = login;
    account->digest = PQgetvalue(r.get(), 0, 0);
    account->money = std::strtoll(PQgetvalue(r.get(), 0, 1), nullptr, 10);
    return LookupResult::Found;
  }

  bool Upsert(std::int32_t login, bool setDigest, const std::string& digest, bool setMoney,
              std::int64_t money, std::int64_t addMoney) override {
    // One statement: a new account starts from an empty digest and no money.
    std::string l = std::to_string(login);
    std::string m = std::to_string(setMoney ? money : addMoney);
    const char* params[] = {l.c_str(), setDigest ? "t" : "f", digest.c_str(), setMoney ? "t" : "f",
                            m.c_str()};
    Result r(
        Exec("INSERT INTO accounts AS a (login, digest, money) "
             "VALUES ($1, CASE WHEN $2::boolean THEN $3 ELSE '' END, $5::bigint) "
             "ON CONFLICT (login) DO UPDATE SET "
             "digest = CASE WHEN $2::boolean THEN $3 ELSE a.digest END, "
             "money = CASE WHEN $4::boolean THEN $5::bigint ELSE a.money + $5::bigint END",
             5, params));
    return Check(r, PGRES_COMMAND_OK);
  }

  bool Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance) override {
    std::string l = std::to_string(login);
    std::string c = std::to_string(cents);
    const char* params[] = {c.c_str(), l.c_str()};
    Result r(Exec("UPDATE accounts SET money = money - $1::bigint WHERE login = $2 RETURNING money",
                  2, params));
    if (!Check(r, PGRES_TUPLES_OK)) return false;
    if (PQntuples(r.get()) != 1) {
      error_ = "no such account";
      return false;
    }
    *balance = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
    return true;
  }

  bool Healthy() override { return !timedOut_ && PQstatus(conn_) == CONNECTION_OK; }
  bool LostConnection() const override { return !timedOut_ && PQstatus(conn_) != CONNECTION_OK; }

 private:
  // Runs one statement and returns its last result, or nullptr when the
  // database did not answer within kDbStatementMs: then the connection is
  // left unhealthy (its state is unknown) and is closed by its owner.
  PGresult* Exec(const char* sql, int n, const char* const* params) {
    if (timedOut_) return nullptr;
    if (!PQsendQueryParams(conn_, sql, n, nullptr, params, nullptr, nullptr, 0)) return nullptr;
    return Await();
  }

  // The last result of the statements sent, as Exec.
  PGresult* Await() {
    auto by = Clock::now() + std::chrono::milliseconds(kDbStatementMs);
    int fd = PQsocket(conn_);
    while (PQflush(conn_) == 1) {
      if (!WaitFd(fd, POLLOUT | POLLIN, by)) return TimedOut();
      if (!PQconsumeInput(conn_)) return nullptr;
    }
    for (;;) {
      if (!PQconsumeInput(conn_)) return nullptr;
      if (!PQisBusy(conn_)) break;
      if (!WaitFd(fd, POLLIN, by)) return TimedOut();
    }
    PGresult* last = nullptr;
    while (PGresult* r = PQgetResult(conn_)) {
      PQclear(last);
      last = r;
      if (PQisBusy(conn_)) {  // more results still on their way
        for (;;) {
          if (!PQconsumeInput(conn_)) return last;
          if (!PQisBusy(conn_)) break;
          if (!WaitFd(fd, POLLIN, by)) {
            PQclear(last);
            return TimedOut();
          }
        }
      }
    }
    return last;
  }

  PGresult* TimedOut() {
    timedOut_ = true;
    error_ = "database did not answer within " + std::to_string(kDbStatementMs) + " ms";
    return nullptr;
  }

  // True when r has the wanted status; else error_ tells why.
  bool Check(const Result& r, ExecStatusType want) {
    if (r.get() && r.status() == want) return true;
    if (!r.get() && timedOut_) return false;  // error_ already tells why
    const char* msg = r.get() ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn_);
    error_ = msg && *msg ? msg : "database failure";
    while (!error_.empty() && error_.back() == '\n') error_.pop_back();
    return false;
  }

  PGconn* conn_;
  bool timedOut_ = false;
};

// Connects within kDbConnectMs whatever the URL says; the service's
// keepalives and time-outs come first so that the URL may still change them.
PGconn* Connect(const std::string& url, std::string* error) {
  const std::string connectSec = std::to_string((kDbConnectMs + 999) / 1000);
  const std::string idle = std::to_string(kDbKeepaliveIdleSec);
  const std::string interval = std::to_string(kDbKeepaliveIntervalSec);
  const std::string count = std::to_string(kDbKeepaliveCount);
  // The server ends a statement that runs too long (a lock wait) itself.
  const std::string options = "-c statement_timeout=" + std::to_string(kDbStatementMs);
  const char* keys[] = {"connect_timeout",  "keepalives", "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "options",    "dbname",          nullptr};
  const char* values[] = {connectSec.c_str(), "1",           idle.c_str(),
                          interval.c_str(),   count.c_str(), options.c_str(),
                          url.c_str(),        nullptr};
  PGconn* conn = PQconnectStartParams(keys, values, 1);
  if (!conn) {
    *error = "out of memory";
    return nullptr;
  }
  auto by = Clock::now() + std::chrono::milliseconds(kDbConnectMs);
  PostgresPollingStatusType st = PGRES_POLLING_WRITING;
  while (PQstatus(conn) != CONNECTION_BAD && st != PGRES_POLLING_OK && st != PGRES_POLLING_FAILED) {
    short events = st == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    if (!WaitFd(PQsocket(conn), events, by)) {
      *error =
          "database did not answer the connection within " + std::to_string(kDbConnectMs) + " ms";
      PQfinish(conn);
      return nullptr;
    }
    st = PQconnectPoll(conn);
  }
  if (PQstatus(conn) != CONNECTION_OK) {
    *error = PQerrorMessage(conn);
    while (!error->empty() && error->back() == '\n') error->pop_back();
    PQfinish(conn);
    return nullptr;
  }
  return conn;
}

}  // namespace

std::unique_ptr<AccountStore> OpenPostgresAccounts(const std::string& url, std::string* error) {
  PGconn* conn = Connect(url, error);
  if (!conn) return nullptr;
  auto store = std::make_unique<PgAccounts>(conn);
  if (!store->CreateTable()) {
    *error = store->LastError();
    return nullptr;
  }
  return store;
}

}  // namespace nbsvc
