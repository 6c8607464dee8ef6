// Accounts of the service: login, password digest and money in hundredths
// of the currency unit. One AccountStore is one database connection; use it
// from one thread at a time. Any number of connections, in this and other
// processes or machines, may charge the same account at once: every charge
// is a single UPDATE returning the new balance, so no charge is lost or
// applied twice. Two stores share this contract: an embedded SQLite file
// and a PostgreSQL server for several service nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;

namespace nbsvc {

struct Account {
  std::int32_t login = 0;
  std::string digest;  // 32 lowercase hex characters of md5str, or empty
  std::int64_t money = 0;
};

enum class LookupResult { Found, Missing, Error };

class AccountStore {
 public:
  virtual ~AccountStore() = default;

  virtual LookupResult Lookup(std::int32_t login, Account* account) = 0;

  // Creates the account or changes it: the digest when setDigest, the money
  // set to money when setMoney, else increased by addMoney.
  virtual bool Upsert(std::int32_t login, bool setDigest, const std::string& digest, bool setMoney,
                      std::int64_t money, std::int64_t addMoney) = 0;

  // Takes cents from the account (a negative amount gives them back);
  // *balance receives the money after the change. False when the account
  // does not exist or the database fails; then nothing changed.
  virtual bool Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance) = 0;

  // False once the connection to the database is known to be lost.
  virtual bool Healthy() { return true; }
  // True when the last call failed because the connection was found
  // closed (not timed out): a fresh connection may succeed at once.
  virtual bool LostConnection() const { return false; }

  const std::string& LastError() const { return error_; }

 protected:
  std::string error_;
};

// True when where names a PostgreSQL server ("postgresql://..." or
// "postgres://...") rather than an SQLite file.
bool IsPostgresUrl(const std::string& where);

// Opens the store named by where (a PostgreSQL URL or an SQLite file path)
// and creates its table when missing. nullptr and *error set on failure.
std::unique_ptr<AccountStore> OpenAccountStore(const std::string& where, std::string* error);

// The PostgreSQL store; nullptr and *error set on failure, or when this
// build has no PostgreSQL support.
std::unique_ptr<AccountStore> OpenPostgresAccounts(const std::string& url, std::string* error);

// The SQLite store.
class AccountsDb : public AccountStore {
 public:
  // Opens (creating when missing) the database at path and its table, in WAL
  // mode with a busy time-out. nullptr and *error set on failure.
  static std::unique_ptr<AccountsDb> Open(const std::string& path, std::string* error);
  ~AccountsDb() override;
  AccountsDb(const AccountsDb&) = delete;
  AccountsDb& operator=(const AccountsDb&) = delete;

  LookupResult Lookup(std::int32_t login, Account* account) override;
  bool Upsert(std::int32_t login, bool setDigest, const std::string& digest, bool setMoney,
              std::int64_t money, std::int64_t addMoney) override;
  bool Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance) override;

 private:
  explicit AccountsDb(sqlite3* db) : db_(db) {}
  bool Exec(const char* sql);
  sqlite3* db_;
};

// Cost in hundredths of sending bytes at pricePerMiB hundredths per MiB,
// rounded to the nearest hundredth.
std::int64_t CostOfBytes(std::uint64_t bytes, std::int64_t pricePerMiB);

// Parses an amount such as "12", "12.5", "-0.25" into hundredths.
bool ParseMoney(const std::string& text, std::int64_t* cents);

// Clamps a balance to the signed 32-bit field of the answer header.
std::int32_t MoneyForHeader(std::int64_t cents);

}  // namespace nbsvc
