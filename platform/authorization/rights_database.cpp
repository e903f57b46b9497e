#include "platform/authorization/rights_database.h"

namespace platform::authorization {
namespace {

// Long enough for any writer's transaction, short enough not to hang a request for good.
constexpr int kBusyTimeoutMilliseconds = 10000;

struct finalizer_t {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using statement_t = std::unique_ptr<sqlite3_stmt, finalizer_t>;

statement_t prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement_t(statement);
}

bool bind_text(sqlite3_stmt* statement, int index, const std::string& text) {
  return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

std::string column_text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

}  // namespace

rights_database_t::rights_database_t(const std::string& path) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(
      path.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
      nullptr);
  db_.reset(db);
  if (opened != SQLITE_OK) {
    db_.reset();
    return;
  }
  sqlite3_busy_timeout(db_.get(), kBusyTimeoutMilliseconds);
  if (!execute("CREATE TABLE IF NOT EXISTS rights"
               "(name TEXT PRIMARY KEY, rule TEXT, description TEXT)")) {
    db_.reset();
  }
}

bool rights_database_t::execute(const char* sql) {
  return sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

os_status_t rights_database_t::get(const std::string& name, right_definition_t* definition) {
  if (!is_open()) return errAuthorizationInternal;
  statement_t select = prepare(db_.get(), "SELECT rule, description FROM rights WHERE name = ?1");
  if (!select || !bind_text(select.get(), 1, name)) return errAuthorizationInternal;
  switch (sqlite3_step(select.get())) {
    case SQLITE_ROW:
      if (definition != nullptr) {
        *definition = {column_text(select.get(), 0), column_text(select.get(), 1)};
      }
      return errAuthorizationSuccess;
    case SQLITE_DONE:
      return errAuthorizationDenied;
    default:
      return errAuthorizationInternal;
  }
}

os_status_t rights_database_t::set(const std::string& name, const right_definition_t& definition) {
  if (!is_open()) return errAuthorizationInternal;
  statement_t upsert = prepare(db_.get(),
                               "INSERT INTO rights(name, rule, description) VALUES(?1, ?2, ?3) "
                               "ON CONFLICT(name) DO UPDATE SET rule = ?2, description = ?3");
  if (!upsert || !bind_text(upsert.get(), 1, name) ||
      !bind_text(upsert.get(), 2, definition.rule) ||
      !bind_text(upsert.get(), 3, definition.description)) {
    return errAuthorizationInternal;
  }
  return sqlite3_step(upsert.get()) == SQLITE_DONE ? errAuthorizationSuccess
                                                   : errAuthorizationInternal;
}

os_status_t rights_database_t::remove(const std::string& name) {
  if (!is_open()) return errAuthorizationInternal;
  statement_t erase = prepare(db_.get(), "DELETE FROM rights WHERE name = ?1");
  if (!erase || !bind_text(erase.get(), 1, name)) return errAuthorizationInternal;
  if (sqlite3_step(erase.get()) != SQLITE_DONE) return errAuthorizationInternal;
  return sqlite3_changes(db_.get()) > 0 ? errAuthorizationSuccess : errAuthorizationDenied;
}

}  // namespace platform::authorization
