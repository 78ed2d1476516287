#include "beacons/foundation/KSDefinitionsInternal.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "beacons/foundation/KSInstanceProvider.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::sim::SimApp;

class KSDefinitionsInternalTest : public ::testing::Test {
 protected:
  velmora::testing::SimWorld world;
  void SetUp() override { KSInstanceProvider::setSharedProvider(KSInstanceProvider::create(world.bundle())); }
  void TearDown() override { KSInstanceProvider::setSharedProvider(nullptr); }
};

// Lifecycle observers read the new state: no while resigning, yes once in the background,
// no again when coming back to the foreground.
TEST_F(KSDefinitionsInternalTest, FollowsTheAppLifecycle) {
  std::vector<std::string> seen;
  auto token = world.center->addObserver("", nullptr, nullptr, [&](const platform::Notification& n) {
    seen.push_back(n.name + (KSDefinitionsInternal::isAppInBackground() ? " background" : " foreground"));
  });
  world.app->perform(SimApp::Step::LaunchForeground);
  world.app->performAfter(1, SimApp::Step::EnterBackground);
  world.app->performAfter(2, SimApp::Step::EnterForeground);
  world.advanceBy(3);
  world.center->removeObserver(token);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "UIApplicationDidFinishLaunchingNotification foreground",
                      "UIApplicationDidBecomeActiveNotification foreground",
                      "UIApplicationWillResignActiveNotification foreground",
                      "UIApplicationDidEnterBackgroundNotification background",
                      "UIApplicationWillEnterForegroundNotification foreground",
                      "UIApplicationDidBecomeActiveNotification foreground",
                  }));
  EXPECT_FALSE(KSDefinitionsInternal::isAppInBackground(world.app.get()));
}

// A thread other than the main one gets its answer while the main queue is not being
// drained at all (the test thread is blocked in join): the check never waits for it.
TEST_F(KSDefinitionsInternalTest, AnswersOffTheMainQueueWithoutWaitingForIt) {
  world.app->perform(SimApp::Step::LaunchBackground);
  world.runUntilIdle();
  bool inBackground = false;
  std::thread worker([&] { inBackground = KSDefinitionsInternal::isAppInBackground(); });
  worker.join();
  EXPECT_TRUE(inBackground);
}

// No app at all (a registry made without one), or a null app, is never in the background.
TEST(KSDefinitionsInternal, WithoutAnAppIsNotInBackground) {
  KSInstanceProvider::setSharedProvider(KSInstanceProvider::create({}));
  EXPECT_FALSE(KSDefinitionsInternal::isAppInBackground());
  KSInstanceProvider::setSharedProvider(nullptr);
  EXPECT_FALSE(KSDefinitionsInternal::isAppInBackground(nullptr));
}

}  // namespace
}  // namespace velmora::kestrine
