#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/store/ObjectStore.h"
#include "testing/TempDir.h"

namespace velmora::platform::store {
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

// Work that threads perform joins whatever batch is waiting, yet each thread's work runs in
// the order it was performed, and all of it before any later wait of the same thread.
TEST(ObjectStoreThreadsTest, EachThreadsWorkRunsInOrderAndBeforeItsLaterWaits) {
  velmora::testing::TempDir dir;
  auto scheduler = std::make_shared<dispatch::ThreadScheduler>();
  Model model({Entity{"Row", {{"n", AttributeType::Int64}}, {}}});
  auto store = ObjectStore::open(model, dir.path() / "t.sqlite", scheduler);
  ASSERT_TRUE(store);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 400;
  // Touched only on the store's queue.
  std::vector<std::vector<int>> ran(kThreads);
  std::atomic<int> early{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        store->perform([&ran, t, i](StoreContext&) { ran[t].push_back(i); });
        if (i % 7 == 0) {
          store->performAndWait([&, t, i](StoreContext&) {
            if (ran[t].size() != static_cast<std::size_t>(i) + 1) ++early;
          });
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  store->performAndWait([](StoreContext&) {});
  EXPECT_EQ(early.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    std::vector<int> expected(kPerThread);
    for (int i = 0; i < kPerThread; ++i) expected[i] = i;
    EXPECT_EQ(ran[t], expected) << "thread " << t;
  }
}

}  // namespace
}  // namespace velmora::platform::store
