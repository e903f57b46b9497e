#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/base/os_status.h"

namespace platform::authorization {

// The system's authorization database.
inline constexpr const char* kAuthorizationDatabasePath = "/var/db/auth.db";

// A right as the database defines it: the name of the rule that judges it, and the text shown
// when credentials are asked for it.
struct right_definition_t {
  std::string rule;
  std::string description;
};

// One connection to a rights database, created with its table when missing. Other processes
// (the security tool) write the same file: every statement waits for their locks, and every
// change is one transaction.
class rights_database_t {
 public:
  explicit rights_database_t(const std::string& path);

  // False when the database could not be opened or prepared; every call then fails.
  bool is_open() const { return db_ != nullptr; }

  // errAuthorizationDenied when the right does not exist.
  os_status_t get(const std::string& name, right_definition_t* definition);
  // Creates the right or replaces its definition.
  os_status_t set(const std::string& name, const right_definition_t& definition);
  // errAuthorizationDenied when the right does not exist.
  os_status_t remove(const std::string& name);

 private:
  struct closer_t {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };

  bool execute(const char* sql);

  std::unique_ptr<sqlite3, closer_t> db_;
};

}  // namespace platform::authorization
