// The database server crashes in the middle of a day run. Registered to run
// alone: it stops the server that every other test uses.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "server_fleet_day.hpp"
#include "support/pg_server.hpp"

namespace cuserver {
namespace {

// The map, which at its n-th question crashes the database server.
class CrashingGeo : public GeoServices {
 public:
  CrashingGeo(GeoServices& map, int crashAt) : map_(map), crashAt_(crashAt) {}
  int IsOnHighway(double latitude, double longitude) override {
    if (++questions_ == crashAt_) {
      crashed_ = test::StopPgServer() == 0;
      std::lock_guard lock(mutex_);
      crashChanged_.notify_all();
    }
    return map_.IsOnHighway(latitude, longitude);
  }
  // Waits until the server has been crashed; false when `stop` was asked first.
  bool WaitForCrash(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    return crashChanged_.wait(lock, stop, [this] { return crashed_.load(); });
  }
  std::string AreaNameAt(double latitude, double longitude) override { return map_.AreaNameAt(latitude, longitude); }
  double DistanceMetres(double a, double b, double c, double d) override { return map_.DistanceMetres(a, b, c, d); }
  bool Crashed() const { return crashed_; }

 private:
  GeoServices& map_;
  int crashAt_;
  std::atomic<int> questions_{0};
  std::atomic<bool> crashed_{false};
  std::mutex mutex_;
  std::condition_variable_any crashChanged_;
};

class ServerCrash : public test::ServerFleetDay {
 protected:
  void SetUp() override {
    ServerFleetDay::SetUp();
    if (IsSkipped()) return;
    ASSERT_FALSE(test::PgServerFolder().empty()) << "the server's folder (CUSERVER_PG_DIR) is needed to stop it";
    // The test server acknowledges commits before they reach its disk; the
    // runs here wait for the disk, as a production server does, and the
    // fleet is on disk before the crash.
    settings_ = database_->Settings();
    const auto options_at = settings_.dataSource.find("options='");
    settings_.dataSource.insert(options_at + 9, "-c synchronous_commit=on ");
    database_->Execute("CHECKPOINT");
  }

  DayRunCounts Run(GeoServices& geo, int reconnectSeconds) {
    ConnectionSettings settings = settings_;
    settings.reconnectSeconds = reconnectSeconds;
    return RunDay(settings, geo);
  }

  std::vector<std::vector<std::string>> ReportRows() { return ServerFleetDay::ReportRows(settings_); }

  // What one clean run writes into empty tables.
  std::vector<std::vector<std::string>> CleanRunRows() {
    ReportDatabase db;
    db.OpenReportSession(settings_);
    for (const auto& table : kReportTables) db.ExecuteStatement("delete from " + table);
    db.ExecuteStatement("delete from cuserver_vehicle_days");
    Run(*map_, 0);
    return ReportRows();
  }

  // Started again before the base's database is dropped.
  test::PgServerRunningAtTheEnd running_;
  ConnectionSettings settings_;
};

// The server comes back within ReconnectSeconds: the run reopens its session
// and goes on from the vehicle that failed.
TEST_F(ServerCrash, RunThatOutlivesTheCrashWritesExactlyTheRowsOfOneCleanRun) {
  Run(*map_, 0);  // a first computation, which the crashed re-run replaces
  CrashingGeo geo(*map_, 2000);
  // Started again as soon as it has crashed: the run's session is cut all
  // the same and has to be opened again.
  std::jthread restarter([&geo](std::stop_token stop) {
    if (geo.WaitForCrash(stop)) test::StartPgServer();
  });
  const DayRunCounts counts = Run(geo, 120);
  restarter.request_stop();
  restarter.join();
  ASSERT_TRUE(geo.Crashed());
  EXPECT_EQ(counts.outcome, DayOutcome::Complete) << counts.detail;
  EXPECT_EQ(counts.lost, 0);
  const auto afterCrash = ReportRows();
  EXPECT_EQ(afterCrash, CleanRunRows());
}

// The server stays away longer: the day ends incomplete naming the vehicles
// it lost, and the retry once the server is back finishes it exactly.
TEST_F(ServerCrash, DayLeftIncompleteByTheCrashIsFinishedExactlyByItsRetry) {
  CrashingGeo geo(*map_, 2000);
  const DayRunCounts counts = Run(geo, 2);
  ASSERT_TRUE(geo.Crashed());
  EXPECT_EQ(counts.outcome, DayOutcome::Incomplete);
  EXPECT_GT(counts.lost, 0);
  EXPECT_NE(counts.detail.find("数据库连接中断"), std::string::npos) << counts.detail;

  ASSERT_EQ(test::StartPgServer(), 0);
  const DayRunCounts retry = Run(*map_, 60);
  EXPECT_EQ(retry.outcome, DayOutcome::Complete) << retry.detail;
  {
    // The first attempt's outcome could not reach the stopped server; the retry's did.
    ReportDatabase db;
    db.OpenReportSession(settings_);
    const auto days = Ledger(db).Days(kDayRunCommand, kDay, kDay);
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].outcome, DayOutcome::Complete);
    EXPECT_EQ(days[0].attempts, 2);
  }
  const auto afterRetry = ReportRows();
  EXPECT_EQ(afterRetry, CleanRunRows());
}

}  // namespace
}  // namespace cuserver
