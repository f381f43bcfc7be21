#include "db/road_info.hpp"

#include <fmt/format.h>
#include <soci/soci.h>
#include <sqlite3.h>

#include "db/backend_session.hpp"
#include "db/driver_error.hpp"
#include "db/odbc/odbc.hpp"
#include "db/sqlite/sqlite.hpp"
#include "reports/sql_text.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

// The savepoint that a refused insert is undone to on PostgreSQL.
constexpr std::string_view kSavepoint = "roadinfo_insert";

std::optional<std::string> PostgresTransactionId(ReportDatabase& db) {
  return db.OpenQuery("select txid_current() as id")->Value("id");
}

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

// A refused statement inside a transaction: SQLite undoes it alone, and so
// do Oracle and psqlODBC (which runs every statement under a savepoint of its
// own, and releases ours with it); PostgreSQL refuses everything after it
// until the transaction is rolled back, so there each insert runs under a
// savepoint of ours. psqlODBC can be set to take back the whole transaction
// instead (Protocol=7.4-1, not its default 7.4-2) and go on in a new one,
// which would commit the later inserts without the earlier ones: there the
// transaction's id is compared after each refusal.
RoadInfoReplacement::RoadInfoReplacement(ReportDatabase& db)
    : db_(db), savepoints_(db.Session().RefusalEndsTransaction()) {
  try {
    transaction_ = std::make_unique<soci::transaction>(db.Native());
    if (db.GetBackend() == Backend::Odbc && OdbcDbmsOf(db.Native()) == OdbcDbms::Postgresql) {
      odbcTransactionId_ = PostgresTransactionId(db);
    }
  } catch (...) {
    RethrowAsDatabaseError(Tr("beginning the road import's transaction"));
  }
}

RoadInfoReplacement::~RoadInfoReplacement() = default;  // soci rolls back what was not committed

void RoadInfoReplacement::Clear() {
  std::string reason;
  if (ClearRoadInfo(db_, &reason) != 0) {
    throw DatabaseError(TrFormat("table roadlightmapinfo could not be emptied: {}", reason));
  }
}

std::optional<std::string> RoadInfoReplacement::Insert(RoadInfoTable table, const RoadInfo& road) {
  if (savepoints_) db_.ExecuteStatement(fmt::format("SAVEPOINT {}", kSavepoint));
  std::string reason;
  if (InsertRoadInfoRow(db_, table, road, &reason) != 0) {
    if (savepoints_) {
      db_.ExecuteStatement(fmt::format("ROLLBACK TO SAVEPOINT {}", kSavepoint));
      db_.ExecuteStatement(fmt::format("RELEASE SAVEPOINT {}", kSavepoint));
    } else if (db_.GetBackend() == Backend::Sqlite3 && sqlite3_get_autocommit(SqliteConnection(db_.Native())) != 0) {
      // A full disk or a lost lock takes the whole transaction back: going
      // on would commit the later inserts one by one.
      throw DatabaseError(TrFormat("the road import's transaction was taken back: {}", reason));
    } else if (odbcTransactionId_ && PostgresTransactionId(db_) != odbcTransactionId_) {
      throw DatabaseError(fmt::format(
          "the ODBC driver took back the whole transaction after a refused insert (set Protocol=7.4-2 in the data "
          "source): {}",
          reason));
    }
    return reason;
  }
  if (savepoints_) db_.ExecuteStatement(fmt::format("RELEASE SAVEPOINT {}", kSavepoint));
  return std::nullopt;
}

void RoadInfoReplacement::Commit() {
  try {
    transaction_->commit();
  } catch (...) {
    RethrowAsDatabaseError(Tr("committing the road import"));
  }
}

}  // namespace cuserver
