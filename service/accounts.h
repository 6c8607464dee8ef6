// Accounts of the service in an SQLite database: login, password digest and
// money in hundredths of the currency unit. One AccountsDb is one database
// connection; use one per thread. Any number of connections, in this and
// other processes, may charge the same account at once: every change is a
// single UPDATE inside an immediate transaction, so no charge is lost or
// applied twice.
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

class AccountsDb {
 public:
  // Opens (creating when missing) the database at path and its table, in WAL
  // mode with a busy time-out. nullptr and *error set on failure.
  static std::unique_ptr<AccountsDb> Open(const std::string& path, std::string* error);
  ~AccountsDb();
  AccountsDb(const AccountsDb&) = delete;
  AccountsDb& operator=(const AccountsDb&) = delete;

  LookupResult Lookup(std::int32_t login, Account* account);

  // Creates the account or changes it: the digest when setDigest, the money
  // set to money when setMoney, else increased by addMoney.
  bool Upsert(std::int32_t login, bool setDigest, const std::string& digest, bool setMoney,
              std::int64_t money, std::int64_t addMoney);

  // Takes cents from the account (a negative amount gives them back);
  // *balance receives the money after the change. False when the account
  // does not exist or the database fails; then nothing changed.
  bool Charge(std::int32_t login, std::int64_t cents, std::int64_t* balance);

  const std::string& LastError() const { return error_; }

 private:
  explicit AccountsDb(sqlite3* db) : db_(db) {}
  bool Exec(const char* sql);
  sqlite3* db_;
  std::string error_;
};

// Cost in hundredths of sending bytes at pricePerMiB hundredths per MiB,
// rounded to the nearest hundredth.
std::int64_t CostOfBytes(std::uint64_t bytes, std::int64_t pricePerMiB);

// Parses an amount such as "12", "12.5", "-0.25" into hundredths.
bool ParseMoney(const std::string& text, std::int64_t* cents);

// Clamps a balance to the signed 32-bit field of the answer header.
std::int32_t MoneyForHeader(std::int64_t cents);

}  // namespace nbsvc
