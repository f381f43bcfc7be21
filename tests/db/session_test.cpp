#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>

#include "db/backends.hpp"
#include "db/session.hpp"
#include "reports/sql_text.hpp"

namespace cuserver::test {
namespace {

class SessionTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    Db().ExecuteStatement("CREATE TABLE vals (name VARCHAR(20), n DOUBLE PRECISION, i INTEGER, t VARCHAR(30))");
  }
  void Insert(const std::string& values) { Db().ExecuteStatement("insert into vals values (" + values + ")"); }
};

TEST_P(SessionTest, NumbersReadAsTheirShortestDecimalText) {
  Insert("'a', 80, 80, 'x'");
  Insert("'b', 3.704, -7, 'y'");
  Insert("'c', 116.397, 2147483647, 'z'");
  auto cursor = Db().OpenQuery("select * from vals order by name");
  std::vector<std::string> numbers, integers;
  for (; !cursor->AtEnd(); cursor->Next()) {
    numbers.push_back(cursor->Value("n").value());
    integers.push_back(cursor->Value("i").value());
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"80", "3.704", "116.397"}));
  EXPECT_EQ(integers, (std::vector<std::string>{"80", "-7", "2147483647"}));
}

TEST_P(SessionTest, NullIsNoValueAndTextIsAsStored) {
  Insert("'a', NULL, NULL, ' 12.5km '");
  EXPECT_EQ(QueryOne("select * from vals", "n"), std::nullopt);
  EXPECT_EQ(QueryOne("select * from vals", "i"), std::nullopt);
  EXPECT_EQ(QueryOne("select * from vals", "t"), " 12.5km ");
}

TEST_P(SessionTest, ColumnNamesMatchWithoutRegardToCase) {
  Insert("'a', 1.5, 2, 'x'");
  EXPECT_EQ(QueryOne("select NAME, N from vals", "name"), "a");
  EXPECT_EQ(QueryOne("select name, n from vals", "N"), "1.5");
}

// The cursor remembers where a row's columns were found; a reader that asks
// in another order, or in another case, still gets each column's own value.
TEST_P(SessionTest, ColumnsAskedInChangingOrderReadTheirOwnValues) {
  Insert("'a', 1.5, 2, 'x'");
  Insert("'b', 2.5, 3, 'y'");
  Insert("'c', 3.5, 4, 'z'");
  auto cursor = Db().OpenQuery("select name, n, i, t from vals order by name");
  const std::vector<std::vector<std::string>> asked = {{"t", "name", "i"}, {"T", "i", "name", "n"}, {"name", "t"}};
  const std::vector<std::map<std::string, std::string>> expected = {
      {{"t", "x"}, {"name", "a"}, {"i", "2"}}, {{"T", "y"}, {"i", "3"}, {"name", "b"}, {"n", "2.5"}},
      {{"name", "c"}, {"t", "z"}}};
  for (std::size_t row = 0; row < asked.size(); ++row, cursor->Next()) {
    ASSERT_FALSE(cursor->AtEnd());
    for (const std::string& column : asked[row]) {
      std::string text;
      ASSERT_TRUE(cursor->ValueInto(column, text));
      EXPECT_EQ(text, expected[row].at(column)) << "row " << row << ", column " << column;
      EXPECT_EQ(cursor->Value(column), expected[row].at(column));
    }
  }
}

TEST_P(SessionTest, UnknownColumnIsADatabaseError) {
  Insert("'a', 1.5, 2, 'x'");
  auto cursor = Db().OpenQuery("select * from vals");
  EXPECT_THROW(cursor->Value("nosuch"), DatabaseError);
}

TEST_P(SessionTest, EmptyResultIsAtEndAtOnce) {
  auto cursor = Db().OpenQuery("select * from vals");
  EXPECT_TRUE(cursor->AtEnd());
  cursor->Next();
  EXPECT_TRUE(cursor->AtEnd());
  cursor->Close();
}

TEST_P(SessionTest, MissingTableFailsWithTheDriversReason) {
  try {
    Db().OpenQuery("select * from GPSDATA19990101 where SIMID='1' order by time asc");
    FAIL() << "the query opened";
  } catch (const DatabaseError& e) {
    std::string text = DatabaseErrorText(e);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(text.find("gpsdata19990101"), std::string::npos) << text;
  }
  // The session stays usable after a failed statement.
  Insert("'a', 1, 1, 'x'");
  EXPECT_EQ(CountRows("vals"), 1);
}

