#include "db/adapters.hpp"

#include "db/row_statements.hpp"

namespace cuserver {

bool DbRowSink::Write(ReportRow row, std::string_view simId) {
  const std::string_view table = row.table;
  try {
    ExecuteRow(db_, row);
    return true;
  } catch (const DatabaseError& e) {
    diagnostics_.RowRefused(table, simId, DatabaseErrorText(e));
  } catch (const std::exception& e) {
    diagnostics_.RowRefused(table, simId, e.what());
  }
  return false;
}

// Queries that end ordered by time get the table's order of equal times.
std::string DbFixReader::EqualTimesOrderOf(const std::string& query) {
  constexpr std::string_view kFrom = "select * from ";
  if (!query.starts_with(kFrom) || !query.ends_with("order by time asc")) return {};
  const std::size_t end = query.find(' ', kFrom.size());
  if (end == std::string::npos) return {};
  return db_.EqualTimesOrder(std::string_view(query).substr(kFrom.size(), end - kFrom.size()));
}

void DbFixReader::ForEachFix(const std::string& query, const RowFunction& onRow) {
  std::unique_ptr<Cursor> cursor;
  try {
    cursor = db_.OpenQuery(query + EqualTimesOrderOf(query));
  } catch (const DatabaseError& e) {
    throw QueryOpenError(DatabaseErrorText(e));
  }
  for (; !cursor->AtEnd(); cursor->Next()) {
    const std::string longitude = cursor->Value("longitude").value_or(std::string());
    const std::string latitude = cursor->Value("latitude").value_or(std::string());
    onRow(longitude, latitude);
  }
  cursor->Close();
}

}  // namespace cuserver
