#pragma once

// Small stand-ins for the ports, so that each report runs on a handmade track.

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "reports/diagnostics.hpp"
#include "reports/ports.hpp"
#include "reports/report_context.hpp"
#include "reports/track.hpp"

namespace cuserver::testing {

struct RecordedStatement {
  std::string text;
  std::string table;
  std::string simId;
};

// Keeps every row as the statement text it stands for (so that the tests
// compare what was always written, byte for byte); refuses those the
// predicate names, recording them as the database adapter does.
class RecordingSink : public RowSink {
 public:
  explicit RecordingSink(Diagnostics& diagnostics) : diagnostics_(diagnostics) {}

  bool Write(ReportRow row, std::string_view simId) override {
    const std::string statement = RowStatementText(row);
    const std::string_view table = row.table;
    if (refuse && refuse(statement)) {
      diagnostics_.RowRefused(table, simId, "refused by the test");
      return false;
    }
    statements.push_back({statement, std::string(table), std::string(simId)});
    return true;
  }

  std::vector<RecordedStatement> statements;
  std::function<bool(const std::string&)> refuse;

 private:
  Diagnostics& diagnostics_;
};

struct FixPosition {
  std::string longitude;
  std::string latitude;
};

// Answers each query with the rows scripted for it; an unknown query is a
// missing day table. Every query asked is kept.
class ScriptedFixReader : public FixReader {
 public:
  void ForEachFix(const std::string& query, const RowFunction& onRow) override {
    queries.push_back(query);
    if (failWhileReading) throw std::runtime_error("connection lost while reading");
    auto it = rows.find(query);
    if (it == rows.end()) throw QueryOpenError("no such table");
    for (const auto& row : it->second) onRow(row.longitude, row.latitude);
  }

  std::map<std::string, std::vector<FixPosition>> rows;
  std::vector<std::string> queries;
  bool failWhileReading = false;
};

// Highway and area answers by position; distances by a formula. Counts calls.
class ScriptedGeo : public GeoServices {
 public:
  int IsOnHighway(double latitude, double longitude) override {
    ++highwayCalls;
    return onHighway ? onHighway(latitude, longitude) : 0;
  }
  std::string AreaNameAt(double latitude, double longitude) override {
    ++areaCalls;
    return areaAt ? areaAt(latitude, longitude) : "区域外面";
  }
  double DistanceMetres(double longitude1, double latitude1, double longitude2, double latitude2) override {
    ++distanceCalls;
    if (distanceFails) throw std::runtime_error("distance service failed");
    return distance ? distance(longitude1, latitude1, longitude2, latitude2) : 0.0;
  }

  std::function<int(double latitude, double longitude)> onHighway;
  std::function<std::string(double latitude, double longitude)> areaAt;
  // Defaults to nothing; tests that measure set it.
  std::function<double(double, double, double, double)> distance;
  bool distanceFails = false;
  int highwayCalls = 0;
  int areaCalls = 0;
  int distanceCalls = 0;
};

// One fix of a handmade track; longitude and latitude default to the origin.
struct Fix {
  std::string time;
  std::string speed;
  std::string longitude = "116.397";
  std::string latitude = "39.908";
};

inline void LoadTrack(TrackBuffer& track, const std::vector<Fix>& fixes, const std::string& simId = "13900000001") {
  track.Clear();
  for (const auto& fix : fixes) {
    TrackPoint& slot = track.Append();
    slot.time = fix.time;
    slot.longitude = fix.longitude;
    slot.latitude = fix.latitude;
    slot.simId = simId;
    slot.speed = fix.speed;
    slot.alarmState.assign(1, '0');  // not = "0": GCC 12 -O3 warns falsely (-Wrestrict)
  }
}

// A day "2014-03-19" and a time of day in seconds -> track time.
std::string TrackTime(int secondsOfDay, const std::string& day = "2014-03-19");

// Everything a report needs, wired to the fakes.
struct ReportBench {
  ReportBench();
  ReportContext Context();
  std::vector<std::string> Statements() const;

  std::vector<std::string> diagnosticLines;
  Diagnostics diagnostics;
  RecordingSink sink;
  ScriptedFixReader fixes;
  ScriptedGeo geo;
  SpeedLimitTable speedLimits;
  TrackBuffer track;
  std::filesystem::path settingsFile;
};

}  // namespace cuserver::testing
