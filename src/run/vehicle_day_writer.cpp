#include "run/vehicle_day_writer.hpp"

#include <fmt/format.h>

#include <optional>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/row_statements.hpp"

namespace cuserver {

PreviousRows PreviousRows::Load(ReportDatabase& db, std::string_view command, std::string_view dayKey,
                                Diagnostics& diagnostics) {
  PreviousRows previous{std::string(command), std::string(dayKey), {}};
  Ledger ledger(db);
  std::set<std::string> indexed;
  for (auto& [simId, text] : ledger.VehicleDayRows(command, dayKey)) {
    try {
      VehicleDayRows rows = VehicleDayRows::Parse(text);
      for (const RowImage& row : rows.Rows()) {
        if (indexed.insert(row.table).second) EnsureVehicleIndex(db, row);
      }
      previous.bySimId.emplace(simId, std::move(text));
    } catch (const std::exception& error) {
      diagnostics.Info(fmt::format("day {}: the ledger entry of vehicle {} cannot be read, its earlier rows stay: {}",
                                   dayKey, simId, error.what()));
    }
  }
  return previous;
}

VehicleDayWriter::VehicleDayWriter(ReportDatabase& db, VehicleDayStore& store, const PreviousRows& previous)
    : db_(db), store_(store), previous_(previous), types_(db, DialectOf(db)) {}

void VehicleDayWriter::ReadEntryAgain(const std::string& simId) {
  readAgain_[simId] = Ledger(db_).VehicleDayEntry(previous_.command, previous_.dayKey, simId);
}

bool VehicleDayWriter::TableExists(const std::string& table) {
  auto [it, added] = tables_.emplace(table, false);
  if (added) it->second = cuserver::TableExists(db_, table);
  return it->second;
}

VehicleDayWritten VehicleDayWriter::Write(const std::string& simId, std::vector<ReportRow> rows,
                                          Diagnostics& diagnostics, const TrackQuality* quality) {
  const std::string* entry = nullptr;
  if (const auto again = readAgain_.find(simId); again != readAgain_.end()) {
    if (again->second) entry = &*again->second;
  } else if (const auto old = previous_.bySimId.find(simId); old != previous_.bySimId.end()) {
    entry = &old->second;
  }
  const bool hadEntry = entry != nullptr;
  VehicleDayRows earlierRows;
  std::vector<const RowImage*> earlier;
  if (hadEntry) {
    earlierRows = VehicleDayRows::Parse(*entry);
    for (const RowImage& row : earlierRows.Rows()) {
      // A table dropped since holds none of the rows any more.
      if (TableExists(row.table)) earlier.push_back(&row);
    }
  }
  // The ledger keeps each row as written, an empty text as an empty text.
  std::vector<std::optional<RowImage>> inserts;
  inserts.reserve(rows.size());
  bool anyUpdate = false;
  for (ReportRow& row : rows) {
    inserts.push_back(row.action == RowAction::Insert ? std::optional(ImageOf(row)) : std::nullopt);
    anyUpdate = anyUpdate || row.action == RowAction::Update;
    row = WithEmptyTextAsNull(std::move(row), types_);
  }
  Ledger ledger(db_);
  int written = 0;
  const auto closing = [&](const std::vector<StatementResult>& results) {
    written = 0;
    std::vector<const RowImage*> kept;
    kept.reserve(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (!results[i].written || !inserts[i]) continue;
      kept.push_back(&*inserts[i]);
      ++written;
    }
    std::string serialised;
    if (anyUpdate) {
      // Completions (road-segment alarms) change rows written before them.
      VehicleDayRows images;
      for (std::size_t i = 0; i < results.size(); ++i) {
        if (!results[i].written) continue;
        if (inserts[i]) {
          images.Add(*inserts[i]);
        } else if (rows[i].action == RowAction::Update) {
          images.Apply(UpdateOf(rows[i]));
        }
      }
      serialised = images.Serialise();
    } else {
      serialised = VehicleDayRows::Serialise(kept);
    }
    return ledger.ReplaceVehicleDayRows(previous_.command, previous_.dayKey, simId, written, serialised, hadEntry,
                                        quality);
  };
  const std::vector<StatementResult> results = store_.Write(earlier, rows, closing, BlockOwner{simId});
  VehicleDayWritten outcome;
  outcome.rows = written;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (results[i].written) {
      if (inserts[i]) ++outcome.rowsByTable[rows[i].table];
      continue;
    }
    ++outcome.refused;
    diagnostics.RowRefused(rows[i].table, simId, results[i].reason);
  }
  return outcome;
}

}  // namespace cuserver
