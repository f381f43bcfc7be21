#include "run/road_import.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "backend_database.hpp"
#include "db/schema.hpp"
#include "map/map_writer.hpp"
#include "map/text_codec.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::vector<RoadRecord> Roads() {
  return {
      {"530102", "01", "001", "北京路", "盘龙区", {{102.71, 25.04}, {102.72, 25.06}}},
      {"", "02", "", "无编码路", "五华区", {}},  // a name but no main code
      {"530103", "", "", "", "西山区", {}},      // a main code but no name
      {"530104", "03", "", "O'Neil's 路", "官渡'区", {}},
  };
}

std::string FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RoadImport : public ::testing::TestWithParam<std::string> {
 protected:
  RoadImport() : db_(GetParam()), diagnostics_([this](const std::string& line) { lines_.push_back(line); }) {
    std::filesystem::create_directories(db_.Folder() / "HighWay");
  }

  void WriteRoads(const std::vector<RoadRecord>& roads) {
    WriteMapTable(db_.Folder() / "HighWay" / "wxxlxl.tab", RoadTable(roads));
  }

  RoadImportCounts Import() {
    auto map = CreateMapServices(30);
    return ImportRoadInfo({db_.Settings(), *map, db_.Folder(), caption_, diagnostics_});
  }

  Rows Table(const std::string& table) {
    return db_.Rows("select * from " + table + " order by mainnumber",
                    {"mainnumber", "senumber", "thirdnumber", "roadname", "belongarea"});
  }

  void AddEarlierRoad() {
    db_.Execute("insert into roadlightmapinfo (mainnumber,senumber,thirdnumber,roadname,belongarea) "
                "values ('1','','','旧路','')");
  }

  BackendDatabase db_;
  SilentCaption caption_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_;
};

TEST_P(RoadImport, WritesEachNamedRoadWithAMainCodeIntactToAllThreeTables) {
  WriteRoads(Roads());
  // The table's Chinese field names and values are stored in code page 936.
  const std::string dat = FileBytes(db_.Folder() / "HighWay" / "wxxlxl.dat");
  ASSERT_NE(dat.find(*Utf8ToCp936("北京路")), std::string::npos);
  ASSERT_NE(dat.find(*Utf8ToCp936("三级编码")), std::string::npos);

  RoadImportCounts counts = Import();

  const Rows expected{{"530102", "01", "001", "北京路", "盘龙区"}, {"530104", "03", "", "O'Neil's 路", "官渡'区"}};
  EXPECT_EQ(Table("roadlightmapinfo"), expected);
  EXPECT_EQ(Table("roadlightmapinfomain"), expected);
  EXPECT_EQ(Table("roadlightmapinfose"), expected);
  EXPECT_EQ(RoadImportSummary(counts),
            "4 roads read, 2 skipped (1 without a name, 1 without a main code); roadlightmapinfo: 2 added, 0 "
            "refused; roadlightmapinfomain: 2 added, 0 refused; roadlightmapinfose: 2 added, 0 refused");
  EXPECT_FALSE(diagnostics_.AnyFailure());
}

TEST_P(RoadImport, RunningAgainReplacesTheRoadListAndAppendsToMainAndSe) {
  AddEarlierRoad();
  WriteRoads(Roads());
  Import();
  Import();
  EXPECT_EQ(db_.Count("roadlightmapinfo"), 2);
  EXPECT_EQ(db_.Count("roadlightmapinfomain"), 4);
  EXPECT_EQ(db_.Count("roadlightmapinfose"), 4);
}

TEST_P(RoadImport, TableWithoutFeaturesEmptiesTheRoadList) {
  AddEarlierRoad();
  WriteRoads({});
  EXPECT_EQ(Import().read, 0);
  EXPECT_EQ(db_.Count("roadlightmapinfo"), 0);
}

TEST_P(RoadImport, TableIsFoundWithoutRegardToCase) {
  std::filesystem::remove_all(db_.Folder() / "HighWay");
  std::filesystem::create_directories(db_.Folder() / "highway");
  WriteMapTable(db_.Folder() / "highway" / "WXXLXL.TAB", RoadTable(Roads()));
  EXPECT_EQ(Import().Of(RoadInfoTable::Info).added, 2);
}

