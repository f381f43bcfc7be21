#pragma once

#include "db/session.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"

namespace cuserver {

// Writes each row through the session as it comes, its values bound; a
// refused row is recorded on the diagnostics with table, SIMID and the
// driver's reason.
class DbRowSink : public RowSink {
 public:
  DbRowSink(ReportDatabase& db, Diagnostics& diagnostics) : db_(db), diagnostics_(diagnostics) {}
  bool Write(ReportRow row, std::string_view simId) override;

 private:
  ReportDatabase& db_;
  Diagnostics& diagnostics_;
};

// Reads fixes back from the GPS day tables for the track distance.
class DbFixReader : public FixReader {
 public:
  explicit DbFixReader(ReportDatabase& db) : db_(db) {}
  void ForEachFix(const std::string& query, const RowFunction& onRow) override;

 private:
  std::string EqualTimesOrderOf(const std::string& query);

  ReportDatabase& db_;
};

}  // namespace cuserver
