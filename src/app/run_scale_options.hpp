#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

#include "run/vehicle_shard.hpp"

namespace CLI {
class App;
}

namespace cuserver {

inline constexpr int kMaxJobs = 64;

// The number of cores, at least 1.
int DefaultJobs();

// --jobs N and --shard K/N of the commands that run days: how many workers
// compute the vehicles, and which share of the fleet this machine computes.
// Without shards (the road-segment alarm run) only --jobs is offered.
class RunScaleOptions {
 public:
  explicit RunScaleOptions(bool shards = true) : shards_(shards) {}

  void AddTo(CLI::App& command);
  // {"jobs": 2, "shard": "1/2"}; absent members keep the defaults.
  void FromJson(const nlohmann::json& arguments);
  // Throws ArgumentError for a job count outside 1 to kMaxJobs or a shard
  // that is not K/N with 1 <= K <= N.
  void Setup();

  int Jobs() const { return jobs_; }
  const VehicleShard& Shard() const { return shard_; }

 private:
  bool shards_;
  std::string jobsText_;
  std::string shardText_;
  int jobs_ = 1;
  VehicleShard shard_;
};

}  // namespace cuserver
