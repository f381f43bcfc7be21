#include "app/simulate/simulator.hpp"

#include <fmt/format.h>
#include <soci/soci.h>

#include <random>
#include <vector>

#include "app/simulate/map_files.hpp"
#include "app/simulate/ownership.hpp"
#include "app/simulate/road_network.hpp"
#include "app/simulate/vehicle_day.hpp"
#include "db/postgresql/pg_copy.hpp"
#include "db/schema.hpp"
#include "reports/sql_text.hpp"

namespace cuserver::sim {
namespace {

constexpr int kFleets = 5;
constexpr std::size_t kBatchRows = 20000;

std::string TimeText(const std::string& dayKey, int secondOfDay) {
  return fmt::format("{}-{}-{} {:02}:{:02}:{:02}", dayKey.substr(0, 4), dayKey.substr(4, 2), dayKey.substr(6, 2),
                     secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
}

VehicleKind KindOf(int index) {
  if (index % 33 == 5) return VehicleKind::Silent;
  if (index % 10 == 3) return VehicleKind::WithGap;
  if (index % 10 == 7) return VehicleKind::LongDrive;
  return VehicleKind::Normal;
}

// Buffers fixes and sends them as bulk inserts; to PostgreSQL with COPY, as
// SOCI sends a bound array to it one row per round trip.
class FixWriter {
 public:
  FixWriter(ReportDatabase& db, const std::string& table)
      : db_(db), sql_(db.Native()), table_(table), copy_(db.GetBackend() == Backend::Postgresql) {}

  void Add(const std::string& simId, const std::string& time, const SimFix& fix) {
    if (copy_) {
      AddCopyRow(simId, time, fix);
      return;
    }
    simIds_.push_back(simId);
    times_.push_back(time);
    longitudes_.push_back(fix.longitude);
    longitudeNull_.push_back(fix.longitudeMissing ? soci::i_null : soci::i_ok);
    latitudes_.push_back(fix.latitude);
    speeds_.push_back(fix.speed);
    speedNull_.push_back(fix.speedMissing ? soci::i_null : soci::i_ok);
    alarms_.push_back("0");
    if (simIds_.size() >= kBatchRows) Flush();
  }

  void Flush() {
    if (copy_) {
      if (copyRows_ > 0) {
        PostgresCopyIn(db_, "COPY " + table_ + " (SIMID,time,longitude,latitude,speed,ALARMSTATE) FROM STDIN",
                       copyText_);
      }
      copyText_.clear();
      copyRows_ = 0;
      return;
    }
    if (simIds_.empty()) return;
    sql_ << "insert into " + table_ + " (SIMID,time,longitude,latitude,speed,ALARMSTATE) values(:s,:t,:x,:y,:v,:a)",
        soci::use(simIds_), soci::use(times_), soci::use(longitudes_, longitudeNull_), soci::use(latitudes_),
        soci::use(speeds_, speedNull_), soci::use(alarms_);
    simIds_.clear();
    times_.clear();
    longitudes_.clear();
    longitudeNull_.clear();
    latitudes_.clear();
    speeds_.clear();
    speedNull_.clear();
    alarms_.clear();
  }

 private:
  // COPY's text format; simulated SIMIDs and times hold no tab, newline or backslash.
  void AddCopyRow(const std::string& simId, const std::string& time, const SimFix& fix) {
    const auto number = [](bool missing, double value) { return missing ? std::string("\\N") : fmt::format("{}", value); };
    copyText_ += fmt::format("{}\t{}\t{}\t{}\t{}\t0\n", simId, time, number(fix.longitudeMissing, fix.longitude),
                             number(false, fix.latitude), number(fix.speedMissing, fix.speed));
    if (++copyRows_ >= kBatchRows) Flush();
  }

  ReportDatabase& db_;
  soci::session& sql_;
  std::string table_;
  bool copy_;
  std::string copyText_;
  std::size_t copyRows_ = 0;
  std::vector<std::string> simIds_, times_, alarms_;
  std::vector<double> longitudes_, latitudes_, speeds_;
  std::vector<soci::indicator> longitudeNull_, speedNull_;
};

// Returns, per vehicle, the highway of its speed area, or -1 without one.
std::vector<int> ReplaceCatalogue(ReportDatabase& db, const SimulationOptions& options, const RoadNetwork& net,
                                  std::mt19937_64& rng, SimulationSummary& summary) {
  std::vector<int> areaHighway(static_cast<std::size_t>(options.vehicles), -1);
  const std::string first = SimulatedSimId(0);
  const std::string last = SimulatedSimId(9999999);
  db.ExecuteStatement(fmt::format("delete from vehicleinfo where simid>='{}' and simid<='{}'", first, last));
  db.ExecuteStatement(fmt::format("delete from areaspeed where simid>='{}' and simid<='{}'", first, last));
  for (int f = 0; f < kFleets; ++f) {
    // motorcadeid is text: compared as text, as PostgreSQL insists.
    db.ExecuteStatement(fmt::format("delete from motorcade where motorcadeid='{}'", 9001 + f));
  }
  for (int f = 0; f < kFleets; ++f) {
    db.ExecuteStatement(fmt::format("insert into motorcade (motorcadeid,motorcadename)values({},'{}')", 9001 + f,
                                    SqlValue(fmt::format("模拟车队{}", f + 1))));
  }
  for (int i = 0; i < options.vehicles; ++i) {
    const std::string simId = SimulatedSimId(i);
    // Some vehicles carry their own limits; some have none (NULL) or unusable ones.
    std::string alarm = "NULL", highAlarm = "NULL";
    if (i % 4 == 1) alarm = "70", highAlarm = "110";
    if (i % 4 == 2) alarm = "10", highAlarm = "100";
    db.ExecuteStatement(fmt::format(
        "insert into vehicleinfo (simid,licenseplate,motorcadeid,alarmspeed,highalarmspeed)values('{}',{},{},{},{})",
        simId, i % 9 == 4 ? "NULL" : fmt::format("'云A{:05}'", i), 9001 + i % kFleets, alarm, highAlarm));
    if (options.areaEntryEvery > 0 && i % options.areaEntryEvery == 0 && !net.areas.empty()) {
      const auto& area = net.areas[rng() % net.areas.size()];
      db.ExecuteStatement(fmt::format(
          "insert into areaspeed (simid,areakey,areaname,speedlimit)values('{}','{}','{}','{}')", simId,
          fmt::format("A{}", &area - net.areas.data() + 1), SqlValue(area.name), "60"));
      ++summary.areaEntries;
      areaHighway[static_cast<std::size_t>(i)] = area.highway;
    }
  }
  return areaHighway;
}

}  // namespace

std::string SimulatedSimId(int index) { return fmt::format("1390{:07}", index); }

SimulationSummary Simulate(ReportDatabase& db, const std::filesystem::path& highwayFolder,
                           const SimulationOptions& options) {
  SimulationSummary summary;
  std::mt19937_64 rng(options.seed);
  const RoadNetwork net = GenerateRoadNetwork(options.seed, {options.highwaySegments, options.areas, 40});
  // Marked first: a simulation cut off halfway leaves what simulate may redo.
  if (options.markMapFolder) MarkMapFolder(highwayFolder);
  WriteMapFiles(highwayFolder, net);
  summary.highwaySegments = options.highwaySegments;
  summary.areas = static_cast<int>(net.areas.size());

  InitDatabase(db);
  if (options.markDatabase) MarkDatabase(db, options.dayKey, options.vehicles);
  CreateGpsDayTable(db, options.dayKey);
  const std::string table = "GPSDATA" + options.dayKey;

  soci::session& sql = db.Native();
  soci::transaction tx(sql);
  const std::vector<int> areaHighway = ReplaceCatalogue(db, options, net, rng, summary);
  db.ExecuteStatement(fmt::format("delete from {} where SIMID>='{}' and SIMID<='{}'", table, SimulatedSimId(0),
                                  SimulatedSimId(9999999)));

  std::vector<HighwayPath> paths;
  paths.reserve(net.highways.size());
  for (const auto& line : net.highways) paths.emplace_back(line);

  FixWriter writer(db, table);
  for (int i = 0; i < options.vehicles; ++i) {
    VehiclePlan plan;
    plan.kind = KindOf(i);
    plan.intervalSeconds = options.intervalSeconds;
    plan.reportsWhileParked = options.allDay;
    // A few terminals send the odd fix without speed or longitude.
    if (i % 25 == 11) plan.malformedShare = 0.002;
    // Vehicles with an area entry drive the highway their area lies on.
    const int own = areaHighway[static_cast<std::size_t>(i)];
    plan.homeHighway = own >= 0 ? own : static_cast<int>(rng() % paths.size());
    std::mt19937_64 vehicleRng(options.seed * 1000003ULL + static_cast<std::uint64_t>(i));
    const auto fixes = SimulateVehicleDay(paths, plan, vehicleRng);
    if (fixes.empty()) ++summary.silentVehicles;
    const std::string simId = SimulatedSimId(i);
    for (const auto& fix : fixes) writer.Add(simId, TimeText(options.dayKey, fix.secondOfDay), fix);
    summary.fixes += static_cast<long long>(fixes.size());
  }
  writer.Flush();
  tx.commit();
  summary.vehicles = options.vehicles;
  return summary;
}

}  // namespace cuserver::sim
