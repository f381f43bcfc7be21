#pragma once

#include <functional>
#include <memory>

#include "db/vehicle_day_store.hpp"

namespace cuserver {

// How a session's driver takes a vehicle-day best.
struct SessionStoreWays {
  // The driver runs statements separated by ';' as one query (psqlODBC): a
  // vehicle-day goes in one round trip, as literals.
  bool joinsStatements = false;
  // A table's rows go in one insert (MySQL), row by row when one is refused.
  bool mergesTableRuns = false;
  // Such an insert carries its values as literals (MariaDB's ODBC driver
  // answers a refused bound row as written; its statements of literals it
  // answers truly).
  bool literalRuns = false;
  // Whether a failed statement took the session's whole transaction back
  // (MySQL on a deadlock), besides a lost connection.
  std::function<bool(ReportDatabase&, const DatabaseError&)> transactionLost;
};

// A vehicle-day as a transaction of the session's driver: its earlier rows
// removed, each row on its own unless the ways allow more (a refused row is
// taken back alone by the drivers: Oracle always, psqlODBC by its own
// savepoints, MySQL's InnoDB), then the closing rows.
std::unique_ptr<VehicleDayStore> MakeSessionStore(ReportDatabase& db, SessionStoreWays ways);

}  // namespace cuserver
