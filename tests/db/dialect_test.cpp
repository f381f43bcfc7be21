#include <gtest/gtest.h>

#include "db/dialect.hpp"
#include "db/report_tables.hpp"

namespace cuserver {
namespace {

constexpr ReportTableKind kKinds[] = {ReportTableKind::AlarmSMS, ReportTableKind::DownloadSMS,
                                      ReportTableKind::SpeedAlarm, ReportTableKind::VehicleDistance,
                                      ReportTableKind::ParkingLog};

TEST(CreateTableStatement, OracleGetsTheTextAsItHasAlwaysBeenSent) {
  EXPECT_EQ(CreateTableStatement(ReportTableKind::VehicleDistance, "vehicledistance201403", Backend::Odbc),
            "CREATE TABLE vehicledistance201403  (\t\t\t\t\tSIMID                VARCHAR2(15 byte) NOT NULL, "
            "\t\t\t\t\tBEGINTIME              VARCHAR2(20 byte),\t\t\t\tENDTIME             VARCHAR2(20 byte), "
            "\t\t\t\t\t\t\tTOTTIME            NUMBER(10),\t\t\t\t\tDISTANCE             NUMBER(10,2),"
            "\t\t\t\t\tREMARK               VARCHAR2(20)\t\t\t\t\t)");
}

TEST(CreateTableStatement, PostgresqlGetsStandardTypesAndTimestamps) {
  EXPECT_EQ(CreateTableStatement(ReportTableKind::ParkingLog, "parkinglog201403", Backend::Postgresql),
            "CREATE TABLE parkinglog201403  (\t\t\t\t\tSIMID                NUMERIC(11) NOT NULL   ,"
            "\t\t\t\t\tBEGINTIME                 TIMESTAMP,\t\t\t\t\tENDTIME              TIMESTAMP,"
            "\t\t\t\t\t\t\tTOTTIME            NUMERIC(10),\t\t\t\t\tLONGITUDE             NUMERIC(11,8),"
            "\t\t\t\t\tLATITUDE              NUMERIC(10,8),\t\t\t\t\tSTOPADD            VARCHAR(100),"
            "\t\t\t\t\t\t\tCURRENTPOI           VARCHAR(100),\t\t\t\t\t\t\tREMARK               VARCHAR(5)"
            "\t\t\t\t\t)");
}

TEST(CreateTableStatement, SqliteKeepsDateColumns) {
  const auto text = CreateTableStatement(ReportTableKind::ParkingLog, "p", Backend::Sqlite3);
  EXPECT_NE(text.find("BEGINTIME                 DATE,"), std::string::npos);
  EXPECT_NE(text.find("NUMERIC(10,8)"), std::string::npos);
}

TEST(CreateTableStatement, NoOracleTypeIsLeftForTheOtherDatabases) {
  for (auto kind : kKinds) {
    for (auto backend : {Backend::Sqlite3, Backend::Postgresql, Backend::Mysql}) {
      const auto text = CreateTableStatement(kind, "t", backend);
      EXPECT_EQ(text.find("VARCHAR2"), std::string::npos) << text;
      EXPECT_EQ(text.find("NUMBER"), std::string::npos) << text;
      EXPECT_EQ(text.find("byte"), std::string::npos) << text;
    }
    EXPECT_NE(CreateTableStatement(kind, "t", Backend::Odbc).find("VARCHAR2("), std::string::npos);
  }
}

TEST(MapOracleDdl, TouchesTypesOnlyAsWholeWords) {
  EXPECT_EQ(MapOracleDdl("UPDATED varchar2( 7 BYTE ), NUMBERS number(3 , 1), DATES date", SqlDialect::Postgresql),
            "UPDATED VARCHAR(7), NUMBERS NUMERIC(3,1), DATES TIMESTAMP");
}

TEST(MapOracleDdl, MysqlGetsDecimalsDatetimesAndLongText) {
  EXPECT_EQ(MapOracleDdl("A NUMBER(10,2), B number(11), C DATE, D VARCHAR2(20 byte), E CLOB", SqlDialect::Mysql),
            "A DECIMAL(10,2), B DECIMAL(11), C DATETIME, D VARCHAR(20), E LONGTEXT");
  EXPECT_EQ(MapOracleDdl("E CLOB", SqlDialect::Postgresql), "E TEXT");
  EXPECT_EQ(MapOracleDdl("E CLOB", SqlDialect::Oracle), "E CLOB");
}

TEST(DialectOfDbmsName, OnlyTheKnownDbmsHaveADialect) {
  EXPECT_EQ(DialectOfDbmsName("Oracle"), SqlDialect::Oracle);
  EXPECT_EQ(DialectOfDbmsName("PostgreSQL"), SqlDialect::Postgresql);
  EXPECT_EQ(DialectOfDbmsName("MySQL"), SqlDialect::Mysql);
  EXPECT_EQ(DialectOfDbmsName("MariaDB"), SqlDialect::Mysql);
  EXPECT_EQ(DialectOfDbmsName("SQLite"), SqlDialect::Sqlite);
  EXPECT_EQ(DialectOfDbmsName("Microsoft SQL Server"), std::nullopt);
  EXPECT_EQ(DialectOfDbmsName(""), std::nullopt);
  EXPECT_EQ(UnknownDbmsMessage("Microsoft SQL Server"),
            "the ODBC data source reaches the DBMS \"Microsoft SQL Server\", whose SQL this program does not know; "
            "if it speaks one it knows, name it with the key Dialect of section General (oracle, postgresql, mysql "
            "or sqlite)");
}

TEST(ProbeStatement, IsTheNameAndOneBlank) { EXPECT_EQ(ProbeStatement("SpeedAlarm201403"), "select * from SpeedAlarm201403 "); }

}  // namespace
}  // namespace cuserver
