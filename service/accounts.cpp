// SQLite account store.
#include "accounts.h"

#include <sqlite3.h>

#include <climits>

namespace nbsvc {

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kBusyRetries = 5;

// Finalises a statement when it goes out of scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return rc_ == SQLITE_OK && st_ != nullptr; }
  sqlite3_stmt* get() { return st_; }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_;
};

}  // namespace

std::unique_ptr<AccountsDb> AccountsDb::Open(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<AccountsDb> adb(new AccountsDb(db));
  // WAL lets readers and one writer work side by side; the table is created
  // on first use. A file that is not a database fails here.
  if (!adb->Exec("PRAGMA journal_mode=WAL") || !adb->Exec("CREATE TABLE IF NOT EXISTS accounts ("
                                                          "login INTEGER PRIMARY KEY, "
                                                          "digest TEXT NOT NULL DEFAULT '', "
                                                          "money INTEGER NOT NULL DEFAULT 0)")) {
    *error = adb->error_;
    return nullptr;
  }
  return adb;
}

AccountsDb::~AccountsDb() { sqlite3_close(db_); }

bool AccountsDb::Exec(const char* sql) {
  char* msg = nullptr;
  int rc = SQLITE_BUSY;
  for (int i = 0; i < kBusyRetries && (rc == SQLITE_BUSY || rc == SQLITE_LOCKED); ++i) {
    sqlite3_free(msg);
    msg = nullptr;
    rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
  }
  if (rc != SQLITE_OK) {
    error_ = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    return false;
  }
  return true;
}

LookupResult AccountsDb::Lookup(std::int32_t login, Account* account) {
  Statement st(db_, "SELECT digest, money FROM accounts WHERE login = ?1");
  if (!st.ok()) {
    error_ = sqlite3_errmsg(db_);
    return LookupResult::Error;
  }
  sqlite3_bind_int(st.get(), 1, login);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return LookupResult::Missing;
  if (rc != SQLITE_ROW) {
    error_ = sqlite3_errmsg(db_);
    return LookupResult::Error;
  }
  account->login = login;
  const unsigned char* d = sqlite3_column_text(st.get(), 0);
  account->digest = d ? reinterpret_cast<const char*>(d) : "";
  account->money = sqlite3_column_int64(st.get(), 1);
  return LookupResult::Found;
}

bool AccountsDb::Upsert(std::int32_t login, bool setDigest, const std::string& digest,
                        bool setMoney, std::int64_t money, std::int64_t addMoney) {
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok = true;
  {
    Statement ins(db_, "INSERT OR IGNORE INTO accounts (login) VALUES (?1)");
    ok = ins.ok();
    if (ok) {
      sqlite3_bind_int(ins.get(), 1, login);
      ok = sqlite3_step(ins.get()) == SQLITE_DONE;
    }
  }
  if (ok && setDigest) {
    Statement st(db_, "UPDATE accounts SET digest = ?1 WHERE login = ?2");
    ok = st.ok();
    if (ok) {
      sqlite3_bind_text(st.get(), 1, digest.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st.get(), 2, login);
      ok = sqlite3_step(st.get()) == SQLITE_DONE;
    }
  }
  if (ok) {
    Statement st(db_, setMoney ? "UPDATE accounts SET money = ?1 WHERE login = ?2"
                               : "UPDATE accounts SET money = money + ?1 WHERE login = ?2");
    ok = st.ok();
    if (ok) {
      sqlite3_bind_int64(st.get(), 1, setMoney ? money : addMoney);
      sqlite3_bind_int(st.get(), 2, login);
      ok = sqlite3_step(st.get()) == SQLITE_DONE;
    }
  }
  if (!ok) {
    error_ = sqlite3_errmsg(db_);
    Exec("ROLLBACK");
    return false;
  }
  return Exec("COMMIT");
}

bool AccountsDb::Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance) {
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool found = false;
  bool ok;
  {
    Statement st(db_, "UPDATE accounts SET money = money - ?1 WHERE login = ?2 RETURNING money");
    ok = st.ok();
    if (ok) {
      sqlite3_bind_int64(st.get(), 1, cents);
      sqlite3_bind_int(st.get(), 2, login);
      int rc = sqlite3_step(st.get());
      if (rc == SQLITE_ROW) {
        found = true;
        *balance = sqlite3_column_int64(st.get(), 0);
        rc = sqlite3_step(st.get());
      }
      ok = rc == SQLITE_DONE;
    }
  }
  if (!ok || !found) {
    if (!ok) error_ = sqlite3_errmsg(db_);
    Exec("ROLLBACK");
    return false;
  }
  return Exec("COMMIT");
}

bool IsPostgresUrl(const std::string& where) {
  return where.compare(0, 13, "postgresql://") == 0 || where.compare(0, 11, "postgres://") == 0;
}

std::unique_ptr<AccountStore> OpenAccountStore(const std::string& where, std::string* error) {
  if (IsPostgresUrl(where)) return OpenPostgresAccounts(where, error);
  return AccountsDb::Open(where, error);
}

std::int64_t CostOfBytes(std::uint64_t bytes, std::int64_t pricePerMiB) {
  if (pricePerMiB <= 0 || bytes == 0) return 0;
  const std::uint64_t mib = 1024 * 1024;
  // bytes stays far below 2^40 per answer and the price below 2^20, so the
  // product cannot overflow 64 bits.
  std::uint64_t num = bytes * static_cast<std::uint64_t>(pricePerMiB) + mib / 2;
  return static_cast<std::int64_t>(num / mib);
}

bool ParseMoney(const std::string& text, std::int64_t* cents) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t whole = 0;
  int digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > 15) return false;
    whole = whole * 10 + (text[i++] - '0');
  }
  std::int64_t frac = 0;
  int fracDigits = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (++fracDigits > 2) return false;
      frac = frac * 10 + (text[i++] - '0');
    }
    if (fracDigits == 1) frac *= 10;
  }
  if (i != text.size() || digits + fracDigits == 0) return false;
  std::int64_t v = whole * 100 + frac;
  *cents = negative ? -v : v;
  return true;
}

std::int32_t MoneyForHeader(std::int64_t cents) {
  if (cents > INT32_MAX) return INT32_MAX;
  if (cents < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(cents);
}

}  // namespace nbsvc
