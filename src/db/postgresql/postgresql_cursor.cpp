// Kept apart: SOCI's PostgreSQL header brings libpq into every includer.
#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <fmt/format.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "db/postgresql/postgresql.hpp"
#include "db/bound_texts.hpp"
#include "db/placed_cursor.hpp"
#include "db/value_text.hpp"

namespace cuserver {
namespace {

// PostgreSQL's type numbers (pg_type.oid) of the columns read here.
enum class ColumnKind { Text, Number, Integer, Boolean, Timestamp, Date };

std::optional<ColumnKind> KindOf(Oid type) {
  switch (type) {
    case 18: case 19: case 25: case 1042: case 1043: return ColumnKind::Text;
    case 700: case 701: case 1700: return ColumnKind::Number;
    case 20: case 21: case 23: return ColumnKind::Integer;
    case 16: return ColumnKind::Boolean;
    case 1114: case 1184: return ColumnKind::Timestamp;
    case 1082: return ColumnKind::Date;
    default: return std::nullopt;
  }
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The whole result of one simple query, read row by row. Values are turned
// into text exactly as the SOCI cursor turns them: numbers by their double's
// shortest text, times as yyyy-mm-dd hh:mm:ss.
class PostgresCursor : public PlacedCursor {
 public:
  PostgresCursor(Result result, std::vector<ColumnKind> kinds, bool binary = false)
      : result_(std::move(result)), kinds_(std::move(kinds)), binary_(binary) {
    rows_ = PQntuples(result_.get());
    for (int i = 0; i < PQnfields(result_.get()); ++i) AddColumn(PQfname(result_.get(), i));
  }

  bool AtEnd() const override { return row_ >= rows_; }

  std::optional<std::string> Value(std::string_view column) const override {
    std::string text;
    if (!ValueInto(column, text)) return std::nullopt;
    return text;
  }

  // The value as text.
  bool ValueAtInto(int i, std::string& text) const override {
    RequirePlace(i);
    text.clear();
    if (PQgetisnull(result_.get(), row_, i)) return false;
    const char* value = PQgetvalue(result_.get(), row_, i);
    const std::size_t size = static_cast<std::size_t>(PQgetlength(result_.get(), row_, i));
    switch (kinds_[static_cast<std::size_t>(i)]) {
      case ColumnKind::Text:
        text.append(value, size);
        break;
      case ColumnKind::Integer:
        if (binary_) {
          fmt::format_to(std::back_inserter(text), "{}", BinaryInteger(i));
        } else {
          text.append(value, size);
        }
        break;
      case ColumnKind::Number:
        AppendNumberText(text, NumberAt(i));
        break;
      case ColumnKind::Boolean:
        text.push_back(size > 0 && (binary_ ? value[0] == 1 : value[0] == 't') ? '1' : '0');
        break;
      case ColumnKind::Timestamp:
        text.append(value, std::min<std::size_t>(size, 19));
        break;
      case ColumnKind::Date:
        text.append(value, size);
        text += " 00:00:00";
        break;
    }
    return true;
  }

  void FixValueAt(int i, FixValue& fixValue) const override {
    RequirePlace(i);
    if (kinds_[static_cast<std::size_t>(i)] != ColumnKind::Number || PQgetisnull(result_.get(), row_, i)) {
      std::string text;
      if (ValueAtInto(i, text)) {
        fixValue.SetText(text);
      } else {
        fixValue.SetNull();
      }
      return;
    }
    fixValue.SetReal(NumberAt(i));
  }

  // The binary values of the kinds a binary result may hold (BinaryKindOf):
  // network byte order.
  long long BinaryInteger(int i) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row_, i));
    const int size = PQgetlength(result_.get(), row_, i);
    std::uint64_t bits = 0;
    for (int k = 0; k < size; ++k) bits = bits << 8 | bytes[k];
    switch (size) {
      case 2: return static_cast<std::int16_t>(bits);
      case 4: return static_cast<std::int32_t>(bits);
      case 8: return static_cast<std::int64_t>(bits);
      default: throw DatabaseError("column " + std::string(PQfname(result_.get(), i)) + " holds an integer of " +
                                   std::to_string(size) + " bytes");
    }
  }

  void Next() override {
    NextRow();
    if (!AtEnd()) ++row_;
  }

  void Close() override {
    row_ = rows_;
    result_.reset();
  }

 private:
  void RequirePlace(int i) const {
    if (AtEnd()) throw DatabaseError("no current row to read from");
    if (i < 0 || i >= static_cast<int>(kinds_.size())) throw DatabaseError("the query has no column " + std::to_string(i));
  }

