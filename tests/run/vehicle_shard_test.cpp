#include "run/vehicle_shard.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <optional>
#include <utility>
#include <vector>

namespace cuserver {
namespace {

TEST(VehicleShard, HashIsSixtyFourBitFnv1aOfTheSimIdBytes) {
  // Reference values of FNV-1a 64 (empty text: the offset basis).
  EXPECT_EQ(SimIdHash(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(SimIdHash("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(SimIdHash("foobar"), 0x85944171f73967e8ULL);
}

TEST(VehicleShard, EveryVehicleFallsInExactlyOneShardAndTheShardsAreBalanced) {
  std::vector<int> sizes(3, 0);
  for (int i = 0; i < 3000; ++i) {
    const std::string simId = fmt::format("1390{:07}", i);
    int shards = 0;
    for (int k = 1; k <= 3; ++k) {
      if (InShard(simId, {k, 3})) {
        ++shards;
        ++sizes[static_cast<std::size_t>(k - 1)];
      }
    }
    EXPECT_EQ(shards, 1) << simId;
    EXPECT_TRUE(InShard(simId, {}));
  }
  for (int size : sizes) EXPECT_NEAR(size, 1000, 150);
}

TEST(VehicleShard, ParsesKOfNCountedFromOne) {
  ASSERT_TRUE(ParseShard("1/2"));
  EXPECT_EQ(ParseShard("2/2")->number, 2);
  EXPECT_EQ(ParseShard("2/2")->count, 2);
  EXPECT_EQ(ShardText(*ParseShard("3/16")), "3/16");
  for (const char* bad : {"0/2", "3/2", "1/0", "2", "/2", "1/", "-1/2", "1/2/3", "a/2", "1 /2", "1/10001", ""}) {
    EXPECT_FALSE(ParseShard(bad)) << bad;
  }
}

// A Kubernetes Indexed Job gives its pods the indexes 0 to N-1: pod i computes shard i+1 of N.
TEST(VehicleShard, IndexOfNTakesTheCompletionIndexCountedFromZero) {
  struct Case {
    const char* text;
    const char* index;
    std::optional<std::pair<int, int>> shard;
  };
  for (const Case& c : std::vector<Case>{{"index/4", "0", std::pair{1, 4}},
                                         {"index/4", "3", std::pair{4, 4}},
                                         {"2/4", nullptr, std::pair{2, 4}},
                                         {"index/4", "4", std::nullopt},
                                         {"index/4", nullptr, std::nullopt},
                                         {"index/4", "", std::nullopt},
                                         {"index/4", "-1", std::nullopt},
                                         {"index/4", "1x", std::nullopt},
                                         {"index/0", "0", std::nullopt}}) {
    const auto shard = ParseShard(c.text, c.index);
    ASSERT_EQ(shard.has_value(), c.shard.has_value()) << c.text << " " << (c.index ? c.index : "(unset)");
    if (shard) {
      EXPECT_EQ(std::pair(shard->number, shard->count), *c.shard) << c.text;
    }
  }
}

}  // namespace
}  // namespace cuserver
