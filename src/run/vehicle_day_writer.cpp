#include "run/vehicle_day_writer.hpp"

#include <fmt/format.h>

#include <optional>

#include "db/dialect.hpp"
#include "db/ledger.hpp"

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

VehicleDayWritten VehicleDayWriter::Write(const std::string& simId, std::vector<RecordingSink::Statement> statements,
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

  // Each statement as it is sent, with the row it writes or the update it makes.
  std::vector<std::string> rows;
  std::vector<std::optional<RowImage>> inserts;
  std::vector<std::optional<RowUpdate>> updates;
  rows.reserve(statements.size());
  for (RecordingSink::Statement& statement : statements) {
    std::optional<RowImage> insert = ParseInsert(statement.text);
    std::optional<RowUpdate> update;
    if (insert) {
      if (auto withNulls = EmptyTextAsNull(statement.text, *insert, types_)) statement.text = std::move(*withNulls);
    } else {
      update = ParseUpdate(statement.text);
    }
    rows.push_back(statement.text);
    inserts.push_back(std::move(insert));
    updates.push_back(std::move(update));
  }

  Ledger ledger(db_);
  int written = 0;
  const auto closing = [&](const std::vector<StatementResult>& results) {
    written = 0;
    bool anyUpdate = false;
    std::vector<const RowImage*> kept;
    kept.reserve(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (!results[i].written) continue;
      if (inserts[i]) {
        kept.push_back(&*inserts[i]);
        ++written;
      }
      anyUpdate = anyUpdate || updates[i].has_value();
    }
    std::string serialised;
    if (anyUpdate) {
      // Completions (road-segment alarms) change rows written before them.
      VehicleDayRows rows;
      for (std::size_t i = 0; i < results.size(); ++i) {
        if (!results[i].written) continue;
        if (inserts[i]) rows.Add(*inserts[i]);
        if (updates[i]) rows.Apply(*updates[i]);
      }
      serialised = rows.Serialise();
    } else {
      serialised = VehicleDayRows::Serialise(kept);
    }
    return ledger.ReplaceVehicleDayStatements(previous_.command, previous_.dayKey, simId, written, serialised,
                                              hadEntry, quality);
  };
  BlockOwner owner{simId, {}};
  owner.tables.reserve(statements.size());
  for (const RecordingSink::Statement& statement : statements) owner.tables.push_back(statement.table);
  const std::vector<StatementResult> results = store_.Write(earlier, rows, closing, owner);

  VehicleDayWritten outcome;
  outcome.rows = written;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (results[i].written) {
      if (inserts[i]) ++outcome.rowsByTable[statements[i].table];
      continue;
    }
    ++outcome.refused;
    diagnostics.RowRefused(statements[i].table, statements[i].simId, results[i].reason);
  }
  return outcome;
}

}  // namespace cuserver
