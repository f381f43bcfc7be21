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

bool VehicleDayWriter::TableExists(const std::string& table) {
  auto [it, added] = tables_.emplace(table, false);
  if (added) it->second = cuserver::TableExists(db_, table);
  return it->second;
}

VehicleDayWritten VehicleDayWriter::Write(const std::string& simId, std::vector<RecordingSink::Statement> statements,
                                          Diagnostics& diagnostics, const TrackQuality* quality) {
  const auto old = previous_.bySimId.find(simId);
  const bool hadEntry = old != previous_.bySimId.end();
  VehicleDayRows earlierRows;
  std::vector<const RowImage*> earlier;
  if (hadEntry) {
    earlierRows = VehicleDayRows::Parse(old->second);  // it was read once already
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
  const std::vector<StatementResult> results = store_.Write(earlier, rows, closing);

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
