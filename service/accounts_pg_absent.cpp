// Built when libpq is not available: PostgreSQL URLs are refused clearly.
#include "accounts.h"

namespace nbsvc {

std::unique_ptr<AccountStore> OpenPostgresAccounts(const std::string&, std::string* error) {
  *error = "this build of NimbrelService has no PostgreSQL support (libpq-dev was missing)";
  return nullptr;
}

}  // namespace nbsvc
