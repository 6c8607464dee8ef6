// PostgreSQL account store: the same table and contract as the SQLite one,
// for several service nodes sharing their accounts.
#include <libpq-fe.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "accounts.h"

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

class PgAccounts : public AccountStore {
 public:
  explicit PgAccounts(PGconn* conn) : conn_(conn) {}
  ~PgAccounts() override { PQfinish(conn_); }
  PgAccounts(const PgAccounts&) = delete;
  PgAccounts& operator=(const PgAccounts&) = delete;

  bool CreateTable() {
    // Several statements in one string run as one transaction.
    Result r(PQexec(conn_, kCreateTable));
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

  bool Healthy() override { return PQstatus(conn_) == CONNECTION_OK; }

 private:
  PGresult* Exec(const char* sql, int n, const char* const* params) {
    return PQexecParams(conn_, sql, n, nullptr, params, nullptr, nullptr, 0);
  }

  // True when r has the wanted status; else error_ tells why.
  bool Check(const Result& r, ExecStatusType want) {
    if (r.get() && r.status() == want) return true;
    const char* msg = r.get() ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn_);
    error_ = msg && *msg ? msg : "database failure";
    while (!error_.empty() && error_.back() == '\n') error_.pop_back();
    return false;
  }

  PGconn* conn_;
};

}  // namespace

std::unique_ptr<AccountStore> OpenPostgresAccounts(const std::string& url, std::string* error) {
  PGconn* conn = PQconnectdb(url.c_str());
  if (!conn || PQstatus(conn) != CONNECTION_OK) {
    *error = conn ? PQerrorMessage(conn) : "out of memory";
    while (!error->empty() && error->back() == '\n') error->pop_back();
    PQfinish(conn);
    return nullptr;
  }
  auto store = std::make_unique<PgAccounts>(conn);
  if (!store->CreateTable()) {
    *error = store->LastError();
    return nullptr;
  }
  return store;
}

}  // namespace nbsvc
