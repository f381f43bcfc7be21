#include "db/adapters.hpp"

namespace cuserver {

bool DbStatementSink::Execute(const std::string& statement, std::string_view table, std::string_view simId) {
  try {
    db_.ExecuteStatement(statement);
    return true;
  } catch (const DatabaseError& e) {
    diagnostics_.RowRefused(table, simId, DatabaseErrorText(e));
  } catch (const std::exception& e) {
    diagnostics_.RowRefused(table, simId, e.what());
  }
  return false;
}

void DbFixReader::ForEachFix(const std::string& query, const RowFunction& onRow) {
  std::unique_ptr<Cursor> cursor;
  try {
    cursor = db_.OpenQuery(query);
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
