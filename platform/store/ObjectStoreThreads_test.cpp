#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/store/ObjectStore.h"
#include "testing/TempDir.h"

namespace platform::store {
namespace {

// Threads mixing async and waiting writes, fetches, counts and saves on one store lose
// nothing and never touch the connection off its queue.
TEST(ObjectStoreThreadsTest, ConcurrentCallersAreSerialisedOnTheStoreQueue) {
  velmora::testing::TempDir dir;
  auto scheduler = std::make_shared<dispatch::ThreadScheduler>();
  Model model({Entity{"Row", {{"name", AttributeType::String, false}, {"n", AttributeType::Int64, true, true}}, {}}});
  auto store = ObjectStore::open(model, dir.path() / "t.sqlite", scheduler);
  ASSERT_TRUE(store);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 150;
  const std::size_t errorsBefore = programmingErrorCount();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const Dict values{{"name", Value("r")}, {"n", Value(t * kPerThread + i)}};
        if (i % 2 == 0) {
          store->perform([&failures, values](StoreContext& c) {
            if (!c.insert("Row", values)) ++failures;
          });
        } else {
          store->performAndWait([&](StoreContext& c) {
            if (!c.insert("Row", values)) ++failures;
            if (!c.count("Row", Predicate::ge("n", 0))) ++failures;
          });
        }
        if (i % 10 == 0) {
          store->performAndWait([&](StoreContext& c) {
            if (!c.fetch({.entity = "Row", .predicate = Predicate::eq("n", t * kPerThread), .limit = 1})) ++failures;
          });
        }
        if (i % 25 == 0) store->perform([&failures](StoreContext& c) {
            if (!c.save()) ++failures;
          });
      }
    });
  }
  for (auto& th : threads) th.join();
  std::int64_t total = -1;
  store->performAndWait([&](StoreContext& c) {
    EXPECT_TRUE(c.save());
    total = c.count("Row", {}).value_or(-1);
  });
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(total, kThreads * kPerThread);
  EXPECT_EQ(programmingErrorCount(), errorsBefore);
}

}  // namespace
}  // namespace platform::store
