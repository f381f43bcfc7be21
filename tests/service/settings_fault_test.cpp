#include <gtest/gtest.h>

#include <fstream>

#include "service_fixture.hpp"

namespace cuserver {
namespace {

TEST(ServiceStatus, NamesTheReportIniKeyToFixUntilItIsFixed) {
  ServiceFixture fixture;
  Service& service = fixture.Started();
  service.Queue().WaitIdle();
  EXPECT_TRUE(service.Status()["settingsFault"].is_null());
  const auto file = fixture.start.Path() / "report.ini";
  std::ofstream(file, std::ios::binary) << "[General]\r\nGENERALWAY=80\r\nHIGHWAY=1200\r\n";
  const nlohmann::json fault = service.Status()["settingsFault"];
  ASSERT_TRUE(fault.is_string());
  EXPECT_EQ(fault.get<std::string>(),
            file.string() + ": fix HIGHWAY in section [General] (a speed limit of 2 or 3 digits, km/h): "
                            "HIGHWAY=1200 has 4 characters");
  std::ofstream(file, std::ios::binary) << "[General]\r\nGENERALWAY=80\r\nHIGHWAY=120\r\n";
  EXPECT_TRUE(service.Status()["settingsFault"].is_null());
}

}  // namespace
}  // namespace cuserver
