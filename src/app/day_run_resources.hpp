#pragma once

#include <optional>

#include "app/run_scale_options.hpp"
#include "run/day_run.hpp"
#include "run/run_log.hpp"
#include "run/speed_limits.hpp"

namespace cuserver {

class CommandEnvironment;

// What run-day and run-days give each of their day runs: the environment's
// connection, map, caption and stop flag, the start directory's run log and
// report.ini, the jobs and shard asked for, and the speed limits. The limits
// are the environment's when it holds them, else loaded here once (a caption
// of its own: the run's own connection shows the caption); when they cannot
// be, each day run loads them itself.
class DayRunResources {
 public:
  DayRunResources(CommandEnvironment& env, const RunScaleOptions& scale);
  DayRunResources(const DayRunResources&) = delete;
  DayRunResources& operator=(const DayRunResources&) = delete;

  const DayRunSetup& Setup() const { return *setup_; }

 private:
  ConnectionSettings connection_;
  RunLog runLog_;
  SpeedLimitTable ownLimits_;
  std::optional<DayRunSetup> setup_;
};

}  // namespace cuserver
