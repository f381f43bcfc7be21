#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "db/connect_string.hpp"
#include "db/session.hpp"
#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& text) {
    const auto file = dir_.Path() / "gpsserver.ini";
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  std::string MessageOf(const std::string& text) {
    try {
      ReadConnectionSettings(Write(text), dir_.Path());
    } catch (const SettingsError& e) {
      return e.what();
    }
    return "(no error)";
  }
  TempDir dir_;
};

TEST_F(SettingsTest, SqliteIsTheDefaultAndItsFileIsUnderTheStartDirectory) {
  auto s = ReadConnectionSettings(Write("[General]\r\nDataSource=data/gps.db\r\n"), "/srv/cuserver");
  EXPECT_EQ(s.backend, Backend::Sqlite3);
  EXPECT_EQ(s.dataSource, "/srv/cuserver/data/gps.db");
  EXPECT_EQ(s.userId, "");
}

TEST_F(SettingsTest, AbsoluteSqliteFileIsKept) {
  auto s = ReadConnectionSettings(Write("[General]\nBackend=SQLite3\nDataSource=/var/db/gps.db\n"), "/srv");
  EXPECT_EQ(s.dataSource, "/var/db/gps.db");
}

TEST_F(SettingsTest, ServerBackendsReadAllThreeKeysWhole) {
  const std::string longPassword(100, 'p');
  auto s = ReadConnectionSettings(
      Write("[general]\nbackend=postgresql\nUSERID=gps\nPassword=" + longPassword +
            "\nDataSource=host=db.example port=5432 dbname=gps\n"),
      dir_.Path());
  EXPECT_EQ(s.backend, Backend::Postgresql);
  EXPECT_EQ(s.userId, "gps");
  EXPECT_EQ(s.password, longPassword);  // no 79-character cut
  EXPECT_EQ(s.dataSource, "host=db.example port=5432 dbname=gps");
}

TEST_F(SettingsTest, ServerBackendNeedsEveryKey) {
  EXPECT_NE(MessageOf("[General]\nBackend=odbc\nUSERID=u\nPassword=\nDataSource=ORCL\n").find("key Password"),
            std::string::npos);
  EXPECT_NE(MessageOf("[General]\nBackend=odbc\nPassword=p\nDataSource=ORCL\n").find("key USERID"),
            std::string::npos);
  EXPECT_NE(MessageOf("[General]\nBackend=postgresql\nUSERID=u\nPassword=p\n").find("key DataSource"),
            std::string::npos);
  EXPECT_NE(MessageOf("[General]\nBackend=odbc\nUSERID=u\nPassword=\n").find("gpsserver.ini"), std::string::npos);
}

TEST_F(SettingsTest, MysqlTakesItsConnectionStringAndADialectIsNamedByKey) {
  auto s = ReadConnectionSettings(
      Write("[General]\nBackend=MySQL\nDataSource=host=127.0.0.1 port=3306 dbname=fleet\n"),
      dir_.Path());
  EXPECT_EQ(s.backend, Backend::Mysql);
  EXPECT_EQ(s.dataSource, "host=127.0.0.1 port=3306 dbname=fleet");
  EXPECT_EQ(s.userId, "");  // as for PostgreSQL: the client library's to find
  EXPECT_EQ(MessageOf("[General]\nBackend=mysql\nDataSource=x\nDialect=MariaDB\n"),
            "settings file " + (dir_.Path() / "gpsserver.ini").string() +
                ": key Dialect of section General is \"MariaDB\"; use oracle, postgresql, mysql or sqlite");
  s = ReadConnectionSettings(Write("[General]\nBackend=odbc\nUSERID=u\nPassword=p\nDataSource=d\nDialect=Oracle\n"),
                             dir_.Path());
  EXPECT_EQ(s.dialect, SqlDialect::Oracle);
  s = ReadConnectionSettings(Write("[General]\nBackend=odbc\nUSERID=u\nPassword=p\nDataSource=d\n"), dir_.Path());
  EXPECT_EQ(s.dialect, std::nullopt);
}

TEST_F(SettingsTest, SqliteNeedsItsFile) {
  EXPECT_NE(MessageOf("[General]\nUSERID=u\n").find("key DataSource"), std::string::npos);
}

TEST_F(SettingsTest, UnknownBackendIsNamed) {
  EXPECT_NE(MessageOf("[General]\nBackend=oracle\nDataSource=x\n").find("\"oracle\""), std::string::npos);
}

