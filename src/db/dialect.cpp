#include "db/dialect.hpp"

#include <fmt/format.h>

#include "db/backend_session.hpp"
#include "db/driver_error.hpp"
#include "reports/translate.hpp"

namespace cuserver {

namespace {

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// True when `word` stands at `at` as a whole word, compared without regard to case.
bool WordAt(std::string_view text, std::size_t at, std::string_view word) {
  if (at + word.size() > text.size()) return false;
  if (at > 0 && IsWordChar(text[at - 1])) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = text[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  const std::size_t end = at + word.size();
  return end == text.size() || !IsWordChar(text[end]);
}

// Reads "( digits [, digits] [byte|char] )" from `at`; on success returns the
// numbers as "p" or "p,s" and moves `at` past the closing parenthesis.
bool ReadTypeArguments(std::string_view text, std::size_t& at, std::string& numbers) {
  std::size_t i = at;
  const auto blanks = [&] { while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i; };
  const auto digits = [&](std::string& out) {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    out.append(text.substr(from, i - from));
    return i > from;
  };
  blanks();
  if (i >= text.size() || text[i] != '(') return false;
  ++i;
  blanks();
  std::string out;
  if (!digits(out)) return false;
  blanks();
  if (i < text.size() && text[i] == ',') {
    ++i;
    blanks();
    out += ',';
    if (!digits(out)) return false;
    blanks();
  }
  if (WordAt(text, i, "BYTE") || WordAt(text, i, "CHAR")) {
    i += 4;
    blanks();
  }
  if (i >= text.size() || text[i] != ')') return false;
  at = i + 1;
  numbers = out;
  return true;
}

}  // namespace

std::string MapOracleDdl(std::string_view oracleText, SqlDialect dialect) {
  if (dialect == SqlDialect::Oracle) return std::string(oracleText);
  std::string text;
  text.reserve(oracleText.size());
  std::size_t i = 0;
  while (i < oracleText.size()) {
    std::string numbers;
    std::size_t next = i;
    if (WordAt(oracleText, i, "VARCHAR2") && ReadTypeArguments(oracleText, next = i + 8, numbers) &&
        numbers.find(',') == std::string::npos) {
      text += "VARCHAR(" + numbers + ")";
      i = next;
    } else if (WordAt(oracleText, i, "NUMBER") && ReadTypeArguments(oracleText, next = i + 6, numbers)) {
      text += (dialect == SqlDialect::Mysql ? "DECIMAL(" : "NUMERIC(") + numbers + ")";
      i = next;
    } else if (dialect == SqlDialect::Postgresql && WordAt(oracleText, i, "DATE")) {
      // PostgreSQL's DATE has no time of day; the parking times need one.
      text += "TIMESTAMP";
      i += 4;
    } else if (dialect == SqlDialect::Mysql && WordAt(oracleText, i, "DATE")) {
      // Nor has MySQL's; its TIMESTAMP is bound to the session's time zone.
      text += "DATETIME";
      i += 4;
    } else if (WordAt(oracleText, i, "CLOB")) {
      text += dialect == SqlDialect::Mysql ? "LONGTEXT" : "TEXT";
      i += 4;
    } else {
      text += oracleText[i++];
    }
  }
  return text;
}

std::string WithTableName(std::string_view templateText, std::string_view tableName) {
  std::string text(templateText);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, tableName);
  return text;
}

std::string ProbeStatement(std::string_view tableName) { return WithTableName("select * from %s ", tableName); }

SqlDialect DialectOf(Backend backend) {
  switch (backend) {
    case Backend::Sqlite3: return SqlDialect::Sqlite;
    case Backend::Postgresql: return SqlDialect::Postgresql;
    case Backend::Mysql: return SqlDialect::Mysql;
    case Backend::Odbc: return SqlDialect::Oracle;
  }
  return SqlDialect::Oracle;
}

SqlDialect DialectOf(ReportDatabase& db) { return db.Dialect(); }

namespace {

std::string Folded(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return out;
}

}  // namespace

std::optional<SqlDialect> DialectOfDbmsName(std::string_view dbmsName) {
  // As the drivers name them: "Oracle", "PostgreSQL", "MySQL", "MariaDB",
  // "SQLite"; some add words after the name.
  const std::string name = Folded(dbmsName);
  if (name.starts_with("oracle")) return SqlDialect::Oracle;
  if (name.starts_with("postgresql")) return SqlDialect::Postgresql;
  if (name.starts_with("mysql") || name.starts_with("mariadb")) return SqlDialect::Mysql;
  if (name.starts_with("sqlite")) return SqlDialect::Sqlite;
  return std::nullopt;
}

std::optional<SqlDialect> ParseDialectName(std::string_view name) {
  const std::string folded = Folded(name);
  if (folded == "oracle") return SqlDialect::Oracle;
  if (folded == "postgresql") return SqlDialect::Postgresql;
  if (folded == "mysql") return SqlDialect::Mysql;
  if (folded == "sqlite") return SqlDialect::Sqlite;
  return std::nullopt;
}

void ExecuteDdl(ReportDatabase& db, std::string_view table, const std::string& statement) {
  try {
    db.ExecuteStatement(statement);
  } catch (const DatabaseError& error) {
    throw DatabaseError(
        TrFormat("the table {} cannot be made: {} (the statement: {})", table, DatabaseErrorText(error), statement),
        error.Code());
  }
}

bool TableExists(ReportDatabase& db, std::string_view tableName) {
  try {
    return db.Session().TableExists(ProbeStatement(tableName));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace cuserver