TEST_P(SessionTest, RejectedStatementIsADatabaseError) {
  EXPECT_THROW(Db().ExecuteStatement("insert into nosuchtable values (1)"), DatabaseError);
  EXPECT_THROW(Db().ExecuteStatement("this is not sql"), DatabaseError);
}

// Texts from outside are bound, never read as SQL: each comes back as sent
// and matches only itself (the text before a NUL byte is another value); a
// backend that cannot hold a NUL byte refuses the text rather than cut it.
TEST_P(SessionTest, BoundTextsAreValuesAndNeverSql) {
  Insert("'13800', NULL, NULL, 'earlier'");
  const bool takesNul = GetBackend() == Backend::Sqlite3;
  for (const std::string& text : {std::string("O'Brien"), std::string("x' or '1'='1"), std::string("a?b'?"),
                                  std::string("13800\0tail", 10), std::string(":p1 -- \\"), std::string()}) {
    const bool hasNul = text.find('\0') != std::string::npos;
    try {
      Db().ExecuteStatement("insert into vals (name, t) values (?, 'one?')", {text});
    } catch (const DatabaseError& error) {
      EXPECT_TRUE(hasNul && !takesNul) << "refused " << text << ": " << error.what();
      EXPECT_EQ(error.Kind(), DatabaseErrorKind::RowRefused);
      EXPECT_THROW(Db().OpenQuery("select * from vals where name = ?", {text}), DatabaseError);
      continue;
    }
    auto cursor = Db().OpenQuery("select name, t from vals where name = ? and t <> '?'", {text});
    std::vector<std::string> found;
    for (; !cursor->AtEnd(); cursor->Next()) found.push_back(cursor->Value("name").value_or("NULL"));
    EXPECT_EQ(found, std::vector<std::string>{text}) << "bound text of " << text.size() << " bytes";
    EXPECT_EQ(QueryOne("select count(*) as n from vals where t = 'one?'", "n"), "1");
    Db().ExecuteStatement("delete from vals where t = ?", {"one?"});
  }
  EXPECT_THROW(Db().OpenQuery("select * from vals where name = ?", {}), DatabaseError) << "a placeholder unbound";
  EXPECT_THROW(Db().ExecuteStatement("delete from vals", {"x"}), DatabaseError) << "a text without a placeholder";
}

TEST_P(SessionTest, ReopeningReplacesTheConnection) {
  Insert("'a', 1, 1, 'x'");
  Database().Open(Db());
  Database().Open(Db());
  EXPECT_TRUE(Db().IsOpen());
  EXPECT_EQ(CountRows("vals"), 1);
}

TEST_P(SessionTest, LongTextOfAColumnWithoutLengthIsReadWhole) {
  // MySQL has no VARCHAR without a length; its TEXT is the same case.
  Db().ExecuteStatement(Db().Dialect() == SqlDialect::Mysql ? "CREATE TABLE longtexts (v TEXT)"
                                                            : "CREATE TABLE longtexts (v VARCHAR)");
  const std::string text(3000, 'x');
  Db().ExecuteStatement("insert into longtexts values ('" + text + "')");
  EXPECT_EQ(QueryOne("select v from longtexts", "v"), text);
}

TEST_P(SessionTest, ManyRowsStreamInOrder) {
  Db().ExecuteStatement(
      "insert into vals (name, i) with recursive k(x) as (select 1 union all select x + 1 from k where x < 3000) "
      "select 'r', x from k");
  auto cursor = Db().OpenQuery("select i from vals order by i");
  int expected = 1;
  for (; !cursor->AtEnd(); cursor->Next()) ASSERT_EQ(cursor->Value("i"), std::to_string(expected++));
  EXPECT_EQ(expected, 3001);
}

TEST_P(SessionTest, PasswordWithSeparatorsAndQuotesLogsIn) {
  if (GetBackend() == Backend::Sqlite3) GTEST_SKIP() << "SQLite has no login";
  const std::string role = "cuserver_pw_" + std::to_string(std::random_device{}() % 1000000000);
  const std::string password = "a;b}c'd\\e f=g";
  const bool mysql = Db().Dialect() == SqlDialect::Mysql;
  const std::string user = mysql ? "'" + role + "'@'%'" : role;
  Db().ExecuteStatement((mysql ? "DROP USER IF EXISTS " : "DROP ROLE IF EXISTS ") + user);
  Db().ExecuteStatement(mysql ? "CREATE USER " + user + " IDENTIFIED BY '" + SqlValue(password) + "'"
                              : "CREATE ROLE " + role + " LOGIN PASSWORD '" + SqlValue(password) + "'");
  // Into the data source's own database, which MySQL's login opens.
  if (mysql) Db().ExecuteStatement("GRANT SELECT ON *.* TO " + user);
  ConnectionSettings settings = Database().Settings();
  settings.userId = role;
  settings.password = password;
  ReportDatabase other;
  EXPECT_NO_THROW(other.OpenReportSession(settings));
  settings.password = "wrong";
  EXPECT_THROW(other.OpenReportSession(settings), DatabaseError);
  Db().ExecuteStatement((mysql ? "DROP USER " : "DROP ROLE ") + user);
}

