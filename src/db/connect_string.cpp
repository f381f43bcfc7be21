#include "db/connect_string.hpp"

#include <fmt/format.h>
#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "reports/translate.hpp"

namespace cuserver {
namespace {

// A libpq keyword value in single quotes, with quote and backslash escaped.
std::string LibpqValue(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('\'');
  return out;
}

std::string PercentEncoded(std::string_view value) {
  std::string out;
  for (unsigned char c : value) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

// An ODBC attribute value; braces protect ';', '=', '{' and '}' in it.
std::string OdbcValue(std::string_view value) {
  if (value.find_first_of(";={}[](),?*!@") == std::string_view::npos) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

std::string PostgresqlConnectString(const ConnectionSettings& s) {
  const std::string_view ds = s.dataSource;
  // Credentials left empty are not sent: libpq then takes the operating
  // system user, ~/.pgpass or peer authentication.
  if (ds.starts_with("postgresql://") || ds.starts_with("postgres://")) {
    std::string text(ds);
    for (const auto& [key, value] : {std::pair{"user", &s.userId}, std::pair{"password", &s.password}}) {
      if (value->empty()) continue;
      text += fmt::format("{}{}={}", text.find('?') == std::string::npos ? '?' : '&', key, PercentEncoded(*value));
    }
    return text;
  }
  std::string text = ds.find('=') == std::string_view::npos ? "service=" + LibpqValue(ds) : std::string(ds);
  if (!s.userId.empty()) text += " user=" + LibpqValue(s.userId);
  if (!s.password.empty()) text += " password=" + LibpqValue(s.password);
  return text;
}

// The libpq keywords that the data source sets; none for a bare service
// name (its service file is libpq's to read) or a string libpq cannot parse.
std::set<std::string> LibpqKeywordsSet(const std::string& dataSource) {
  std::set<std::string> keywords;
  if (dataSource.find('=') == std::string::npos && !dataSource.starts_with("postgres")) return keywords;
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(dataSource.c_str(), &error),
                                                                      &PQconninfoFree);
  PQfreemem(error);
  if (!options) return keywords;
  for (const PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
    if (o->val != nullptr) keywords.insert(o->keyword);
  }
  return keywords;
}


// Whether SOCI's MySQL connection string sets the keyword.
bool MysqlKeywordSet(std::string_view text, std::string_view keyword) {
  for (std::size_t at = text.find(keyword); at != std::string_view::npos; at = text.find(keyword, at + 1)) {
    const bool starts = at == 0 || text[at - 1] == ' ' || text[at - 1] == '\t';
    std::size_t after = at + keyword.size();
    while (after < text.size() && text[after] == ' ') ++after;
    if (starts && after < text.size() && text[after] == '=') return true;
  }
  return false;
}

std::string MysqlConnectString(const ConnectionSettings& s) {
  std::string text = s.dataSource;
  // SOCI reads a value in single quotes as libpq does: \' and \\ within.
  if (!s.userId.empty() && !MysqlKeywordSet(text, "user")) text += " user=" + LibpqValue(s.userId);
  if (!s.password.empty() && !MysqlKeywordSet(text, "password") && !MysqlKeywordSet(text, "pass")) {
    text += " password=" + LibpqValue(s.password);
  }
  // Report texts are Chinese: the connection speaks utf8mb4 unless told otherwise.
  if (!MysqlKeywordSet(text, "charset")) text += " charset=utf8mb4";
  return text;
}

}  // namespace

const char* SociBackendName(Backend backend) {
  switch (backend) {
    case Backend::Sqlite3: return "sqlite3";
    case Backend::Postgresql: return "postgresql";
    case Backend::Odbc: return "odbc";
    case Backend::Mysql: return "mysql";
  }
  return "sqlite3";
}

std::string SociConnectString(const ConnectionSettings& s) {
  switch (s.backend) {
    case Backend::Sqlite3:
      // SOCI reads db="..." up to the next double quote and has no escape for one.
      if (s.dataSource.find('"') != std::string::npos) {
        throw DatabaseError(TrFormat("the SQLite database file name {} contains a double quote", s.dataSource));
      }
      return fmt::format("db=\"{}\" timeout=30", s.dataSource);
    case Backend::Postgresql:
      return PostgresqlConnectString(s);
    case Backend::Odbc:
      // For psqlODBC: stream results 10000 rows at a time, and describe a
      // VARCHAR without length by more than 255 characters, which it would
      // otherwise cut values to. Other drivers ignore attributes they don't know.
      return fmt::format("DSN={};UID={};PWD={};UseDeclareFetch=1;Fetch=10000;MaxVarcharSize=65535",
                         OdbcValue(s.dataSource),
                         OdbcValue(s.userId), OdbcValue(s.password));
    case Backend::Mysql:
      return MysqlConnectString(s);
  }
  return {};
}

std::string SessionConnectString(const ConnectionSettings& s) {
  std::string text = SociConnectString(s);
  if (s.backend == Backend::Mysql) {
    if (!MysqlKeywordSet(s.dataSource, "connect_timeout")) text += " connect_timeout=20";
    // A server that stops answering: the client gives up waiting for a
    // result half a minute after the server would have ended the statement.
    if (s.statementTimeoutSeconds > 0 && !MysqlKeywordSet(s.dataSource, "read_timeout")) {
      const std::int64_t seconds = std::min(std::int64_t{s.statementTimeoutSeconds} + 30, std::int64_t{INT_MAX});
      text += fmt::format(" read_timeout={}", seconds);
    }
    return text;
  }
  if (s.backend != Backend::Postgresql) return text;
  static constexpr std::array<std::pair<const char*, const char*>, 5> kLiveness{{
      {"keepalives", "1"},
      {"keepalives_idle", "60"},
      {"keepalives_interval", "10"},
      {"keepalives_count", "6"},
      {"connect_timeout", "20"},
  }};
  const auto set = LibpqKeywordsSet(s.dataSource);
  const std::string_view ds = s.dataSource;
  const bool uri = ds.starts_with("postgresql://") || ds.starts_with("postgres://");
  for (const auto& [keyword, value] : kLiveness) {
    if (set.contains(keyword)) continue;
    text += !uri ? ' ' : text.find('?') == std::string::npos ? '?' : '&';
    text += fmt::format("{}={}", keyword, value);
  }
  return text;
}

}  // namespace cuserver
