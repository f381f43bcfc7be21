#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cuserver {

// Shard `number` of `count` (numbered from 1): the vehicles whose SIMID hash
// modulo `count` is `number - 1`. Several machines, each running one shard
// against the same server database, together compute every vehicle once.
// The default shard 1/1 holds every vehicle.
struct VehicleShard {
  int number = 1;
  int count = 1;
};

inline constexpr int kMaxShards = 10000;

// 64-bit FNV-1a of the SIMID's bytes as the catalogue stores them. Stable
// across machines, builds and releases: changing it would move vehicles
// between the shards of machines that run different versions.
std::uint64_t SimIdHash(std::string_view simId);

bool InShard(std::string_view simId, const VehicleShard& shard);

// "K/N" with 1 <= K <= N <= kMaxShards, digits only; nullopt otherwise.
std::optional<VehicleShard> ParseShard(std::string_view text);

// ParseShard, and also "index/N": shard K of N where K - 1 is
// `completionIndex` (a Kubernetes Indexed Job gives each of its N pods its
// index, from 0, in JOB_COMPLETION_INDEX); nullopt when that index is
// missing, not a whole number or not below N.
std::optional<VehicleShard> ParseShard(std::string_view text, const char* completionIndex);

// "K/N"
std::string ShardText(const VehicleShard& shard);

}  // namespace cuserver
