// A database that stalls, goes away or stays locked: settings, timeouts,
// liveness and reopening, against a real SQLite file and the test server.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <functional>
#include <optional>

#include "db/connect_string.hpp"
#include "db/postgresql/pg_batch.hpp"
#include "db/reconnect.hpp"
#include "db/session.hpp"
#include "support/db_fixture.hpp"
#include "support/instant_wait_clock.hpp"
#include "support/pg_server.hpp"

namespace cuserver::test {
namespace {

using namespace std::chrono_literals;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool Offered(const std::string& backend) {
  const auto backends = AvailableBackends();
  return std::find(backends.begin(), backends.end(), backend) != backends.end();
}

std::string QueryOne(ReportDatabase& db, const std::string& query, const std::string& column) {
  auto cursor = db.OpenQuery(query);
  return cursor->Value(column).value_or("NULL");
}

// --- settings and connection strings ---------------------------------------

struct SecondsCase {
  std::string lines;
  int reconnectSeconds;  // -1: a SettingsError naming badKey
  int statementTimeoutSeconds;
  std::string badKey;
};

TEST(FaultSettings, SecondsAreWholeNumbersFromZeroWithDefaults) {
  const std::vector<SecondsCase> cases{
      {"", 600, 900, ""},
      {"ReconnectSeconds=\nStatementTimeoutSeconds=\n", 600, 900, ""},
      {"ReconnectSeconds=30\nStatementTimeoutSeconds=0\n", 30, 0, ""},
      {"ReconnectSeconds=-1\n", -1, 0, "ReconnectSeconds"},
      {"StatementTimeoutSeconds=ten\n", -1, 0, "StatementTimeoutSeconds"},
      {"StatementTimeoutSeconds=5s\n", -1, 0, "StatementTimeoutSeconds"},
      {"ReconnectSeconds=99999999999\n", -1, 0, "ReconnectSeconds"},
  };
  TempDir dir;
  const auto file = dir.Path() / "gpsserver.ini";
  for (const auto& c : cases) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "[General]\nDataSource=gps.db\n" << c.lines;
    try {
      const auto settings = ReadConnectionSettings(file, dir.Path());
      EXPECT_EQ(c.reconnectSeconds, settings.reconnectSeconds) << c.lines;
      EXPECT_EQ(c.statementTimeoutSeconds, settings.statementTimeoutSeconds) << c.lines;
    } catch (const SettingsError& e) {
      const std::string message = e.what();
      EXPECT_EQ(c.reconnectSeconds, -1) << message;
      EXPECT_NE(message.find(file.string()), std::string::npos) << message;
      EXPECT_NE(message.find("key " + c.badKey), std::string::npos) << message;
    }
  }
}

TEST(FaultSettings, PostgresqlSessionsGetKeepalivesUnlessTheDataSourceSetsThem) {
  ConnectionSettings s{Backend::Postgresql, "gps", "pw", "host=h dbname=d"};
  EXPECT_EQ(SessionConnectString(s),
            "host=h dbname=d user='gps' password='pw' keepalives=1 keepalives_idle=60 keepalives_interval=10 "
            "keepalives_count=6 connect_timeout=20");
  s.dataSource = "host=h connect_timeout=5 keepalives_idle=300";
  EXPECT_EQ(SessionConnectString(s),
            "host=h connect_timeout=5 keepalives_idle=300 user='gps' password='pw' keepalives=1 "
            "keepalives_interval=10 keepalives_count=6");
  s.dataSource = "postgresql://h/d?keepalives=0";
  EXPECT_EQ(SessionConnectString(s),
            "postgresql://h/d?keepalives=0&user=gps&password=pw&keepalives_idle=60&keepalives_interval=10"
            "&keepalives_count=6&connect_timeout=20");
  s.backend = Backend::Odbc;
  EXPECT_EQ(SessionConnectString(s), SociConnectString(s));
}

TEST(Reopening, PausesDoubleFromOneSecondUpToAMinute) {
  const std::vector<std::pair<int, int>> pauses{{1, 1}, {2, 2}, {3, 4}, {6, 32}, {7, 60}, {8, 60}, {1000, 60}};
  for (const auto& [attempt, seconds] : pauses) EXPECT_EQ(ReopenPause(attempt).count(), seconds) << attempt;
}

// A SQLite file that is not there (yet): each opening fails at once.
ConnectionSettings MissingSqliteFile(const TempDir& dir) {
  ConnectionSettings settings{Backend::Sqlite3, "", "", (dir.Path() / "later.db").string()};
  settings.createSqliteFile = false;
  return settings;
}

TEST(Reopening, TriesAgainAfterEachPauseUntilTheReconnectSecondsAreUsed) {
  struct Case {
    int reconnectSeconds;
    std::vector<int> attemptsAt;  // seconds since the first; the last pause is cut short to end at the limit
  };
  for (const Case& c : {Case{0, {0}}, Case{2, {0, 1, 2}}, Case{200, {0, 1, 3, 7, 15, 31, 63, 123, 183, 200}}}) {
    SCOPED_TRACE(c.reconnectSeconds);
    TempDir dir;
    ConnectionSettings settings = MissingSqliteFile(dir);
    settings.reconnectSeconds = c.reconnectSeconds;
    ReportDatabase db;
    InstantWaitClock clock;
    std::vector<std::string> told;
    EXPECT_FALSE(ReopenWithPauses(
        db, settings, nullptr, [&](const std::string& line) { told.push_back(line); }, clock));
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(clock.Elapsed(), std::chrono::seconds(c.reconnectSeconds));
    ASSERT_EQ(told.size(), c.attemptsAt.size());
    for (size_t i = 0; i < told.size(); ++i) {
      EXPECT_EQ(told[i].rfind("opening the database again: attempt " + std::to_string(i + 1) + " failed after " +
                                  std::to_string(c.attemptsAt[i]) + " s: SQLite database file ",
                              0),
                0u)
          << told[i];
    }
  }
}

TEST(Reopening, OpensAtTheFirstAttemptAfterTheDatabaseIsBack) {
  TempDir dir;
  const ConnectionSettings settings = MissingSqliteFile(dir);
  InstantWaitClock clock;
  clock.afterWait = [&](WaitClock::Duration elapsed) {
    if (elapsed >= 5s && !std::filesystem::exists(settings.dataSource)) {
      ReportDatabase().OpenReportSession(AllowingNewSqliteFile(settings));
    }
  };
  ReportDatabase db;
  std::vector<std::string> told;
  EXPECT_TRUE(ReopenWithPauses(
      db, settings, nullptr, [&](const std::string& line) { told.push_back(line); }, clock));
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(told.size(), 3u) << "attempts at 0, 1 and 3 s failed, the one at 7 s opened";
  EXPECT_EQ(clock.Elapsed(), 7s);
}

TEST(Reopening, StopIsSeenWithinTwoHundredMillisecondsOfAPause) {
  TempDir dir;
  ConnectionSettings settings = MissingSqliteFile(dir);
  std::atomic<bool> stop{false};
  InstantWaitClock clock;
  clock.afterWait = [&](WaitClock::Duration elapsed) {
    if (elapsed >= 500ms) stop = true;
  };
  ReportDatabase db;
  int told = 0;
  EXPECT_FALSE(ReopenWithPauses(
      db, settings, &stop, [&](const std::string&) { ++told; }, clock));
  EXPECT_EQ(told, 1) << "no attempt after the stop";
  EXPECT_EQ(clock.Elapsed(), 600ms);
  EXPECT_FALSE(db.IsOpen());

  EXPECT_FALSE(ReopenWithPauses(
      db, settings, &stop, [&](const std::string&) { ++told; }, clock));
  EXPECT_EQ(told, 1) << "stopped before the first attempt";
}

// --- SQLite: a locked file is waited for --------------------------------------

TEST(SqliteBusyTimeout, InsertWaitsForAnotherConnectionsWriteLockUpToTheTimeout) {
  struct Case {
    int timeoutSeconds;
    std::optional<WaitClock::Duration> heldFor;  // nullopt: past the timeout
  };
  for (const Case c : {Case{5, 1s}, Case{1, std::nullopt}}) {
    SCOPED_TRACE(c.timeoutSeconds);
    TempDir dir;
    ConnectionSettings settings{Backend::Sqlite3, "", "", (dir.Path() / "busy.db").string()};
    settings.statementTimeoutSeconds = c.timeoutSeconds;
    ReportDatabase holder;
    holder.OpenReportSession(settings);
    bool holding = false;
    InstantWaitClock clock;
    clock.afterWait = [&](WaitClock::Duration elapsed) {
      if (c.heldFor && elapsed >= *c.heldFor && holding) {
        holder.ExecuteStatement("COMMIT");
        holding = false;
      }
    };
    settings.sqliteWaitClock = &clock;
    ReportDatabase writer;
    writer.OpenReportSession(settings);
    writer.ExecuteStatement("create table t (i integer)");
    holder.ExecuteStatement("BEGIN IMMEDIATE");
    holder.ExecuteStatement("insert into t values (1)");
    holding = true;
    bool written = true;
    try {
      writer.ExecuteStatement("insert into t values (2)");
    } catch (const DatabaseError& e) {
      written = false;
      EXPECT_NE(std::string(e.what()).find("locked"), std::string::npos) << e.what();
    }
    EXPECT_EQ(written, c.heldFor.has_value());
    if (c.heldFor) {
      EXPECT_GE(clock.Elapsed(), *c.heldFor);
      EXPECT_LE(clock.Elapsed(), *c.heldFor + 2ms) << "a try at least every 2 ms";
    } else {
      EXPECT_EQ(clock.Elapsed(), std::chrono::seconds(c.timeoutSeconds));
      holder.ExecuteStatement("COMMIT");
    }
    EXPECT_EQ(QueryOne(writer, "select count(*) as n from t", "n"), c.heldFor ? "2" : "1");
  }
}

// --- servers: the statement timeout ----------------------------------------------

class ServerTimeout : public ::testing::TestWithParam<std::string> {};

TEST_P(ServerTimeout, SlowStatementIsEndedByTheServerAndTheSessionLivesOn) {
  if (!Offered(GetParam())) GTEST_SKIP() << "no " << GetParam() << " test server";
  IsolatedDatabase database(GetParam());
  ConnectionSettings settings = database.Settings();
  settings.statementTimeoutSeconds = 1;
  ReportDatabase db;
  db.OpenReportSession(settings);
  const bool mysql = db.Dialect() == SqlDialect::Mysql;
  try {
    db.OpenQuery(mysql ? "select 1 as x from (select sleep(6)) s" : "select 1 as x from pg_sleep(6)");
    ADD_FAILURE() << "the statement ran to its end";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find(mysql ? "max_statement_time" : "statement timeout"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(db.Alive());
  EXPECT_EQ(QueryOne(db, "select 7 as n", "n"), "7");
}

// libpq and psqlODBC reach the PostgreSQL test server, SOCI's MySQL backend
// and MariaDB's ODBC driver the MariaDB one.
INSTANTIATE_TEST_SUITE_P(Servers, ServerTimeout, ::testing::Values("postgresql", "odbc", "mysql", "odbc_mysql"),
                         [](const auto& info) { return info.param; });

// --- PostgreSQL: a stopped server process -------------------------------------------

// Lets a stopped server process run on again, also when the test fails.
struct ContinuedAtTheEnd {
  int pid;
  ~ContinuedAtTheEnd() { ::kill(pid, SIGCONT); }
};

struct StalledCall {
  const char* name;
  std::function<void(ReportDatabase&)> call;
};

class StalledServer : public ::testing::TestWithParam<StalledCall> {};

TEST_P(StalledServer, StatementIsEndedWithATimeoutErrorAndTheSessionIsDead) {
  if (!Offered("postgresql")) GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
  IsolatedDatabase database("postgresql");
  ConnectionSettings settings = database.Settings();
  settings.statementTimeoutSeconds = 2;
  ReportDatabase db;
  db.OpenReportSession(settings);
  const int pid = std::stoi(QueryOne(db, "select pg_backend_pid() as pid", "pid"));
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  ContinuedAtTheEnd continued{pid};
  try {
    GetParam().call(db);
    ADD_FAILURE() << "the statement returned from a stopped server";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("timed out after 2 s"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(db.Alive());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, StalledServer,
    ::testing::Values(StalledCall{"Query", [](ReportDatabase& db) { db.OpenQuery("select 1 as one"); }},
                      StalledCall{"Statement", [](ReportDatabase& db) { db.ExecuteStatement("select 1"); }},
                      StalledCall{"Batch", [](ReportDatabase& db) { PostgresExecuteMany(db, "select 1; select 2"); }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- PostgreSQL: a server that goes away and comes back ------------------------------
// Registered to run alone: it stops the server every other test uses.

TEST(ServerRestart, ReopeningWaitsForTheServerToComeBack) {
  if (!Offered("postgresql")) GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
  ASSERT_FALSE(Env("CUSERVER_PG_DIR").empty()) << "the server's folder (CUSERVER_PG_DIR) is needed to stop it";
  IsolatedDatabase database("postgresql");
  ConnectionSettings settings = database.Settings();
  settings.reconnectSeconds = 60;
  ReportDatabase db;
  db.OpenReportSession(settings);
  ASSERT_TRUE(db.Alive());

  PgServerRunningAtTheEnd running;
  ASSERT_EQ(StopPgServer(), 0);
  EXPECT_FALSE(db.Alive());
  // Back after 2 s of pauses, before the attempt at 3 s.
  InstantWaitClock clock;
  clock.afterWait = [&](WaitClock::Duration elapsed) {
    if (elapsed >= 2s && PgCtl("status") != 0) StartPgServer();
  };
  std::vector<std::string> told;
  const bool reopened = ReopenWithPauses(
      db, settings, nullptr, [&](const std::string& line) { told.push_back(line); }, clock);
  EXPECT_TRUE(reopened);
  EXPECT_TRUE(db.Alive());
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[0].find("attempt 1 failed after 0 s"), std::string::npos) << told[0];
  EXPECT_NE(told[1].find("attempt 2 failed after 1 s"), std::string::npos) << told[1];
  EXPECT_EQ(QueryOne(db, "select 7 as n", "n"), "7");
}

}  // namespace
}  // namespace cuserver::test
