#include <charconv>
#include <filesystem>
#include <fstream>

#include "db/dialect.hpp"
#include "db/session.hpp"
#include "reports/ini_file.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

Backend ParseBackend(const std::string& name, const std::filesystem::path& file) {
  std::string folded;
  for (char c : name) folded.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  if (folded.empty() || folded == "sqlite3") return Backend::Sqlite3;
  if (folded == "postgresql") return Backend::Postgresql;
  if (folded == "odbc") return Backend::Odbc;
  if (folded == "mysql") return Backend::Mysql;
  throw SettingsError(TrFormat(
      "settings file {}: key Backend of section General is \"{}\"; use sqlite3, postgresql, mysql or odbc",
      file.string(), name));
}

std::optional<SqlDialect> ParseDialect(const std::string& name, const std::filesystem::path& file) {
  if (name.empty()) return std::nullopt;
  if (auto dialect = ParseDialectName(name)) return dialect;
  throw SettingsError(TrFormat(
      "settings file {}: key Dialect of section General is \"{}\"; use oracle, postgresql, mysql or sqlite",
      file.string(), name));
}

// A whole number of seconds from 0 up; the default when the key is missing
// or empty.
int ParseSeconds(const IniFile& ini, const char* key, int defaultSeconds, const std::filesystem::path& file) {
  const std::string text = ini.Value("General", key);
  if (text.empty()) return defaultSeconds;
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 0) {
    throw SettingsError(TrFormat(
        "settings file {}: key {} of section General is \"{}\"; use a whole number of seconds from 0 up",
        file.string(), key, text));
  }
  return seconds;
}

}  // namespace

ConnectionSettings ReadConnectionSettings(const std::filesystem::path& gpsserverIni,
                                          const std::filesystem::path& startDirectory) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(gpsserverIni, ec)) {
    throw SettingsError(TrFormat("settings file {} does not exist or is not a file", gpsserverIni.string()));
  }
  auto ini = IniFile::Load(gpsserverIni);
  if (!ini) throw SettingsError(TrFormat("settings file {} cannot be read", gpsserverIni.string()));

  ConnectionSettings settings;
  settings.createSqliteFile = false;
  settings.backend = ParseBackend(ini->Value("General", "Backend"), gpsserverIni);
  settings.userId = ini->Value("General", "USERID");
  settings.password = ini->Value("General", "Password");
  settings.dataSource = ini->Value("General", "DataSource");
  settings.dialect = ParseDialect(ini->Value("General", "Dialect"), gpsserverIni);
  settings.reconnectSeconds = ParseSeconds(*ini, "ReconnectSeconds", settings.reconnectSeconds, gpsserverIni);
  settings.statementTimeoutSeconds =
      ParseSeconds(*ini, "StatementTimeoutSeconds", settings.statementTimeoutSeconds, gpsserverIni);

  const auto require = [&](const char* key, const std::string& value) {
    if (value.empty()) {
      throw SettingsError(
          TrFormat("settings file {}: key {} of section General is missing or empty", gpsserverIni.string(), key));
    }
  };
  require("DataSource", settings.dataSource);
  if (settings.backend == Backend::Sqlite3) {
    const std::filesystem::path file(settings.dataSource);
    if (file.is_relative()) settings.dataSource = (startDirectory / file).lexically_normal().string();
  } else if (settings.backend == Backend::Odbc) {
    require("USERID", settings.userId);
    require("Password", settings.password);
  }
  // PostgreSQL: an empty USERID or Password leaves them to libpq (the
  // operating system user, ~/.pgpass, peer authentication); MySQL: to the
  // client library's option files.
  return settings;
}

}  // namespace cuserver
