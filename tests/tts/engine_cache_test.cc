// The engine cache against the fake runtime: when engines are created and
// destroyed, and in which order.
#include <gtest/gtest.h>

#include "runtime/fake_sherpa.h"
#include "tts/engine_cache.h"

namespace velmora_corvane_tts {
namespace {

using testing::fake;

constexpr const char* kKokoro = "kokoro-82m-v1.1-int8";
constexpr const char* kSupertonic = "supertonic-3-int8";

class EngineCacheTest : public testing::FakeModelsTest {};

TEST_F(EngineCacheTest, EqualDirectorySpellingsReuseTheEngine) {
  EngineCache cache;
  for (const char* dir : {"m/k", "m/k/", "m//k", "m/./k"}) {
    ASSERT_TRUE(cache.acquire(kKokoro, dir).ok()) << dir;
  }
  EXPECT_EQ(fake().engines_created, 1);
  cache.clear();
  EXPECT_EQ(fake().events, (std::vector<std::string>{"create 1", "destroy 1"}));
}

TEST_F(EngineCacheTest, UnequalSpellingsAndOtherModelsReloadNewBeforeOld) {
  EngineCache cache;
  ASSERT_TRUE(cache.acquire(kKokoro, "m/k").ok());
  ASSERT_TRUE(cache.acquire(kKokoro, "./m/k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "./m/k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "m/a/../k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "m/k").ok());
  cache.clear();
  EXPECT_EQ(fake().events,
            (std::vector<std::string>{"create 1", "create 2", "destroy 1", "create 3", "destroy 2",
                                      "create 4", "destroy 3", "create 5", "destroy 4",
                                      "destroy 5"}));
}

TEST_F(EngineCacheTest, FailedLoadKeepsTheCachedEngine) {
  EngineCache cache;
  auto a = cache.acquire(kKokoro, "a");
  ASSERT_TRUE(a.ok());
  const runtime::OfflineTts* engine_a = a.value();

  fake().create_returns_null = true;
  auto b = cache.acquire(kSupertonic, "b");
  ASSERT_FALSE(b.ok());
  EXPECT_EQ(b.error().message(), "Could not load the local speech model from b");
  fake().create_throws = true;
  EXPECT_FALSE(cache.acquire(kSupertonic, "b").ok());

  auto again = cache.acquire(kKokoro, "a/");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value(), engine_a);
  EXPECT_EQ(fake().engines_created, 1);
  EXPECT_EQ(fake().live_engines, 1);
}

TEST_F(EngineCacheTest, FailedLoadOnAnEmptyCacheTriesAgainNextTime) {
  EngineCache cache;
  fake().create_returns_null = true;
  EXPECT_FALSE(cache.acquire(kKokoro, "a").ok());
  EXPECT_TRUE(cache.empty());
  fake().create_returns_null = false;
  EXPECT_TRUE(cache.acquire(kKokoro, "a").ok());
  EXPECT_EQ(fake().creates.size(), 2u);
}

}  // namespace
}  // namespace velmora_corvane_tts
