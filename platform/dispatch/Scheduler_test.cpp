#include "platform/dispatch/Scheduler.h"

#include <gtest/gtest.h>

#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::platform::dispatch {
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

}  // namespace
}  // namespace velmora::platform::dispatch
