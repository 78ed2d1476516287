// The micro-location manager and the local-notification manager on real threads: one thread
// plays the hub's passes into the site manager and the visit tracker while four host threads
// monitor, range, snapshot and ask for states, schedule and cancel notifications, send region
// events and rerun the start's reload.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "platform/app/Application.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

struct Counter : KSMicroLocationManagerDelegate {
  void microLocationManagerDidUpdateMicroLocations(KSMicroLocationManager*, MicroLocations m) override {
    if (m.empty() || m.size() > 2) ++wrong;
    ++snapshots;
  }
  void microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers) override {
    ++begins;
  }
  void microLocationManagerDidDetermineStateForSite(KSMicroLocationManager*, std::uint64_t,
                                                    std::shared_ptr<KSSite>) override {
    ++states;
  }
  std::atomic<int> snapshots{0}, begins{0}, states{0}, wrong{0};
};

// An app that only counts what it is asked to present.
struct CountingApp : platform::app::Application {
  platform::app::ApplicationState applicationState() const override { return platform::app::ApplicationState::Active; }
  std::filesystem::path documentsDirectory() const override { return {}; }
  void presentLocalNotificationNow(const platform::app::LocalNotification&) override { ++presented; }
  long applicationIconBadgeNumber() const override { return badge.load(); }
  void setApplicationIconBadgeNumber(long n) override { badge = n; }
  std::shared_ptr<platform::app::BackgroundActivity> beginBackgroundActivity(std::string) override { return nullptr; }
  void endBackgroundActivity(const std::shared_ptr<platform::app::BackgroundActivity>&) override {}
  platform::app::AdvertisingIdentity advertisingIdentity() const override { return {}; }
  std::atomic<int> presented{0};
  std::atomic<long> badge{0};
};

TEST(MicroLocationThreads, PassesWithHostCallsNotificationsRegionEventsAndReloads) {
  auto clock = std::make_shared<platform::ManualClock>(Date::fromUnixSeconds(1'800'000'000));
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>(clock);
  auto center = std::make_shared<platform::NotificationCenter>();
  KSSiteManagerInternal::Ports sitePorts;
  sitePorts.scheduler = scheduler;
  sitePorts.center = center;
  auto sites = KSSiteManagerInternal::create(sitePorts);
  std::atomic<int> posts{0};
  KSVisitTracker::Ports trackerPorts;
  trackerPorts.scheduler = scheduler;
  trackerPorts.center = center;
  trackerPorts.postBeaconVisit = [&posts](std::shared_ptr<KSBeaconVisit>) { ++posts; };
  auto tracker = KSVisitTracker::create(trackerPorts);

  auto delegateQueue = scheduler->makeSerialQueue("host delegate");
  auto manager = KSMicroLocationManager::create({scheduler, center, sites, tracker, delegateQueue});
  auto counter = std::make_shared<Counter>();
  manager->setDelegate(counter);
  manager->startUpdatingMicroLocation();
  auto app = std::make_shared<CountingApp>();
  auto notifications = KSLocalNotificationManager::create({scheduler, center, app, sites, clock});
  std::mutex presentedMutex;
  std::map<std::shared_ptr<platform::Object>, int> presentedTimes;  // held, so no address is reused
  auto token = center->addObserver(std::string(KSLocalNotificationManagerDidPresentLocalNotification), nullptr,
                                   nullptr, [&](const platform::Notification& n) {
                                     auto it = n.userInfo.find(KSLocalNotificationManagerLocalNotificationItem);
                                     ASSERT_NE(it, n.userInfo.end());
                                     std::lock_guard lock(presentedMutex);
                                     ++presentedTimes[*it->second.object()];
                                   });

  auto food = std::make_shared<KSCategory>();
  food->setCategoryID("c-food");
  std::vector<std::shared_ptr<KSBeacon>> beacons;
  for (int i = 0; i < 6; ++i) {
    auto site = std::make_shared<KSSite>();
    site->setSiteID("S" + std::to_string(i % 3));
    site->setSyncStatus(KSSyncStatusSynced);
    sites->cacheSite(site, true, false);
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID("b" + std::to_string(i));
    b->setSiteID("S" + std::to_string(i % 3));
    b->setSerialNumber("SN-" + std::to_string(i));
    b->setSyncStatus(KSSyncStatusSynced);
    b->setCategories(std::vector{food});
    b->setProximity(1 + i % 3);
    b->setAccuracy(1.0 + i);
    beacons.push_back(b);
  }

  constexpr int kPasses = 300;
  std::atomic<bool> done{false};
  std::thread hub([&] {
    for (int i = 0; i < kPasses; ++i) {
      const bool seen = (i / 20) % 2 == 0;  // sites are entered and left, visits begin and end
      const auto heard = seen ? beacons : std::vector<std::shared_ptr<KSBeacon>>{};
      sites->beaconManagerInternalDidRangeKestrineBeacons(nullptr, heard);
      tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, heard);
      clock->advance(1.0);
    }
    done = true;
  });
  std::atomic<int> scheduled{0};
  std::vector<std::thread> hosts;
  for (int h = 0; h < 4; ++h) {
    hosts.emplace_back([&, h] {
      auto region = std::make_shared<KSBeaconRegion>();
      region->setIdentifier("R" + std::to_string(h));
      int round = 0;
      while (!done || round < 50) {
        auto site = sites->cachedSiteWithSiteID("S" + std::to_string(round % 3));
        if (round % 3 == 0) manager->startRangingBeaconsInSite(site);
        if (round % 7 == 0) manager->stopMonitoringSite(site);
        if (round % 5 == 0) manager->requestStateForSite(site);
        if (round % 11 == 0) manager->setUpdateMicroLocationOnlyOnProximityChanges(round % 2 == 0);
        (void)manager->microLocation();
        (void)manager->monitoredSites();
        (void)manager->siteActivityMonitorsWithSiteState(KSSiteStateInside);
        auto n = std::make_shared<KSLocalNotification>();
        n->setFireInCategories({food});
        n->setIncrementBadgeNumber(true);
        notifications->scheduleLocalNotification(n);
        ++scheduled;
        if (round % 2) notifications->cancelLocalNotification(n);
        if (round % 2) tracker->locationManagerClientDidEnterBeaconRegion(nullptr, region);
        else tracker->locationManagerClientDidExitBeaconRegion(nullptr, region);
        if (h == 0 && round % 25 == 0) tracker->sdkDidStartRunning();
        if (h == 1 && round % 40 == 0) manager->setDistanceFilter(100.0 + round);
        ++round;
      }
    });
  }
  hub.join();
  for (auto& t : hosts) t.join();
  // The site manager's and tracker's queues first (they feed the others), then the rest.
  scheduler->mainQueue()->sync([] {});
  sites->delegateQueue()->sync([] {});
  scheduler->mainQueue()->sync([] {});
  sites->delegateQueue()->sync([] {});
  delegateQueue->sync([] {});

  EXPECT_GT(counter->snapshots.load(), 0);
  EXPECT_EQ(counter->wrong.load(), 0);
  EXPECT_GT(counter->states.load(), 0);
  EXPECT_GT(posts.load(), 0);
  // Every description is presented, cancelled or still scheduled: never two of these.
  const int left = static_cast<int>(notifications->scheduledLocalNotifications().size());
  EXPECT_LE(app->presented.load() + left, scheduled.load());
  center->removeObserver(token);
  std::lock_guard lock(presentedMutex);
  for (const auto& [n, times] : presentedTimes) EXPECT_EQ(times, 1);
}

}  // namespace
}  // namespace velmora::kestrine
