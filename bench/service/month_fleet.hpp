#pragma once

#include <filesystem>
#include <string>

namespace cuserver::bench {

inline constexpr const char* kMonthFleetDay = "20140319";
inline constexpr int kMonthFleetVehicles = 2000;

// The start directory of a fleet of 2000 vehicles (a fix every 30 s all day
// long, 20000 highway segments, 50 speed areas) whose day 20140319 has been
// computed and whose report tables hold the same rows again on the 29 other
// days of March 2014, as a month of nightly runs leaves them. Made once and
// kept under $CUSERVER_BENCH_CACHE (default: the system's temporary folder,
// cuserver-bench-service): a SQLite file, or for "postgresql" a schema on the
// server named by CUSERVER_TEST_PG. Making it takes minutes and is not timed.
std::filesystem::path MonthFleet(const std::string& backend);

}  // namespace cuserver::bench
