#include "run/vehicle_shard.hpp"

#include <charconv>

namespace cuserver {
namespace {

std::optional<int> Whole(std::string_view text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

std::uint64_t SimIdHash(std::string_view simId) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : simId) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

bool InShard(std::string_view simId, const VehicleShard& shard) {
  if (shard.count <= 1) return true;
  return SimIdHash(simId) % static_cast<std::uint64_t>(shard.count) ==
         static_cast<std::uint64_t>(shard.number - 1);
}

std::optional<VehicleShard> ParseShard(std::string_view text) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto number = Whole(text.substr(0, slash));
  const auto count = Whole(text.substr(slash + 1));
  if (!number || !count || *count < 1 || *count > kMaxShards || *number < 1 || *number > *count) {
    return std::nullopt;
  }
  return VehicleShard{*number, *count};
}

std::optional<VehicleShard> ParseShard(std::string_view text, const char* completionIndex) {
  constexpr std::string_view kIndex = "index/";
  if (text.substr(0, kIndex.size()) != kIndex) return ParseShard(text);
  if (completionIndex == nullptr) return std::nullopt;
  const auto index = Whole(completionIndex);
  if (!index) return std::nullopt;
  return ParseShard(std::to_string(*index + 1) + "/" + std::string(text.substr(kIndex.size())));
}

std::string ShardText(const VehicleShard& shard) {
  return std::to_string(shard.number) + "/" + std::to_string(shard.count);
}

}  // namespace cuserver
