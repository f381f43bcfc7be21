#include "run/vehicle_shard.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

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

}  // namespace
}  // namespace cuserver
