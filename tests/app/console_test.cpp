#include "app/console.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace cuserver {
namespace {

TEST(ConsoleNotATerminal, EveryCaptionIsALineOfItsOwn) {
  std::ostringstream out, err;
  Console console(out, err, 0);
  console.Show("连接数据库成功—进行数据处理！");
  console.Progress(0, 2);
  console.Show("13900000001 - 0 - 20140319");
  console.DiagnosticLine("vehicle skipped");
  console.Finish();
  EXPECT_EQ(out.str(), "连接数据库成功—进行数据处理！\n13900000001 - 0 - 20140319\n");
  EXPECT_EQ(err.str(), "vehicle skipped\n");
}

TEST(ConsoleOnATerminal, OneLineRedrawnWithTheVehicleCount) {
  std::ostringstream out, err;
  Console console(out, err, 80);
  console.Show("a");
  console.Progress(1, 3);
  console.Show("b");
  console.Finish();
  EXPECT_EQ(out.str(), "\ra\x1b[K\r[1/3] b\x1b[K\n");
}

TEST(ConsoleOnATerminal, DiagnosticLineClearsTheProgressLineAndDrawsItAgain) {
  std::ostringstream out, err;
  Console console(out, err, 80);
  console.Progress(0, 1);
  console.Show("x");
  console.DiagnosticLine("report failed");
  EXPECT_EQ(out.str(), "\r[0/1] x\x1b[K\r\x1b[K\r[0/1] x\x1b[K");
  EXPECT_EQ(err.str(), "report failed\n");
}

TEST(ConsoleOnATerminal, LongCaptionIsCutToTheWidth) {
  std::ostringstream out, err;
  Console console(out, err, 10);
  console.Show("20140319数据分析完毕，请查验！");
  EXPECT_EQ(out.str(), "\r20140319\x1b[K");  // a double-width character would not fit in column 9
}

TEST(TerminalColumns, ChineseCharactersTakeTwoAndAreNeverCut) {
  EXPECT_EQ(DisplayColumns("ab"), 2);
  EXPECT_EQ(DisplayColumns("计算"), 4);
  EXPECT_EQ(FitColumns("计算x", 3), "计");
  EXPECT_EQ(FitColumns("计算x", 4), "计算");
  EXPECT_EQ(FitColumns("计算x", 5), "计算x");
  EXPECT_EQ(FitColumns("", 5), "");
  EXPECT_EQ(FitColumns("abc", 0), "");
}

}  // namespace
}  // namespace cuserver
