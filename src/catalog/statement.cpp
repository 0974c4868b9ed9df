// The catalogue's prepared statements over SQLite's C interface.
#include "catalog/statement.h"

#include <sqlite3.h>

#include <utility>

#include "base/errors.h"

namespace tessaly {

std::string CatalogError(sqlite3* db, int code, const std::string& file) {
  // The connection's message is the detailed one when it belongs to this failure.
  const char* said = db != nullptr && sqlite3_extended_errcode(db) == code ? sqlite3_errmsg(db)
                                                                           : sqlite3_errstr(code);
  return "Catalogue \"" + file + "\": " + said;
}

Statement::Statement(sqlite3* db, std::string_view sql, std::string file)
    : db_(db), file_(std::move(file)) {
  const int code =
      sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)), file_(std::move(other.file_)) {}

void Statement::Fail(int code) const {
  throw Error(CatalogError(db_, code, file_));
}

void Statement::Bind(int index, std::string_view text) {
  const int code =
      sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (code != SQLITE_OK) Fail(code);
}

void Statement::Bind(int index, std::int64_t value) {
  const int code = sqlite3_bind_int64(stmt_, index, value);
  if (code != SQLITE_OK) Fail(code);
}

void Statement::Bind(int index, double value) {
  const int code = sqlite3_bind_double(stmt_, index, value);
  if (code != SQLITE_OK) Fail(code);
}

void Statement::BindNull(int index) {
  const int code = sqlite3_bind_null(stmt_, index);
  if (code != SQLITE_OK) Fail(code);
}

bool Statement::Step() {
  const int code = sqlite3_step(stmt_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  Fail(code);
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
}

std::optional<std::string> Statement::Text(int column) const {
  if (const std::optional<std::string_view> text = TextView(column)) return std::string(*text);
  return std::nullopt;
}

std::optional<std::string_view> Statement::TextView(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::int64_t> Statement::Int(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int64(stmt_, column);
}

std::optional<double> Statement::Real(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(stmt_, column);
}

void Execute(sqlite3* db, std::string_view sql, const std::string& file) {
  char* said = nullptr;
  const int code = sqlite3_exec(db, std::string(sql).c_str(), nullptr, nullptr, &said);
  if (code == SQLITE_OK) return;
  const std::string message =
      "Catalogue \"" + file + "\": " + (said != nullptr ? said : sqlite3_errstr(code));
  sqlite3_free(said);
  throw Error(message);
}

}  // namespace tessaly
