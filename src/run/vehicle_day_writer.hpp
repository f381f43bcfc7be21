#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/row_images.hpp"
#include "db/session.hpp"
#include "db/vehicle_day_store.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/track_quality.hpp"

namespace cuserver {

// Holds the rows of a vehicle's reports until the vehicle is done, so that
// they are written together, in place of the vehicle's earlier rows.
class RecordingSink : public RowSink {
 public:
  // Always true: the row is written, or its refusal recorded, when the
  // vehicle's rows are written.
  bool Write(ReportRow row, std::string_view simId) override {
    (void)simId;  // a vehicle's rows are written under its SIMID
    rows_.push_back(std::move(row));
    return true;
  }
  std::vector<ReportRow> Take() { return std::exchange(rows_, {}); }
  void Clear() { rows_.clear(); }

 private:
  std::vector<ReportRow> rows_;
};

// What one command's day wrote before: per SIMID the rows of its ledger entry.
struct PreviousRows {
  std::string command;  // kDayRunCommand or kLineAlarmCommand
  std::string dayKey;
  // Each vehicle's ledger entry as stored (VehicleDayRows::Parse reads it):
  // held as text, which takes a tenth of the memory of the rows read, so that
  // a fleet of any size is held; read again when its vehicle is written.
  std::map<std::string, std::string> bySimId;

  // Reads the day's ledger entries, and makes sure the tables they name have
  // the index a removal needs. An entry that cannot be read is told on the
  // diagnostics and left out (its rows stay).
  static PreviousRows Load(ReportDatabase& db, std::string_view command, std::string_view dayKey,
                           Diagnostics& diagnostics);
};

struct VehicleDayWritten {
  int rows = 0;     // rows the database took
  int refused = 0;  // rows it refused (recorded on the diagnostics)
  std::map<std::string, int> rowsByTable;  // the rows taken, per table
};

// Writes one vehicle's recorded rows in place of the rows recorded for
// it before, with its new ledger entry, as one transaction where the backend
// allows. Only the rows this system recorded are removed, each matched by all
// its values, one stored row per recorded row. A session of its own per
// worker: not for several threads.
class VehicleDayWriter {
 public:
  VehicleDayWriter(ReportDatabase& db, VehicleDayStore& store, const PreviousRows& previous);

  // Throws DatabaseError when the vehicle-day could not be written; its
  // earlier rows then stand.
  // With `quality`, the ledger entry keeps what the vehicle's tracker sent.
  VehicleDayWritten Write(const std::string& simId, std::vector<ReportRow> rows,
                          Diagnostics& diagnostics, const TrackQuality* quality = nullptr);

  // Reads the vehicle's ledger entry again, to stand for its earlier rows in
  // place of the one read at the run's start. When the connection was lost
  // around a vehicle-day's commit, only the database knows whether it took:
  // had it, its rows would otherwise go in a second time. Throws
  // DatabaseError.
  void ReadEntryAgain(const std::string& simId);

 private:
  bool TableExists(const std::string& table);

  ReportDatabase& db_;
  VehicleDayStore& store_;
  const PreviousRows& previous_;
  ColumnTypes types_;
  std::map<std::string, bool> tables_;
  std::map<std::string, std::optional<std::string>> readAgain_;  // by SIMID; nullopt: no entry
};

}  // namespace cuserver
