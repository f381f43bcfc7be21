#include "app/run_scale_options.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdlib>
#include <thread>

#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "reports/translate.hpp"

namespace cuserver {

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxJobs));
}

void RunScaleOptions::AddTo(CLI::App& command) {
  command.add_option("--jobs", jobsText_,
                     TrFormat("Workers computing vehicles at once, each with its own database session "
                              "(1 to {}; default: the number of cores, here {})",
                                 kMaxJobs, DefaultJobs()))
      ->type_name("N");
  if (!shards_) return;
  command.add_option("--shard", shardText_,
                     Tr("Compute only shard K of N (K from 1): the vehicles whose SIMID's 64-bit FNV-1a hash "
                        "modulo N is K-1. Run shards 1/N to N/N, on one machine each, against the same server "
                        "database to share a day; together they write what one run writes. index/N takes "
                        "K-1 from JOB_COMPLETION_INDEX, as a Kubernetes Indexed Job sets it"))
      ->type_name("K/N");
}

void RunScaleOptions::FromJson(const nlohmann::json& arguments) {
  jobsText_.clear();
  shardText_.clear();
  JsonText(arguments, "jobs", jobsText_);
  if (shards_) JsonText(arguments, "shard", shardText_);
}

void RunScaleOptions::Setup() {
  jobs_ = DefaultJobs();
  if (!jobsText_.empty()) {
    if (jobsText_.size() > 3 || jobsText_.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(jobsText_) < 1 || std::stoi(jobsText_) > kMaxJobs) {
      throw ArgumentError(TrFormat("--jobs (jobs) is a whole number from 1 to {}", kMaxJobs));
    }
    jobs_ = std::stoi(jobsText_);
  }
  shard_ = VehicleShard{};
  if (!shardText_.empty()) {
    const auto shard = ParseShard(shardText_, std::getenv("JOB_COMPLETION_INDEX"));
    if (!shard) {
      throw ArgumentError(TrFormat("--shard (shard) is K/N with 1 <= K <= N <= {}, for example 1/2", kMaxShards));
    }
    shard_ = *shard;
  }
}

}  // namespace cuserver
