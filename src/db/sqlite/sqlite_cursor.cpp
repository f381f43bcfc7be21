#include <sqlite3.h>

#include <fmt/format.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "db/sqlite/sqlite.hpp"
#include "db/bound_texts.hpp"
#include "db/driver_error.hpp"
#include "db/placed_cursor.hpp"
#include "db/value_text.hpp"

namespace cuserver {

DatabaseError SqliteFailure(sqlite3* connection) {
  const int code = sqlite3_extended_errcode(connection);
  const std::string message = sqlite3_errmsg(connection);
  return DatabaseError(message, std::nullopt, KindOfSqliteError(code, message), std::to_string(code));
}

namespace {

class SqliteCursor : public PlacedCursor {
 public:
  // `texts` (null: none) are bound to the statement's parameters in order.
  SqliteCursor(::sqlite3* connection, const std::string& statement, const std::vector<std::string>* texts)
      : connection_(connection) {
    if (connection_ == nullptr) throw DatabaseError("the SQLite session is not open");
    sqlite3_stmt* prepared = nullptr;
    const int rc = sqlite3_prepare_v2(connection_, statement.c_str(), static_cast<int>(statement.size()),
                                      &prepared, nullptr);
    statement_.reset(prepared);
    if (rc != SQLITE_OK) throw SqliteFailure(connection_);
    if (!statement_) throw DatabaseError("the statement is empty");
    if (texts != nullptr) Bind(*texts);
    const int columns = sqlite3_column_count(Statement());
    for (int i = 0; i < columns; ++i) {
      const char* name = sqlite3_column_name(Statement(), i);
      AddColumn(name == nullptr ? "" : name);
    }
    Step();
  }

  bool AtEnd() const override { return !hasRow_; }

  std::optional<std::string> Value(std::string_view column) const override {
    if (!hasRow_) throw DatabaseError("no current row to read column " + std::string(column) + " from");
    return ColumnText(ColumnIndex(column));
  }

  // The value by its own storage class. The value is taken once (one call)
  // and read without further calls on the statement.
  bool ValueAtInto(int place, std::string& text) const override {
    sqlite3_value* value = ValueAt(place);
    text.clear();
    switch (sqlite3_value_type(value)) {
      case SQLITE_NULL:
        return false;
      case SQLITE_INTEGER:
        fmt::format_to(std::back_inserter(text), "{}", sqlite3_value_int64(value));
        return true;
      case SQLITE_FLOAT:
        AppendNumberText(text, sqlite3_value_double(value));
        return true;
      default: {
        const auto* bytes = sqlite3_value_blob(value);
        const int size = sqlite3_value_bytes(value);
        // Appended to the cleared text: its storage is reused without the
        // general replacement's checks.
        if (bytes != nullptr) text.append(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
        return true;
      }
    }
  }

  bool ValueAtEquals(int place, std::string_view text) const override {
    sqlite3_value* value = ValueAt(place);
    const int type = sqlite3_value_type(value);
    if (type != SQLITE_TEXT && type != SQLITE_BLOB) return PlacedCursor::ValueAtEquals(place, text);
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
    const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
    return size == text.size() && (size == 0 || std::memcmp(bytes, text.data(), size) == 0);
  }

  void FixValueAt(int place, FixValue& fixValue) const override {
    sqlite3_value* value = ValueAt(place);
    switch (sqlite3_value_type(value)) {
      case SQLITE_NULL:
        fixValue.SetNull();
        return;
      case SQLITE_INTEGER:
        fixValue.SetInteger(sqlite3_value_int64(value));
        return;
      case SQLITE_FLOAT:
        fixValue.SetReal(sqlite3_value_double(value));
        return;
      default: {
        const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
        const int size = sqlite3_value_bytes(value);
        fixValue.SetText(bytes == nullptr ? std::string_view() : std::string_view(bytes, static_cast<std::size_t>(size)));
        return;
      }
    }
  }

  void Next() override {
    NextRow();
    if (hasRow_) Step();
  }

  void Close() override {
    hasRow_ = false;
    statement_.reset();
  }

 private:
  // Byte for byte, NUL bytes included.
  void Bind(const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (sqlite3_bind_text64(Statement(), static_cast<int>(i + 1), texts[i].data(), texts[i].size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8) != SQLITE_OK) {
        throw SqliteFailure(connection_);
      }
    }
  }

  void Step() {
    const int rc = sqlite3_step(Statement());
    hasRow_ = rc == SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw SqliteFailure(connection_);
  }

  sqlite3_value* ValueAt(int place) const {
    if (!hasRow_) throw DatabaseError("no current row to read from");
    if (place < 0 || place >= ColumnCount()) throw DatabaseError("the query has no column " + std::to_string(place));
    return sqlite3_column_value(Statement(), place);
  }

  // By the value's own storage class: SQLite lets a column hold any type.
  std::optional<std::string> ColumnText(int i) const {
    switch (sqlite3_column_type(Statement(), i)) {
      case SQLITE_NULL:
        return std::nullopt;
      case SQLITE_INTEGER:
        return fmt::format("{}", sqlite3_column_int64(Statement(), i));
      case SQLITE_FLOAT:
        return NumberText(sqlite3_column_double(Statement(), i));
      default: {
        const auto* text = sqlite3_column_blob(Statement(), i);
        const int size = sqlite3_column_bytes(Statement(), i);
        if (text == nullptr) return std::string();
        return std::string(static_cast<const char*>(text), static_cast<std::size_t>(size));
      }
    }
  }

  sqlite3_stmt* Statement() const { return statement_.get(); }

  ::sqlite3* connection_;
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement_{nullptr, &sqlite3_finalize};
  bool hasRow_ = false;
};

}  // namespace

std::unique_ptr<Cursor> OpenSqliteCursor(::sqlite3* connection, const std::string& statement) {
  return std::make_unique<SqliteCursor>(connection, statement, nullptr);
}

std::unique_ptr<Cursor> OpenSqliteCursor(::sqlite3* connection, const std::string& statement,
                                         const std::vector<std::string>& texts) {
  return std::make_unique<SqliteCursor>(connection, NumberedPlaceholders(statement, "?", texts.size()), &texts);
}

}  // namespace cuserver
