#include "beacons/http/KSNetworkReachabilityManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimReachability.h"

namespace velmora::kestrine {
namespace {

using platform::sim::SimReachability;

TEST(KSNetworkReachabilityManagerTest, StatusFromFlags) {
  const struct {
    std::uint32_t flags;
    int status;
  } cases[] = {
      {0x0, 0},
      {0x40000, 0},        // WWAN bit without reachable
      {0x2, 2},            // reachable alone: WiFi
      {0x40002, 1},        // reachable over WWAN
      {0x2 | 0x4, 0},      // connection required, nothing brings it up
      {0x2 | 0x4 | 0x8, 2},  // comes up on traffic
      {0x2 | 0x4 | 0x20, 2},  // comes up on demand
      {0x2 | 0x4 | 0x20 | 0x10, 0},  // on demand but needs the user
      {0x2 | 0x4 | 0x8 | 0x40000, 1},
      {0x2 | 0x10, 2},     // intervention alone does not matter without connection required
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KSNetworkReachabilityManager::statusForFlags(c.flags), c.status) << std::hex << c.flags;
  }
}

TEST(KSNetworkReachabilityManagerTest, StatusTexts) {
  const std::pair<int, const char*> cases[] = {
      {-1, "Unknown"}, {0, "Not Reachable"}, {1, "Reachable via WWAN"}, {2, "Reachable via WiFi"}, {7, "Unknown"}};
  for (const auto& [status, text] : cases) EXPECT_EQ(KSStringFromNetworkReachabilityStatus(status), text);
}

struct Fixture {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<SimReachability> sim = SimReachability::create(scheduler);
  KSPlatformBundle bundle() const {
    KSPlatformBundle b;
    b.scheduler = scheduler;
    b.notificationCenter = center;
    b.reachability = sim;
    return b;
  }
};

TEST(KSNetworkReachabilityManagerTest, DeliversStatusBlockThenNotificationOnTheMainQueue) {
  Fixture f;
  auto manager = KSNetworkReachabilityManager::manager(f.bundle());
  ASSERT_TRUE(manager);
  EXPECT_EQ(manager->networkReachabilityStatus(), -1);
  EXPECT_FALSE(manager->isReachable());
  EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Unknown");

  std::vector<std::string> events;
  manager->setReachabilityStatusChangeBlock([&](int status) {
    EXPECT_TRUE(f.scheduler->mainQueue()->isCurrent());
    EXPECT_EQ(manager->networkReachabilityStatus(), status);  // stored before the block runs
    events.push_back("block " + std::to_string(status));
  });
  auto token = f.center->addObserver(std::string(KSNetworkingReachabilityDidChangeNotification), nullptr, nullptr,
                                     [&](const platform::Notification& n) {
                                       EXPECT_TRUE(f.scheduler->mainQueue()->isCurrent());
                                       EXPECT_FALSE(n.object);
                                       ASSERT_EQ(n.userInfo.size(), 1u);
                                       auto status = n.userInfo.at(std::string(
                                           KSNetworkingReachabilityNotificationStatusItem)).toInt64();
                                       events.push_back("note " + std::to_string(status.value_or(99)));
                                     });

  manager->startMonitoring();
  EXPECT_TRUE(events.empty());  // delivered asynchronously
  f.scheduler->runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"block 2", "note 2"}));
  EXPECT_TRUE(manager->isReachableViaWiFi());

  f.sim->setFlagsAfter(5, 0x40002);
  f.sim->setFlagsAfter(10, 0x2 | 0x4);
  f.scheduler->advanceBy(6);
  EXPECT_TRUE(manager->isReachableViaWWAN());
  EXPECT_TRUE(manager->isReachable());
  f.scheduler->advanceBy(5);
  EXPECT_EQ(manager->networkReachabilityStatus(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"block 2", "note 2", "block 1", "note 1", "block 0", "note 0"}));

  manager->stopMonitoring();
  f.sim->setFlags(0x2);
  f.scheduler->runUntilIdle();
  EXPECT_EQ(manager->networkReachabilityStatus(), 0);  // frozen at its last value
  EXPECT_EQ(events.size(), 6u);
  f.center->removeObserver(token);
}

TEST(KSNetworkReachabilityManagerTest, StartingTwiceKeepsOneRegistrationAndReportsTheFirstStatusTwice) {
  Fixture f;
  auto manager = KSNetworkReachabilityManager::managerForDomain(f.bundle(), "api.example.org");
  ASSERT_TRUE(manager);
  std::vector<int> seen;
  manager->setReachabilityStatusChangeBlock([&](int s) { seen.push_back(s); });
  manager->startMonitoring();
  manager->startMonitoring();
  EXPECT_EQ(f.sim->notifierCount(), 1u);
  f.scheduler->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<int>{2, 2}));
  f.sim->setFlags(0x40002);
  f.scheduler->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<int>{2, 2, 1}));  // one registration: one report per change
}

TEST(KSNetworkReachabilityManagerTest, UnreadableFlagsLeaveTheStatusUnknownUntilAChange) {
  Fixture f;
  f.sim->setReadable(false);
  auto manager = KSNetworkReachabilityManager::managerForAddress(f.bundle(), "127.0.0.1");
  ASSERT_TRUE(manager);
  manager->startMonitoring();
  f.scheduler->runUntilIdle();
  EXPECT_EQ(manager->networkReachabilityStatus(), -1);
  f.sim->setFlags(0x40002);
  f.scheduler->runUntilIdle();
  EXPECT_EQ(manager->networkReachabilityStatus(), 1);
}

TEST(KSNetworkReachabilityManagerTest, AManagerNeedsATargetAndStopsWhenItGoesAway) {
  Fixture f;
  EXPECT_FALSE(KSNetworkReachabilityManager::initWithReachability(nullptr, f.scheduler, f.center));
  KSPlatformBundle noBackend = f.bundle();
  noBackend.reachability = nullptr;
  EXPECT_FALSE(KSNetworkReachabilityManager::manager(noBackend));

  int notes = 0;
  auto token = f.center->addObserver(std::string(KSNetworkingReachabilityDidChangeNotification), nullptr, nullptr,
                                     [&](const platform::Notification&) { ++notes; });
  auto manager = KSNetworkReachabilityManager::manager(f.bundle());
  manager->startMonitoring();
  manager.reset();  // the pending first read finds no manager
  EXPECT_EQ(f.sim->notifierCount(), 0u);
  f.sim->setFlags(0);
  f.scheduler->runUntilIdle();
  EXPECT_EQ(notes, 0);
  f.center->removeObserver(token);
}

}  // namespace
}  // namespace velmora::kestrine
