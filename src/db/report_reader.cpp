#include "db/report_reader.hpp"

#include <array>

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

struct KindTable {
  ReportKind kind;
  std::string_view name;
  std::string_view tableFamily;
  bool monthly;
  std::string_view timeColumn;
  std::vector<std::string_view> columns;  // after SIMID; the time column among them
};

const std::array<KindTable, 6>& KindTables() {
  static const std::array<KindTable, 6> tables{{
      {ReportKind::Mileage, "mileage", "vehicledistance", true, "BEGINTIME", {"BEGINTIME", "ENDTIME", "DISTANCE"}},
      {ReportKind::Speeding, "speeding", "speedalarm", true, "TIMELOG",
       {"TIMELOG", "ENDTIME", "TOTTIME", "SPEED", "REMARK", "DISTANCE", "LONGITUDE", "LATITUDE"}},
      {ReportKind::Parking, "parking", "parkinglog", true, "BEGINTIME",
       {"BEGINTIME", "ENDTIME", "LONGITUDE", "LATITUDE", "STOPADD"}},
      {ReportKind::Fatigue, "fatigue", "tireddriver", false, "BEGINTIME", {"BEGINTIME", "ENDTIME", "ADDTIME"}},
      {ReportKind::LostContact, "lostcontact", "CONTACTALARM", false, "BEGINTIME", {"BEGINTIME", "ENDTIME"}},
      {ReportKind::LineAlarms, "linealarms", "LINEALARMREPROT", false, "BEGINTIME",
       {"BEGINTIME", "ENDTIME", "TOTTIME", "REMARK"}},
  }};
  return tables;
}

const KindTable& TableOf(ReportKind kind) {
  for (const KindTable& table : KindTables()) {
    if (table.kind == kind) return table;
  }
  return KindTables().front();
}

std::string DateText(year_month_day day) {
  return fmt::format("{:04}-{:02}-{:02} 00:00:00", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                     static_cast<unsigned>(day.day()));
}

// A report's SIMID is a number column in some tables and text in others, the
// catalogue's always text: compared as text, the same on every backend.
constexpr std::string_view kSimIdText = "CAST(t.SIMID AS VARCHAR(20))";

// The day as a range of the time column: text "yyyy-mm-dd hh:mi:ss" compares
// in time order, PostgreSQL takes the literals as timestamps, and Oracle as
// dates under the session's NLS_DATE_FORMAT.
std::string WhereOfDay(const KindTable& table, const ReportQuery& query) {
  const year_month_day next{sys_days{query.day} + days{1}};
  std::string where = fmt::format(" where t.{0} >= {1} and t.{0} < {2}", table.timeColumn,
                                  SqlLiteral(DateText(query.day)), SqlLiteral(DateText(next)));
  if (!query.simId.empty()) where += fmt::format(" and {} = {}", kSimIdText, SqlLiteral(query.simId));
  return where;
}

}  // namespace

const std::vector<ReportKind>& AllReportKinds() {
  static const std::vector<ReportKind> kinds{ReportKind::Mileage, ReportKind::Speeding,    ReportKind::Parking,
                                             ReportKind::Fatigue, ReportKind::LostContact, ReportKind::LineAlarms};
  return kinds;
}

std::string_view ReportKindName(ReportKind kind) { return TableOf(kind).name; }

std::optional<ReportKind> ParseReportKind(std::string_view name) {
  for (const KindTable& table : KindTables()) {
    if (table.name == name) return table.kind;
  }
  return std::nullopt;
}

std::string ReportTableName(ReportKind kind, year_month_day day) {
  const KindTable& table = TableOf(kind);
  if (!table.monthly) return std::string(table.tableFamily);
  return fmt::format("{}{:04}{:02}", table.tableFamily, static_cast<int>(day.year()),
                     static_cast<unsigned>(day.month()));
}

ReportPage ReadReportRows(ReportDatabase& db, const ReportQuery& query) {
  const KindTable& table = TableOf(query.kind);
  ReportPage page;
  page.table = ReportTableName(query.kind, query.day);
  page.columns = {"SIMID", "LICENSEPLATE", "MOTORCADENAME"};
  for (std::string_view column : table.columns) page.columns.emplace_back(column);
  if (!IsPlainTableName(page.table) || !TableExists(db, page.table)) return page;

  const std::string where = WhereOfDay(table, query);
  {
    auto count = db.OpenQuery(fmt::format("select count(*) as n from {} t{}", page.table, where));
    if (!count->AtEnd()) page.total = std::stoul(count->Value("n").value_or("0"));
  }
  if (query.limit && *query.limit == 0) return page;

  // Every column under an alias of its own: SIMID is in both tables.
  std::string select = fmt::format("select {} as c0, v.licenseplate as c1, m.motorcadename as c2", kSimIdText);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    select += fmt::format(", t.{} as c{}", table.columns[i], i + 3);
  }
  const std::string statement = fmt::format(
      "{} from {} t left join vehicleinfo v on v.simid = {} left join motorcade m on m.motorcadeid = v.motorcadeid"
      "{} order by {}, t.{}",
      select, page.table, kSimIdText, where, kSimIdText, table.timeColumn);
  // Paged here rather than in SQL: Oracle before 12c has no OFFSET, and a
  // day's rows are few.
  auto cursor = db.OpenQuery(statement);
  std::vector<std::string> aliases;
  for (std::size_t i = 0; i < page.columns.size(); ++i) aliases.push_back(fmt::format("c{}", i));
  for (std::size_t skipped = 0; !cursor->AtEnd() && skipped < query.offset; ++skipped) cursor->Next();
  for (; !cursor->AtEnd() && (!query.limit || page.rows.size() < *query.limit); cursor->Next()) {
    std::vector<std::string> row(aliases.size());
    for (std::size_t i = 0; i < aliases.size(); ++i) cursor->ValueInto(aliases[i], row[i]);
    page.rows.push_back(std::move(row));
  }
  return page;
}

}  // namespace cuserver
