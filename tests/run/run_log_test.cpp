#include "run/run_log.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.hpp"

namespace cuserver {
namespace {

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RunLogFile : public ::testing::Test {
 protected:
  TempDir dir_;
  std::filesystem::path file_ = dir_.Path() / std::u8string(u8"运算过程.log");
};

TEST_F(RunLogFile, FirstEntryCreatesTheFileUnderItsChineseName) {
  RunLog log(dir_.Path());
  EXPECT_FALSE(std::filesystem::exists(file_));
  log.Append("first");
  EXPECT_EQ(ReadBytes(file_), "first\r\n");
  EXPECT_EQ(log.File(), file_);
}

TEST_F(RunLogFile, LineOfTheDayRunGetsAnEmptyLineAfterIt) {
  RunLog(dir_.Path()).Append("20140319计算13900000001报表成功结束\r\n");
  EXPECT_EQ(ReadBytes(file_), "20140319计算13900000001报表成功结束\r\r\n\r\n");
}

TEST_F(RunLogFile, EmptyTextIsOneLineEnd) {
  RunLog(dir_.Path()).Append("");
  EXPECT_EQ(ReadBytes(file_), "\r\n");
}

TEST_F(RunLogFile, EveryLineFeedInsideTheTextBecomesCarriageReturnLineFeed) {
  RunLog(dir_.Path()).Append("a\nb\n\nc");
  EXPECT_EQ(ReadBytes(file_), "a\r\nb\r\n\r\nc\r\n");
}

TEST_F(RunLogFile, EntriesAreAddedAfterWhatTheFileHeld) {
  {
    std::ofstream earlier(file_, std::ios::binary);
    earlier << "kept\r\n";
  }
  RunLog log(dir_.Path());
  log.Append("one");
  log.Append("two");
  EXPECT_EQ(ReadBytes(file_), "kept\r\none\r\ntwo\r\n");
}

TEST_F(RunLogFile, DeletedBetweenEntriesTheNextEntryStartsANewFile) {
  RunLog log(dir_.Path());
  log.Append("one");
  std::filesystem::remove(file_);
  log.Append("two");
  EXPECT_EQ(ReadBytes(file_), "two\r\n");
}

TEST_F(RunLogFile, ReadOnlyFileCostsTheEntryAndNothingElse) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes to read-only files";
  {
    std::ofstream earlier(file_, std::ios::binary);
    earlier << "kept\r\n";
  }
  std::filesystem::permissions(file_, std::filesystem::perms::owner_read);
  EXPECT_NO_THROW(RunLog(dir_.Path()).Append("lost"));
  EXPECT_EQ(ReadBytes(file_), "kept\r\n");
}

TEST_F(RunLogFile, UnopenableLogCostsTheEntryAndNothingElse) {
  std::filesystem::create_directory(file_);  // a folder where the file should be
  EXPECT_NO_THROW(RunLog(dir_.Path()).Append("lost"));
  EXPECT_NO_THROW(RunLog(dir_.Path() / "missing-folder").Append("lost"));
  EXPECT_TRUE(std::filesystem::is_directory(file_));
}

TEST_F(RunLogFile, EntriesOfSeveralThreadsStayWhole) {
  RunLog log(dir_.Path());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) log.Append(std::string(50, static_cast<char>('a' + t)));
    });
  }
  for (auto& thread : threads) thread.join();
  std::string bytes = ReadBytes(file_);
  ASSERT_EQ(bytes.size(), 4u * 200u * 52u);
  for (std::size_t at = 0; at < bytes.size(); at += 52) {
    EXPECT_EQ(bytes.substr(at, 50), std::string(50, bytes[at]));
    EXPECT_EQ(bytes.substr(at + 50, 2), "\r\n");
  }
}

TEST(RunLogEncoding, Gb18030StoresTheOldCodePageBytes) {
  EXPECT_EQ(RunLogEntryBytes("计算\r\n", RunLogEncoding::Gb18030), "\xBC\xC6\xCB\xE3\r\r\n\r\n");
  EXPECT_EQ(RunLogEntryBytes("计算", RunLogEncoding::Utf8), "计算\r\n");
}

TEST(RunLogEncoding, TextThatIsNotUtf8IsKeptRatherThanLost) {
  EXPECT_EQ(RunLogEntryBytes("\xFF\xFE", RunLogEncoding::Gb18030), "\xFF\xFE\r\n");
}

TEST(RunLogEncoding, ChosenBySettingWithoutRegardToCase) {
  EXPECT_EQ(ReadRunLogEncoding(IniFile::Parse("[General]\nRunLogEncoding=gb18030\n")),
            RunLogEncoding::Gb18030);
  EXPECT_EQ(ReadRunLogEncoding(IniFile::Parse("[General]\nRunLogEncoding=UTF-8\n")), RunLogEncoding::Utf8);
  EXPECT_EQ(ReadRunLogEncoding(IniFile::Parse("[General]\nUSERID=a\n")), RunLogEncoding::Utf8);
}

TEST(RunLogEncoding, Gb18030FileOnDisk) {
  TempDir dir;
  RunLog(dir.Path(), RunLogEncoding::Gb18030).Append("计算");
  EXPECT_EQ(ReadBytes(dir.Path() / std::u8string(u8"运算过程.log")), "\xBC\xC6\xCB\xE3\r\n");
}

}  // namespace
}  // namespace cuserver
