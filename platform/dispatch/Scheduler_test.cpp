#include "platform/dispatch/Scheduler.h"

#include <gtest/gtest.h>

#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace platform::dispatch {
namespace {

TEST(SchedulerTest, SharedIsTheDefaultThreadSchedulerUnlessOneIsInstalled) {
  const auto original = Scheduler::shared();
  ASSERT_NE(original, nullptr);
  EXPECT_NE(dynamic_cast<ThreadScheduler*>(original.get()), nullptr);
  EXPECT_EQ(Scheduler::shared(), original);

  auto virtualScheduler = std::make_shared<VirtualScheduler>();
  Scheduler::setShared(virtualScheduler);
  EXPECT_EQ(Scheduler::shared(), virtualScheduler);
  Scheduler::setShared(nullptr);
  EXPECT_EQ(Scheduler::shared(), original);
}

TEST(SchedulerTest, ExternalWorkTokensExistOnBothSchedulers) {
  ThreadScheduler threads;
  VirtualScheduler virtualTime;
  EXPECT_NE(threads.beginExternalWork(), nullptr);
  EXPECT_NE(virtualTime.beginExternalWork(), nullptr);
}

}  // namespace
}  // namespace platform::dispatch