TEST_F(SettingsTest, MissingFileIsNamed) {
  const auto missing = dir_.Path() / "nowhere.ini";
  try {
    ReadConnectionSettings(missing, dir_.Path());
    FAIL();
  } catch (const SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos);
  }
}

TEST_F(SettingsTest, FolderInsteadOfFileIsRefused) {
  EXPECT_THROW(ReadConnectionSettings(dir_.Path(), dir_.Path()), SettingsError);
}

TEST(ConnectString, SqliteFileIsQuoted) {
  EXPECT_EQ(SociConnectString({Backend::Sqlite3, "", "", "/tmp/a b.db"}), "db=\"/tmp/a b.db\" timeout=30");
  EXPECT_THROW(SociConnectString({Backend::Sqlite3, "", "", "/tmp/a\"b.db"}), DatabaseError);
}

TEST(ConnectString, PostgresqlKeepsTheLibpqStringAndAddsQuotedCredentials) {
  EXPECT_EQ(SociConnectString({Backend::Postgresql, "gps", "it's\\x", "host=h dbname=d"}),
            "host=h dbname=d user='gps' password='it\\'s\\\\x'");
  EXPECT_EQ(SociConnectString({Backend::Postgresql, "gps", "pw", "gpsdb"}),
            "service='gpsdb' user='gps' password='pw'");
  EXPECT_EQ(SociConnectString({Backend::Postgresql, "gps", "p&w", "postgresql://h/d?sslmode=disable"}),
            "postgresql://h/d?sslmode=disable&user=gps&password=p%26w");
  // Empty credentials are libpq's to find (~/.pgpass, peer authentication).
  EXPECT_EQ(SessionConnectString({Backend::Postgresql, "", "", "postgresql://h/d"}).substr(0, 30),
            "postgresql://h/d?keepalives=1&");
  EXPECT_EQ(SociConnectString({Backend::Postgresql, "gps", "", "host=h"}), "host=h user='gps'");
}

// USERID and Password may stay empty for PostgreSQL: the server is reached
// with the password from a .pgpass file.
TEST_F(SettingsTest, PostgresqlConnectsWithoutCredentialsInTheSettings) {
  const char* server = std::getenv("CUSERVER_TEST_PG");
  if (server == nullptr || *server == '\0') GTEST_SKIP() << "CUSERVER_TEST_PG is not set";
  std::map<std::string, std::string> keys;  // the test server's plain "key=value ..." string
  std::istringstream words(server);
  for (std::string word; words >> word;) {
    const auto equals = word.find('=');
    if (equals != std::string::npos) keys[word.substr(0, equals)] = word.substr(equals + 1);
  }
  const auto pgpass = dir_.Path() / "pgpass";
  std::ofstream(pgpass) << keys["host"] << ':' << keys["port"] << ':' << keys["dbname"] << ':' << keys["user"] << ':'
                        << keys["password"] << '\n';
  std::filesystem::permissions(pgpass, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const ConnectionSettings settings = ReadConnectionSettings(
      Write("[General]\nBackend=postgresql\nUSERID=\nPassword=\nDataSource=host=" + keys["host"] +
            " port=" + keys["port"] + " dbname=" + keys["dbname"] + " user=" + keys["user"] +
            " passfile=" + pgpass.string() + "\n"),
      dir_.Path());
  ReportDatabase db;
  EXPECT_NO_THROW(db.OpenReportSession(settings));
}

TEST(ConnectString, MysqlGetsCredentialsAndUtf8mb4WhereItSetsNone) {
  EXPECT_EQ(SociConnectString({Backend::Mysql, "gps", "a b'c", "host=h dbname=fleet"}),
            "host=h dbname=fleet user='gps' password='a b\\'c' charset=utf8mb4");
  EXPECT_EQ(SessionConnectString({Backend::Mysql, "gps", "", "host=h user=x charset=latin1"}),
            "host=h user=x charset=latin1 connect_timeout=20 read_timeout=930");
}

TEST(ConnectString, OdbcBracesValuesWithSeparators) {
  EXPECT_EQ(SociConnectString({Backend::Odbc, "scott", "tiger", "ORCL"}),
            "DSN=ORCL;UID=scott;PWD=tiger;UseDeclareFetch=1;Fetch=10000;MaxVarcharSize=65535");
  EXPECT_EQ(SociConnectString({Backend::Odbc, "scott", "a;b}c", "ORCL"}),
            "DSN=ORCL;UID=scott;PWD={a;b}}c};UseDeclareFetch=1;Fetch=10000;MaxVarcharSize=65535");
}

}  // namespace
}  // namespace cuserver::test
