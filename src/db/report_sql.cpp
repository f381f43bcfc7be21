#include "db/report_sql.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "db/value_text.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

// MySQL casts to CHAR only (MariaDB takes VARCHAR too); elsewhere CHAR pads.
std::string_view TextType(ReportDatabase& db) { return db.Dialect() == SqlDialect::Mysql ? "CHAR" : "VARCHAR"; }

}  // namespace

std::string SimIdText(ReportDatabase& db, std::string_view alias) {
  return fmt::format("CAST({}.SIMID AS {}(20))", alias, TextType(db));
}

std::string DayKeyOf(year_month_day day) {
  return fmt::format("{:04}{:02}{:02}", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                     static_cast<unsigned>(day.day()));
}

std::string DayStartText(year_month_day day) {
  return fmt::format("{:04}-{:02}-{:02} 00:00:00", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                     static_cast<unsigned>(day.day()));
}

BoundSql WhereOfDays(ReportDatabase& db, std::string_view timeColumn, year_month_day from, year_month_day to,
                        const std::string& simId, PeriodRead read) {
  const year_month_day next{sys_days{to} + days{1}};
  // SQLite would walk the time index for a month of a month's table, and
  // look every row up from it: a unary + keeps it to one pass of the table.
  const std::string_view unindexed = read == PeriodRead::WholeTable && db.Dialect() == SqlDialect::Sqlite ? "+" : "";
  BoundSql where{fmt::format(" where {3}t.{0} >= {1} and {3}t.{0} < {2}", timeColumn, SqlLiteral(DayStartText(from)),
                              SqlLiteral(DayStartText(next)), unindexed),
                  {}};
  if (simId.empty()) return where;
  // Compared as text, the same on every backend; a SIMID of digits is also
  // compared as the column holds it, number or text, so that the index on
  // (SIMID, time) finds a vehicle's rows.
  const bool digits = simId.size() <= 18 && std::all_of(simId.begin(), simId.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  if (digits) {
    where.text += " and t.SIMID = ?";
    where.values.push_back(simId);
  }
  where.text += fmt::format(" and {} = ?", SimIdText(db));
  where.values.push_back(simId);
  return where;
}

std::string DayOfTimeSql(ReportDatabase& db, std::string_view column) {
  return fmt::format("substr(CAST({} AS {}(30)), 1, 10)", column, TextType(db));
}

std::string SecondsBetweenSql(ReportDatabase& db, std::string_view begin, std::string_view end) {
  switch (db.Dialect()) {
    case SqlDialect::Sqlite: return fmt::format("round((julianday({1}) - julianday({0})) * 86400)", begin, end);
    case SqlDialect::Postgresql: return fmt::format("extract(epoch from ({1} - {0}))", begin, end);
    case SqlDialect::Mysql: return fmt::format("timestampdiff(second, {0}, {1})", begin, end);
    case SqlDialect::Oracle: return fmt::format("round(({1} - {0}) * 86400)", begin, end);
  }
  return "0";
}

std::vector<year_month_day> MonthsOf(year_month_day from, year_month_day to) {
  std::vector<year_month_day> months;
  for (std::chrono::year_month month = from.year() / from.month(); month <= to.year() / to.month();
       month += std::chrono::months{1}) {
    months.push_back(month / std::chrono::day{1});
  }
  return months;
}

CatalogueNames ReadCatalogueNames(ReportDatabase& db) {
  CatalogueNames names;
  if (!TableExists(db, "vehicleinfo")) return names;
  const bool fleets = TableExists(db, "motorcade");
  auto cursor = db.OpenQuery(fmt::format("select {} as s, v.licenseplate as p, ", SimIdText(db, "v")) +
                             (fleets ? "m.motorcadename as f from vehicleinfo v left join motorcade m on "
                                       "m.motorcadeid = v.motorcadeid"
                                     : "'' as f from vehicleinfo v"));
  std::string simId, plate, fleet;
  for (; !cursor->AtEnd(); cursor->Next()) {
    cursor->ValueInto("s", simId);
    cursor->ValueInto("p", plate);
    cursor->ValueInto("f", fleet);
    names.try_emplace(simId, plate, fleet);
  }
  cursor->Close();
  return names;
}

RowFilter::RowFilter(std::string_view text) {
  std::string term;
  auto flush = [&] {
    if (!term.empty()) terms_.push_back(LowerAscii(term));
    term.clear();
  };
  constexpr std::string_view kChineseComma = "\xEF\xBC\x8C";  // ，
  constexpr std::string_view kChineseEnumeration = "\xE3\x80\x81";  // 、
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view rest = text.substr(i);
    if (rest.starts_with(kChineseComma) || rest.starts_with(kChineseEnumeration)) {
      flush();
      i += 2;
    } else if (text[i] == ' ' || text[i] == ',' || text[i] == ';' || text[i] == '\t') {
      flush();
    } else {
      term += text[i];
    }
  }
  flush();
}

bool RowFilter::Matches(std::initializer_list<std::string_view> texts) const {
  if (terms_.empty()) return true;
  for (std::string_view text : texts) {
    const std::string lower = LowerAscii(text);
    for (const std::string& term : terms_) {
      if (lower.find(term) != std::string::npos) return true;
    }
  }
  return false;
}

}  // namespace cuserver
