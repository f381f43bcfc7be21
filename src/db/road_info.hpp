#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/session.hpp"

namespace soci {
class transaction;
}

namespace cuserver {

// One road of the road-information tables, every value as text.
struct RoadInfo {
  std::string mainCode;       // mainnumber
  std::string secondaryCode;  // senumber
  std::string thirdCode;      // thirdnumber
  std::string name;           // roadname
  std::string district;       // belongarea
};

// The three tables, which receive identical rows.
enum class RoadInfoTable { Info, Main, Se };
inline constexpr RoadInfoTable kRoadInfoTables[] = {RoadInfoTable::Info, RoadInfoTable::Main,
                                                    RoadInfoTable::Se};

// "roadlightmapinfo", "roadlightmapinfomain", "roadlightmapinfose".
std::string_view RoadInfoTableName(RoadInfoTable table);

// The table's insert with the road's values (quotes doubled).
std::string RoadInfoInsert(RoadInfoTable table, const RoadInfo& road);

// "delete from roadlightmapinfo". 0, or -1 on a database error, whose text
// goes to *reason when given.
int ClearRoadInfo(ReportDatabase& db, std::string* reason = nullptr);

// Inserts the road into one table. 0, or -1 on a database error, whose text
// goes to *reason when given.
int InsertRoadInfoRow(ReportDatabase& db, RoadInfoTable table, const RoadInfo& road,
                      std::string* reason = nullptr);

// The replacement of roadlightmapinfo, and the rows added to
// roadlightmapinfomain and roadlightmapinfose, as one transaction: until
// Commit nothing is visible, and a replacement dropped without Commit (or a
// failed Commit) leaves all three tables as they were. Each insert stands by
// itself: one that a table refuses has no effect and takes back nothing else,
// neither the road's rows in the other tables nor earlier roads.
class RoadInfoReplacement {
 public:
  // Begins the transaction. Throws DatabaseError.
  explicit RoadInfoReplacement(ReportDatabase& db);
  ~RoadInfoReplacement();
  RoadInfoReplacement(const RoadInfoReplacement&) = delete;
  RoadInfoReplacement& operator=(const RoadInfoReplacement&) = delete;

  // Deletes every row of roadlightmapinfo. Throws DatabaseError.
  void Clear();
  // Inserts the road into one table; the driver's message when the table
  // refuses it. Throws DatabaseError when the transaction itself fails.
  std::optional<std::string> Insert(RoadInfoTable table, const RoadInfo& road);
  // Throws DatabaseError; the tables are then as they were before.
  void Commit();

 private:
  ReportDatabase& db_;
  std::unique_ptr<soci::transaction> transaction_;
  bool savepoints_;
  std::optional<std::string> odbcTransactionId_;  // PostgreSQL's, through psqlODBC
};

}  // namespace cuserver
