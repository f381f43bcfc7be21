#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reports/settings.hpp"
#include "support/temp_dir.hpp"

namespace cuserver {
namespace {

constexpr const char* kFlagMessage = "你输入的判断格式不正确，这里只能输入TRUE或者FALSE";
constexpr const char* kTimeMessage = "你输入的时间格式不正确，正确时间格式是：06:30或者20:30!";
constexpr const char* kSpeedMessage = "你输入的速度阀值不正确，正确格式50~150之间的数字";

class Settings : public ::testing::Test {
 protected:
  Settings() : file_(dir_.Path() / "report.ini") {}

  void Write(const std::string& general) {
    std::ofstream(file_, std::ios::binary) << "[General]\r\n" << general;
  }
  // A file whose flag and time keys are right, with the given speed keys.
  void WriteSpeeds(const std::string& speeds) {
    Write("USECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\n" + speeds);
  }
  ReportSettings Load(const std::string& simId = "1390") {
    return LoadReportSettings(simId, file_, limits, diagnostics);
  }
  // The messages counted so far, each with its count, as the run flushes them.
  std::vector<std::string> Flushed() {
    lines.clear();
    diagnostics.FlushMessages();
    return lines;
  }

  std::vector<std::string> lines;
  Diagnostics diagnostics{[this](const std::string& line) { lines.push_back(line); }};
  SpeedLimitTable limits;

 private:
  TempDir dir_;
  std::filesystem::path file_;
};

TEST_F(Settings, LimitsFromTheFileWithDefaultsForAbsentKeys) {
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\n");
  const ReportSettings s = Load();
  EXPECT_EQ(s.generalLimit, 80);
  EXPECT_EQ(s.highwayLimit, 120);
  EXPECT_EQ(s.highSpeedCap, 1000);
  EXPECT_EQ(s.minEpisodeSeconds, 0);
  EXPECT_TRUE(Flushed().empty());
}

TEST_F(Settings, OverlongSpeedIsToldAndStillUsed) {
  WriteSpeeds("GENERALWAY=8000\r\nHIGHWAY=120\r\n");
  EXPECT_EQ(Load().generalLimit, 8000);
  EXPECT_EQ(Flushed(), std::vector<std::string>{std::string(kSpeedMessage) + " (1 vehicles)"});
}

TEST_F(Settings, EpisodeMinimumNeedsTwoOrThreeCharacters) {
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\nSPEEDTIMESPAN=5\r\n");
  EXPECT_EQ(Load().minEpisodeSeconds, 0);
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\nSPEEDTIMESPAN=60\r\n");
  EXPECT_EQ(Load().minEpisodeSeconds, 60);
  EXPECT_TRUE(Flushed().empty());
}

TEST_F(Settings, CapOfFourCharactersFallsBackTo1000) {
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\nHIGHSPEED=1000\r\n");
  EXPECT_EQ(Load().highSpeedCap, 1000);
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\nHIGHSPEED=250\r\n");
  EXPECT_EQ(Load().highSpeedCap, 250);
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\nHIGHSPEED=9\r\n");
  EXPECT_EQ(Load().highSpeedCap, 1000);
}

TEST_F(Settings, FlagIsCheckedByLengthOnly) {
  Write("USECAR=false\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n");
  Load();
  EXPECT_TRUE(Flushed().empty());
  Write("USECAR=NO\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n");
  Load();
  EXPECT_EQ(Flushed(), std::vector<std::string>{std::string(kFlagMessage) + " (1 vehicles)"});
}

TEST_F(Settings, ShortTimeIsToldAndChangesNothing) {
  Write("USECAR=TRUE\r\nBEGINTIME=6:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n");
  const ReportSettings s = Load();
  EXPECT_EQ(s.generalLimit, 80);
  EXPECT_EQ(Flushed(), std::vector<std::string>{std::string(kTimeMessage) + " (1 vehicles)"});
}

TEST_F(Settings, MissingFileTellsEachMessageOncePerVehicle) {
  for (int vehicle = 0; vehicle < 3; ++vehicle) {
    const ReportSettings s = Load();
    EXPECT_EQ(s.generalLimit, 0);
    EXPECT_EQ(s.highwayLimit, 0);
    EXPECT_EQ(s.highSpeedCap, 1000);
    EXPECT_EQ(s.minEpisodeSeconds, 0);
  }
  // BEGINTIME and ENDTIME, GENERALWAY and HIGHWAY each raise their message, counted once per vehicle.
  EXPECT_EQ(Flushed(), (std::vector<std::string>{std::string(kFlagMessage) + " (3 vehicles)",
                                                 std::string(kTimeMessage) + " (3 vehicles)",
                                                 std::string(kSpeedMessage) + " (3 vehicles)"}));
}

TEST_F(Settings, LeadingDigitsOnly) {
  WriteSpeeds("GENERALWAY=8x\r\nHIGHWAY=abc\r\nHIGHSPEED= 90\r\n");
  const ReportSettings s = Load();
  EXPECT_EQ(s.generalLimit, 8);
  EXPECT_EQ(s.highwayLimit, 0);
  EXPECT_EQ(s.highSpeedCap, 90);  // the value is read trimmed: "90", two characters
}

TEST_F(Settings, VehicleLimitsAboveTenTakePrecedence) {
  WriteSpeeds("GENERALWAY=80\r\nHIGHWAY=120\r\n");
  limits = {{"1391", "50", "50"}, {"1390", "60", "10"}, {"1390", "70", "90"}};
  ReportSettings s = Load("1390");
  EXPECT_EQ(s.generalLimit, 60);
  EXPECT_EQ(s.highwayLimit, 120);
  limits = {{"1390", "", "100km"}};
  s = Load("1390");
  EXPECT_EQ(s.generalLimit, 80);
  EXPECT_EQ(s.highwayLimit, 100);
  s = Load("13900");
  EXPECT_EQ(s.generalLimit, 80);
}

}  // namespace
}  // namespace cuserver
