#include "platform/sim/SimApp.h"

#include <gtest/gtest.h>

#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

namespace velmora::platform::sim {
namespace {

using app::ApplicationState;
using Step = SimApp::Step;

struct AppFixture : ::testing::Test {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  NotificationCenter center;
  velmora::testing::TempDir dir;
  std::shared_ptr<SimApp> sim = SimApp::create(scheduler, center, dir.path());
  std::vector<std::string> log;  // "<notification> <state seen by the observer> <on main>"
  NotificationCenter::ObserverToken token;

  void SetUp() override {
    std::shared_ptr<app::Application> app = sim;
    token = center.addObserver("", app.get(), nullptr, [this](const Notification& n) {
      log.push_back(n.name.substr(13) + " " + std::to_string(static_cast<int>(sim->applicationState())) +
                    (scheduler->mainQueue()->isCurrent() ? "" : " off-main"));
    });
  }
  void TearDown() override { center.removeObserver(token); }
};

TEST_F(AppFixture, LifecycleStepsPostOnTheMainQueueWithTheNewState) {
  const struct {
    Step step;
    std::vector<std::string> posted;
  } steps[] = {
      {Step::LaunchForeground, {"DidFinishLaunchingNotification 1", "DidBecomeActiveNotification 0"}},
      {Step::Activate, {}},
      {Step::EnterBackground, {"WillResignActiveNotification 1", "DidEnterBackgroundNotification 2"}},
      {Step::EnterBackground, {}},
      {Step::EnterForeground, {"WillEnterForegroundNotification 1", "DidBecomeActiveNotification 0"}},
      {Step::ResignActive, {"WillResignActiveNotification 1"}},
      {Step::Activate, {"DidBecomeActiveNotification 0"}},
      {Step::Terminate, {"WillTerminateNotification 0"}},
      {Step::EnterBackground, {}},
  };
  EXPECT_EQ(sim->applicationState(), ApplicationState::Inactive);
  for (const auto& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.step));
    log.clear();
    sim->perform(s.step);
    EXPECT_TRUE(log.empty());  // nothing until the main queue runs
    scheduler->runUntilIdle();
    EXPECT_EQ(log, s.posted);
  }
}

TEST_F(AppFixture, ScriptedStepsPlayAtTheirTimes) {
  sim->performAfter(1, Step::LaunchBackground);
  sim->performAfter(5, Step::EnterForeground);
  scheduler->advanceBy(2);
  EXPECT_EQ(sim->applicationState(), ApplicationState::Background);
  EXPECT_EQ(log, std::vector<std::string>{"DidFinishLaunchingNotification 2"});
  scheduler->advanceBy(3);
  EXPECT_EQ(sim->applicationState(), ApplicationState::Active);
}

TEST_F(AppFixture, RecordsNotificationsBadgeActivitiesAndIdentity) {
  EXPECT_EQ(sim->documentsDirectory(), dir.path());
  sim->presentLocalNotificationNow({.alertBody = "Welcome", .applicationIconBadgeNumber = 3});
  sim->setApplicationIconBadgeNumber(3);
  ASSERT_EQ(sim->presentedNotifications().size(), 1u);
  EXPECT_EQ(sim->presentedNotifications()[0].alertBody, "Welcome");
  EXPECT_EQ(sim->applicationIconBadgeNumber(), 3);

  auto a = sim->beginBackgroundActivity("OTA Firmware Upgrade");
  auto b = sim->beginBackgroundActivity("other");
  sim->endBackgroundActivity(a);
  EXPECT_EQ(sim->heldBackgroundActivities(), std::vector<std::string>{"other"});
  ASSERT_EQ(sim->backgroundActivityLog().size(), 2u);
  EXPECT_TRUE(sim->backgroundActivityLog()[0].ended);

  EXPECT_FALSE(sim->advertisingIdentity().managerPresent);
  const app::AdvertisingIdentity id{.managerPresent = true, .trackingEnabled = true, .identifier = Uuid::random()};
  sim->setAdvertisingIdentity(id);
  EXPECT_EQ(sim->advertisingIdentity(), id);
}

TEST(HostProcessApplicationTest, IsAlwaysActiveWithoutAdvertisingManager) {
  auto host = app::Application::hostProcess();
  EXPECT_EQ(host->applicationState(), ApplicationState::Active);
  EXPECT_FALSE(host->advertisingIdentity().managerPresent);
  EXPECT_FALSE(host->documentsDirectory().empty());
}

}  // namespace
}  // namespace velmora::platform::sim
