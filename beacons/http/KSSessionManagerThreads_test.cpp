// One HTTP session manager used from many threads on real queues: every call completes
// exactly once, on the completion queue, while other threads take task snapshots, change
// the serializers' headers and read progress.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "beacons/http/KSHTTPSessionManager.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

TEST(KSSessionManagerThreadsTest, ManyThreadsManyCallsEachCompleteOnce) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  struct Restore {
    ~Restore() { platform::dispatch::Scheduler::setShared(nullptr); }
  } restore;

  velmora::testing::LoopbackHttpServer server;
  server.setDefaultReply({.status = 200, .body = R"({"ok":1})"});
  server.setReply("/api/missing", {.status = 404, .body = "{}"});
  auto manager = KSHTTPSessionManager::create(server.baseUrl() + "/api");
  auto completions = scheduler->makeSerialQueue("test.completions");
  manager->setCompletionQueue(completions);

  constexpr int kThreads = 8;
  constexpr int kCallsPerThread = 25;
  std::mutex mutex;
  std::condition_variable changed;
  int succeeded = 0;
  int failed = 0;
  std::atomic<int> offQueue{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        auto done = [&](bool ok) {
          if (!completions->isCurrent()) ++offQueue;
          std::lock_guard lock(mutex);
          (ok ? succeeded : failed) += 1;
          changed.notify_all();
        };
        const Value parameters = Value::makeDict({{"thread", t}, {"call", i}});
        KSURLSessionManager::TaskPtr task;
        switch (i % 3) {
          case 0:
            task = manager->GET("beacons", parameters, [done](const auto&, const Value&) { done(true); },
                                [done](const auto&, const auto&) { done(false); });
            break;
          case 1:
            task = manager->POST("visits", parameters, [done](const auto&, const Value&) { done(true); },
                                 [done](const auto&, const auto&) { done(false); });
            break;
          default:
            task = manager->GET("missing", parameters, [done](const auto&, const Value&) { done(true); },
                                [done](const auto&, const auto&) { done(false); });
            break;
        }
        // Readers beside the writers.
        (void)manager->tasks();
        (void)manager->downloadProgressForTask(task);
        manager->requestSerializer()->setValue(std::to_string(i), "X-Call");
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(120),
                               [&] { return succeeded + failed == kThreads * kCallsPerThread; }));
  const int missing = kThreads * ((kCallsPerThread + 1) / 3);
  EXPECT_EQ(failed, missing);
  EXPECT_EQ(succeeded, kThreads * kCallsPerThread - missing);
  EXPECT_EQ(offQueue.load(), 0);
  lock.unlock();
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(kThreads * kCallsPerThread));
  manager->session()->invalidateAndCancel();
  completions->sync([] {});
}

}  // namespace
}  // namespace velmora::kestrine
