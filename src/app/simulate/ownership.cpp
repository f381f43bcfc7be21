#include "app/simulate/ownership.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "reports/sql_text.hpp"

namespace cuserver::sim {
namespace {

bool HasRow(ReportDatabase& db, const std::string& query) {
  auto cursor = db.OpenQuery(query);
  const bool any = !cursor->AtEnd();
  cursor->Close();
  return any;
}

long long RowCount(ReportDatabase& db, std::string_view table) {
  auto cursor = db.OpenQuery(fmt::format("select count(*) as n from {}", table));
  const std::string n = cursor->AtEnd() ? std::string("0") : cursor->Value("n").value_or("0");
  cursor->Close();
  return std::atoll(n.c_str());
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

}  // namespace

std::string ForeignDatabaseContents(ReportDatabase& db, const std::string& dayKey) {
  if (TableExists(db, kDatabaseMarkTable) && HasRow(db, fmt::format("select made from {}", kDatabaseMarkTable))) {
    return {};
  }
  constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kCatalogue{{
      {"vehicleinfo", "vehicles"},
      {"motorcade", "fleets"},
      {"areaspeed", "speed-area entries"},
  }};
  std::vector<std::string> found;
  for (const auto& [table, what] : kCatalogue) {
    if (!TableExists(db, table)) continue;
    if (const long long rows = RowCount(db, table); rows > 0) found.push_back(fmt::format("{} {} ({})", rows, what, table));
  }
  // A day table can be large: only whether it has a fix is asked.
  const std::string dayTable = "GPSDATA" + dayKey;
  if (TableExists(db, dayTable) && HasRow(db, fmt::format("select SIMID from {}", dayTable))) {
    found.push_back(fmt::format("fixes of {} ({})", dayKey, dayTable));
  }
  return Joined(found, ", ");
}

std::string ForeignMapFolderContents(const std::filesystem::path& folder) {
  std::error_code error;
  const auto status = std::filesystem::status(folder, error);
  if (!std::filesystem::exists(status)) return {};
  if (!std::filesystem::is_directory(status)) return "no folder but a file of that name";
  if (std::filesystem::exists(folder / kMapFolderMarkFile, error)) return {};
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  if (error) return fmt::format("what cannot be listed ({})", error.message());
  if (names.empty()) return {};
  std::sort(names.begin(), names.end());
  constexpr std::size_t kShown = 5;
  const std::size_t count = names.size();
  if (count > kShown) {
    names.resize(kShown);
    names.push_back("...");
  }
  return fmt::format("{} {} ({})", count, count == 1 ? "file" : "files", Joined(names, ", "));
}

void MarkDatabase(ReportDatabase& db, const std::string& dayKey, int vehicles) {
  if (!TableExists(db, kDatabaseMarkTable)) {
    db.ExecuteStatement(fmt::format("CREATE TABLE {} (made VARCHAR(19), day VARCHAR(8), vehicles INTEGER)",
                                    kDatabaseMarkTable));
  }
  db.ExecuteStatement(fmt::format("insert into {} (made, day, vehicles) values ({}, {}, {})", kDatabaseMarkTable,
                                  SqlLiteral(LedgerNow()), SqlLiteral(dayKey), vehicles));
}

void MarkMapFolder(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / kMapFolderMarkFile, std::ios::binary);
  out << "This map folder was written by cuserver simulate, which may write it again.\n";
  if (!out) throw std::runtime_error(fmt::format("cannot write {}", (folder / kMapFolderMarkFile).string()));
}

}  // namespace cuserver::sim