  // The double of a numeric column's value (not NULL) of the current row.
  double NumberAt(int i) const {
    const char* value = PQgetvalue(result_.get(), row_, i);
    const std::size_t size = static_cast<std::size_t>(PQgetlength(result_.get(), row_, i));
    if (binary_) {
      if (size != sizeof(double)) {
        throw DatabaseError("column " + std::string(PQfname(result_.get(), i)) + " holds a number of " +
                            std::to_string(size) + " bytes");
      }
      std::uint64_t bits = 0;
      std::memcpy(&bits, value, sizeof bits);
      if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
      return std::bit_cast<double>(bits);
    }
    double number = 0.0;
    const auto parsed = std::from_chars(value, value + size, number);
    if (parsed.ec != std::errc() || parsed.ptr != value + size) {
      throw DatabaseError("column " + std::string(PQfname(result_.get(), i)) + " holds \"" + std::string(value, size) +
                          "\", which is not a number this system can read");
    }
    return number;
  }

  Result result_;
  std::vector<ColumnKind> kinds_;
  bool binary_ = false;
  int rows_ = 0;
  int row_ = 0;
};

// The kinds whose binary values read as exactly what their texts read as:
// text of any kind, float8, integers and booleans. float4 (its text is the
// float's shortest, not the double's), numeric, and times (their texts follow
// the session's DateStyle and time zone) come as text.
std::optional<ColumnKind> BinaryKindOf(Oid type) {
  switch (type) {
    case 18: case 19: case 25: case 1042: case 1043: return ColumnKind::Text;
    case 701: return ColumnKind::Number;
    case 20: case 21: case 23: return ColumnKind::Integer;
    case 16: return ColumnKind::Boolean;
    default: return std::nullopt;
  }
}

std::string Reason(PGconn* conn, const PGresult* result) {
  std::string reason = result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

// The server's reason, with the kind its SQLSTATE stands for.
DatabaseError Failure(PGconn* conn, const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (state == nullptr) return DatabaseError(Reason(conn, result));
  return DatabaseError(Reason(conn, result), std::nullopt, KindOfSqlState(state), state);
}

PGconn* Connection(soci::session& session) {
  return static_cast<soci::postgresql_session_backend*>(session.get_backend())->conn_;
}

// The statement with its `?` placeholders bound to the texts, as values of
// no declared type in text form (the server reads each as it reads a quoted
// literal in its place); the result's values in text (0) or binary (1).
Result Bound(PGconn* conn, const std::string& statement, const std::vector<std::string>& texts, int resultFormat) {
  RequireNoNulByte(texts, "PostgreSQL");
  const std::string numbered = NumberedPlaceholders(statement, "$", texts.size());
  std::vector<const char*> values;
  for (const std::string& text : texts) values.push_back(text.c_str());
  return Result(PQexecParams(conn, numbered.c_str(), static_cast<int>(texts.size()), nullptr, values.data(), nullptr,
                             nullptr, resultFormat),
                &PQclear);
}

std::unique_ptr<Cursor> TextCursor(PGconn* conn, Result result) {
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) return std::make_unique<PostgresCursor>(std::move(result), std::vector<ColumnKind>{});
    throw Failure(conn, result.get());
  }
  std::vector<ColumnKind> kinds;
  for (int i = 0; i < PQnfields(result.get()); ++i) {
    const auto kind = KindOf(PQftype(result.get(), i));
    if (!kind) return nullptr;
    kinds.push_back(*kind);
  }
  return std::make_unique<PostgresCursor>(std::move(result), std::move(kinds));
}

std::unique_ptr<Cursor> BinaryCursor(PGconn* conn, Result result) {
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) throw Failure(conn, result.get());
  std::vector<ColumnKind> kinds;
  for (int i = 0; i < PQnfields(result.get()); ++i) {
    const auto kind = BinaryKindOf(PQftype(result.get(), i));
    if (!kind) return nullptr;
    kinds.push_back(*kind);
  }
  return std::make_unique<PostgresCursor>(std::move(result), std::move(kinds), true);
}

}  // namespace

std::unique_ptr<Cursor> OpenPostgresCursor(soci::session& session, const std::string& statement) {
  PGconn* conn = Connection(session);
  return TextCursor(conn, Result(PQexec(conn, statement.c_str()), &PQclear));
}

std::unique_ptr<Cursor> OpenPostgresCursor(soci::session& session, const std::string& statement,
                                           const std::vector<std::string>& texts) {
  PGconn* conn = Connection(session);
  return TextCursor(conn, Bound(conn, statement, texts, 0));
}

std::unique_ptr<Cursor> OpenPostgresBinaryCursor(soci::session& session, const std::string& statement) {
  PGconn* conn = Connection(session);
  return BinaryCursor(conn, Result(PQexecParams(conn, statement.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1),
                                   &PQclear));
}

std::unique_ptr<Cursor> OpenPostgresBinaryCursor(soci::session& session, const std::string& statement,
                                                 const std::vector<std::string>& texts) {
  PGconn* conn = Connection(session);
  return BinaryCursor(conn, Bound(conn, statement, texts, 1));
}

}  // namespace cuserver
