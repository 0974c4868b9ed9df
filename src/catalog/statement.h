// One prepared SQLite statement of the catalogue: bind, step, read columns. Failures throw Error
// naming the catalogue's file and what SQLite said.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tessaly {

class Statement {
 public:
  // `file` names the catalogue in messages.
  Statement(sqlite3* db, std::string_view sql, std::string file);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1, as in SQL's ?1; nothing binds NULL.
  void Bind(int index, std::string_view text);
  void Bind(int index, std::int64_t value);
  void Bind(int index, double value);
  void BindNull(int index);
  template <typename T>
  void Bind(int index, const std::optional<T>& value) {
    if (value) {
      Bind(index, *value);
    } else {
      BindNull(index);
    }
  }

  // Runs the statement to its next row: true when a row is ready, false when it is done.
  bool Step();
  // Ready to run again, its parameters kept.
  void Reset();

  // Columns count from 0; nothing for NULL.
  std::optional<std::string> Text(int column) const;
  // The text where SQLite holds it, valid until the next Step or Reset: a long report reads
  // its rows into the same strings without making new ones.
  std::optional<std::string_view> TextView(int column) const;
  std::optional<std::int64_t> Int(int column) const;
  std::optional<double> Real(int column) const;

 private:
  [[noreturn]] void Fail(int code) const;

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::string file_;
};

// Runs SQL that returns no rows (one or more statements).
void Execute(sqlite3* db, std::string_view sql, const std::string& file);

// The message for what SQLite said after `code`, naming the catalogue's file.
std::string CatalogError(sqlite3* db, int code, const std::string& file);

}  // namespace tessaly