TEST_P(RoadImport, MissingTableFileIsNamedAndTheEarlierRoadsStay) {
  AddEarlierRoad();
  try {
    Import();
    FAIL() << "no MapError";
  } catch (const MapError& error) {
    EXPECT_NE(std::string(error.what()).find("wxxlxl.tab"), std::string::npos) << error.what();
  }
  EXPECT_EQ(db_.Count("roadlightmapinfo"), 1);
}

TEST_P(RoadImport, MissingFieldIsNamedWithTheFileAndTheEarlierRoadsStay) {
  AddEarlierRoad();
  MapTable table = RoadTable(Roads());
  table.fields[4] = "区";  // instead of 行政区
  WriteMapTable(db_.Folder() / "HighWay" / "wxxlxl.tab", table);
  try {
    Import();
    FAIL() << "no MapError";
  } catch (const MapError& error) {
    EXPECT_NE(std::string(error.what()).find("'行政区'"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("wxxlxl.tab"), std::string::npos) << error.what();
  }
  EXPECT_EQ(Table("roadlightmapinfo"), (Rows{{"1", "", "", "旧路", ""}}));
}

TEST_P(RoadImport, MissingRoadListTableIsNamedAndNothingIsWritten) {
  WriteRoads(Roads());
  db_.Execute("drop table roadlightmapinfo");
  try {
    Import();
    FAIL() << "no RoadTableMissingError";
  } catch (const RoadTableMissingError& error) {
    EXPECT_NE(std::string(error.what()).find("roadlightmapinfo "), std::string::npos) << error.what();
  }
  EXPECT_EQ(db_.Count("roadlightmapinfomain"), 0);
}

TEST_P(RoadImport, RefusedConnectionChangesNothing) {
  WriteRoads(Roads());
  ConnectionSettings refused = db_.Settings();
  if (refused.backend == Backend::Sqlite3) {
    refused.dataSource = (db_.Folder() / "no-such-folder" / "fleet.db").string();
  } else {
    refused.password = "wrong";
  }
  auto map = CreateMapServices(30);
  EXPECT_THROW(ImportRoadInfo({refused, *map, db_.Folder(), caption_, diagnostics_}), ConnectionRefusedError);
}

// The writing on every backend, ODBC included.
class RoadInfoWriting : public ::testing::TestWithParam<std::string> {
 protected:
  RoadInfoWriting() : db_(GetParam()), diagnostics_([this](const std::string& line) { lines_.push_back(line); }) {
    InitDatabase(db_.Db());
    db_.Db().ExecuteStatement("drop table roadlightmapinfose");
    db_.Db().ExecuteStatement(
        "create table roadlightmapinfose (mainnumber VARCHAR(20), senumber VARCHAR(20), thirdnumber VARCHAR(20), "
        "roadname VARCHAR(100) CHECK (roadname <> '坏路'), belongarea VARCHAR(100))");
    db_.Db().ExecuteStatement("insert into roadlightmapinfo (mainnumber, roadname) values ('1', '旧路')");
  }
  std::vector<std::string> Names(const std::string& table) {
    std::vector<std::string> names;
    auto cursor = db_.Db().OpenQuery("select roadname from " + table + " order by mainnumber");
    for (; !cursor->AtEnd(); cursor->Next()) names.push_back(cursor->Value("roadname").value_or("NULL"));
    return names;
  }
  RoadImportCounts Write(const std::vector<RoadInfo>& roads) { return WriteRoadInfo(db_.Db(), roads, diagnostics_); }

  test::IsolatedDatabase db_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_;
};

TEST_P(RoadInfoWriting, RefusedInsertCostsItsOwnRowOnly) {
  const RoadImportCounts counts = Write({{"2", "", "", "好路", ""}, {"3", "", "", "坏路", ""}, {"4", "", "", "新路", ""}});
  const std::vector<std::string> all{"好路", "坏路", "新路"};
  EXPECT_EQ(Names("roadlightmapinfo"), all);
  EXPECT_EQ(Names("roadlightmapinfomain"), all);
  EXPECT_EQ(Names("roadlightmapinfose"), (std::vector<std::string>{"好路", "新路"}));
  EXPECT_EQ(counts.Of(RoadInfoTable::Se).refused, 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("table roadlightmapinfose, road 坏路"), std::string::npos) << lines_[0];
}

// A second import always meets the rows of the first in the appended tables.
TEST_P(RoadInfoWriting, ReimportIntoKeyedTablesKeepsTheRoadList) {
  for (const char* table : {"roadlightmapinfomain", "roadlightmapinfose"}) {
    db_.Db().ExecuteStatement(fmt::format("create unique index {0}_key on {0} (mainnumber)", table));
  }
  Write({{"2", "", "", "好路", ""}, {"4", "", "", "新路", ""}});
  const RoadImportCounts again = Write({{"2", "", "", "好路", ""}, {"4", "", "", "新路", ""}, {"5", "", "", "后路", ""}});
  const std::vector<std::string> all{"好路", "新路", "后路"};
  EXPECT_EQ(Names("roadlightmapinfo"), all);
  EXPECT_EQ(Names("roadlightmapinfomain"), all);
  EXPECT_EQ(Names("roadlightmapinfose"), all);
  EXPECT_EQ(RoadImportSummary(again),
            "3 roads read, 0 skipped (0 without a name, 0 without a main code); roadlightmapinfo: 3 added, 0 "
            "refused; roadlightmapinfomain: 1 added, 2 refused; roadlightmapinfose: 1 added, 2 refused");
  EXPECT_EQ(diagnostics_.Failures(), 4);
}

TEST_P(RoadInfoWriting, MissingAppendedTableCostsOnlyItsOwnInserts) {
  const struct {
    const char* dropped;
    const char* other;
    const char* summary;
  } cases[] = {
      {"roadlightmapinfomain", "roadlightmapinfose",
       "1 roads read, 0 skipped (0 without a name, 0 without a main code); roadlightmapinfo: 1 added, 0 refused; "
       "roadlightmapinfomain: table missing, nothing added; roadlightmapinfose: 1 added, 0 refused"},
      {"roadlightmapinfose", "roadlightmapinfomain",
       "1 roads read, 0 skipped (0 without a name, 0 without a main code); roadlightmapinfo: 1 added, 0 refused; "
       "roadlightmapinfomain: 1 added, 0 refused; roadlightmapinfose: table missing, nothing added"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dropped);
    InitDatabase(db_.Db());
    db_.Db().ExecuteStatement(std::string("delete from ") + c.other);
    db_.Db().ExecuteStatement(std::string("drop table ") + c.dropped);
    lines_.clear();
    const RoadImportCounts counts = Write({{"2", "", "", "好路", ""}});
    EXPECT_EQ(RoadImportSummary(counts), c.summary);
    EXPECT_EQ(Names("roadlightmapinfo"), std::vector<std::string>{"好路"});
    EXPECT_EQ(Names(c.other), std::vector<std::string>{"好路"});
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_NE(lines_[0].find(std::string("table ") + c.dropped + " is missing"), std::string::npos) << lines_[0];
  }
}

TEST_P(RoadInfoWriting, NothingIsChangedWithoutCommit) {
  {
    RoadInfoReplacement replacement(db_.Db());
    replacement.Clear();
    replacement.Insert(RoadInfoTable::Main, {"2", "", "", "好路", ""});
  }
  EXPECT_EQ(Names("roadlightmapinfo"), std::vector<std::string>{"旧路"});
  EXPECT_TRUE(Names("roadlightmapinfomain").empty());
  // The session works on in autocommit mode.
  db_.Db().ExecuteStatement("insert into roadlightmapinfomain (mainnumber, roadname) values ('5', '后路')");
  EXPECT_EQ(Names("roadlightmapinfomain"), std::vector<std::string>{"后路"});
}

INSTANTIATE_TEST_SUITE_P(Backends, RoadInfoWriting, ::testing::ValuesIn(test::AvailableBackends()),
                         [](const auto& info) { return info.param; });

TEST(RoadInfoStatements, InsertTextsAreExactWithQuotesDoubled) {
  RoadInfo road{"530102", "01", "001", "O'Neil路", "盘龙区"};
  EXPECT_EQ(RoadInfoInsert(RoadInfoTable::Info, road),
            "insert into roadlightmapinfo (mainnumber,senumber,thirdnumber,roadname,belongarea)"
            "values('530102','01','001','O''Neil路','盘龙区')");
  EXPECT_EQ(RoadInfoInsert(RoadInfoTable::Main, road).substr(0, 33), "insert into roadlightmapinfomain ");
  EXPECT_EQ(RoadInfoInsert(RoadInfoTable::Se, road).substr(0, 31), "insert into roadlightmapinfose ");
}

INSTANTIATE_TEST_SUITE_P(Backends, RoadImport, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