// The DBMS behind an ODBC data source gives the dialect unless the settings
// name one.
TEST_P(SessionTest, DialectIsTheDatabasesUnlessTheSettingsNameOne) {
  const std::map<std::string, SqlDialect> expected{{"sqlite3", SqlDialect::Sqlite},
                                                   {"postgresql", SqlDialect::Postgresql},
                                                   {"odbc", SqlDialect::Postgresql},
                                                   {"mysql", SqlDialect::Mysql},
                                                   {"odbc_mysql", SqlDialect::Mysql}};
  EXPECT_EQ(Db().Dialect(), expected.at(GetParam()));
  if (GetBackend() != Backend::Odbc) return;
  ConnectionSettings settings = Database().Settings();
  settings.dialect = SqlDialect::Sqlite;
  ReportDatabase other;
  other.OpenReportSession(settings);
  EXPECT_EQ(other.Dialect(), SqlDialect::Sqlite);
}

CUSERVER_ON_EVERY_BACKEND(SessionTest);

TEST(SessionRefusal, UnreachableServerIsADatabaseErrorWithTheReason) {
  ConnectionSettings settings{Backend::Postgresql, "cuserver", "secret",
                              "host=127.0.0.1 port=1 dbname=cuserver connect_timeout=5"};
  ReportDatabase db;
  try {
    db.OpenReportSession(settings);
    FAIL() << "connected to port 1";
  } catch (const DatabaseError& e) {
    EXPECT_FALSE(DatabaseErrorText(e).empty());
  }
  EXPECT_FALSE(db.IsOpen());
  EXPECT_THROW(db.OpenQuery("select 1"), DatabaseError);
}

TEST(SessionRefusal, UnknownOdbcDataSourceIsADatabaseError) {
  ConnectionSettings settings{Backend::Odbc, "u", "p", "cuserver_no_such_dsn"};
  ReportDatabase db;
  EXPECT_THROW(db.OpenReportSession(settings), DatabaseError);
  EXPECT_FALSE(db.IsOpen());
}

TEST(SessionRefusal, RefusedOpeningDropsTheEarlierConnection) {
  SqliteTestDatabase sqlite;
  ConnectionSettings missingFolder{Backend::Sqlite3, "", "", (sqlite.Folder() / "no" / "such.db").string()};
  EXPECT_THROW(sqlite.Db().OpenReportSession(missingFolder), DatabaseError);
  EXPECT_FALSE(sqlite.Db().IsOpen());
  EXPECT_THROW(sqlite.Db().ExecuteStatement("select 1"), DatabaseError);
}

TEST(SessionSqlite, FileNameWithBlanksAndChineseOpens) {
  TempDir dir;
  ConnectionSettings settings{Backend::Sqlite3, "", "", (dir.Path() / "报表 数据.db").string()};
  ReportDatabase db;
  db.OpenReportSession(settings);
  db.ExecuteStatement("create table t (a VARCHAR(5))");
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "报表 数据.db"));
}

TEST(SessionSqlite, ValuesReadByTheirStoredTypeWhateverTheDeclaredType) {
  SqliteTestDatabase sqlite;
  auto& db = sqlite.Db();
  db.ExecuteStatement("create table loose (big INTEGER, word REAL, num NUMERIC(11), d DATE)");
  db.ExecuteStatement("insert into loose values (13912345678, '12abc', 'x13', '2014-03-19')");
  auto cursor = db.OpenQuery("select * from loose");
  EXPECT_EQ(cursor->Value("big"), "13912345678");
  EXPECT_EQ(cursor->Value("word"), "12abc");
  EXPECT_EQ(cursor->Value("num"), "x13");
  EXPECT_EQ(cursor->Value("d"), "2014-03-19");
}

}  // namespace
}  // namespace cuserver::test
