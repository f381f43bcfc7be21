#include "db/road_info.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include "db/driver_error.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

// Savepoints undo one road's rows; PostgreSQL also needs one to go on after
// a refused statement inside a transaction.
constexpr std::string_view kSavepoint = "roadinfo_road";

}  // namespace

std::string_view RoadInfoTableName(RoadInfoTable table) {
  switch (table) {
    case RoadInfoTable::Info: return "roadlightmapinfo";
    case RoadInfoTable::Main: return "roadlightmapinfomain";
    case RoadInfoTable::Se: return "roadlightmapinfose";
  }
  return "roadlightmapinfo";
}

std::string RoadInfoInsert(RoadInfoTable table, const RoadInfo& road) {
  return fmt::format(
      "insert into {} (mainnumber,senumber,thirdnumber,roadname,belongarea)values('{}','{}','{}','{}','{}')",
      RoadInfoTableName(table), SqlValue(road.mainCode), SqlValue(road.secondaryCode), SqlValue(road.thirdCode),
      SqlValue(road.name), SqlValue(road.district));
}

int ClearRoadInfo(ReportDatabase& db, std::string* reason) {
  try {
    db.ExecuteStatement("delete from roadlightmapinfo");
    return 0;
  } catch (const DatabaseError& error) {
    if (reason != nullptr) *reason = DatabaseErrorText(error);
  }
  return -1;
}

int InsertRoadInfoRow(ReportDatabase& db, RoadInfoTable table, const RoadInfo& road, std::string* reason) {
  try {
    db.ExecuteStatement(RoadInfoInsert(table, road));
    return 0;
  } catch (const DatabaseError& error) {
    if (reason != nullptr) *reason = DatabaseErrorText(error);
  }
  return -1;
}

// Through ODBC no savepoint of our own survives: psqlODBC wraps every
// statement in a savepoint of its own and releases it after the statement,
// which releases ours with it. There the driver (or Oracle itself) undoes a
// refused statement alone.
RoadInfoReplacement::RoadInfoReplacement(ReportDatabase& db)
    : db_(db), savepoints_(db.GetBackend() != Backend::Odbc) {
  try {
    transaction_ = std::make_unique<soci::transaction>(db.Native());
  } catch (...) {
    RethrowAsDatabaseError("beginning the road import's transaction");
  }
}

RoadInfoReplacement::~RoadInfoReplacement() = default;  // soci rolls back what was not committed

void RoadInfoReplacement::Clear() {
  std::string reason;
  if (ClearRoadInfo(db_, &reason) != 0) {
    throw DatabaseError(fmt::format("table roadlightmapinfo could not be emptied: {}", reason));
  }
}

std::optional<RoadRefusal> RoadInfoReplacement::AddRoad(const RoadInfo& road) {
  if (savepoints_) db_.ExecuteStatement(fmt::format("SAVEPOINT {}", kSavepoint));
  for (RoadInfoTable table : kRoadInfoTables) {
    std::string reason;
    if (InsertRoadInfoRow(db_, table, road, &reason) != 0) {
      if (savepoints_) {
        db_.ExecuteStatement(fmt::format("ROLLBACK TO SAVEPOINT {}", kSavepoint));
        db_.ExecuteStatement(fmt::format("RELEASE SAVEPOINT {}", kSavepoint));
      }
      return RoadRefusal{table, reason};
    }
  }
  if (savepoints_) db_.ExecuteStatement(fmt::format("RELEASE SAVEPOINT {}", kSavepoint));
  return std::nullopt;
}

void RoadInfoReplacement::Commit() {
  try {
    transaction_->commit();
  } catch (...) {
    RethrowAsDatabaseError("committing the road import");
  }
}

}  // namespace cuserver
