// The zone monitor and the lasso manager on real threads: ranging passes, the exit timer,
// site callbacks, sessions and host calls at once on the zone monitor; taps, answers,
// enabling and key changes at once on the lasso manager.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/microlocation/KSLassoManager.h"
#include "beacons/microlocation/KSLassoPacket.h"
#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSSite.h"
#include "platform/core/Clock.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "testing/FakeBeaconHub.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

std::shared_ptr<KSCustomValue> value(std::string key, std::string v) {
  auto c = std::make_shared<KSCustomValue>();
  c->setKey(std::move(key));
  c->setValue(std::move(v));
  return c;
}

std::shared_ptr<KSSite> site(const std::string& id) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName(id);
  s->setSyncStatus(2);
  s->setCustomValues(KSSite::CustomValues{value("lobby_dwelltime", "0.01"), value("suspensiontime", "5")});
  return s;
}

struct FixedSites : KSZoneSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites{{"S1", site("S1")}, {"S2", site("S2")}};
  Sites allCachedSites() override { return {sites.at("S1"), sites.at("S2")}; }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate>) override {}
  void removeDelegate(const KSSiteManagerInternalDelegate*) override {}
};

struct CountingZones : KSZoneMonitorDelegate {
  std::atomic<int> entered{0}, exited{0}, suspended{0}, resumed{0}, sites{0};
  void zoneMonitorDidEnterZone(const Monitor&, const std::shared_ptr<KSZone>&) override { ++entered; }
  void zoneMonitorDidReEnterZone(const Monitor&, const std::shared_ptr<KSZone>&) override { ++entered; }
  void zoneMonitorDidExitZone(const Monitor&, const std::shared_ptr<KSZone>&) override { ++exited; }
  void zoneMonitorWillSuspendMonitoringInSiteUntilDate(const Monitor&, const std::shared_ptr<KSSite>&,
                                                       platform::Date) override {
    ++suspended;
  }
  void zoneMonitorWillResumeMonitoringInSite(const Monitor&, const std::shared_ptr<KSSite>&) override { ++resumed; }
  void zoneMonitorDidEnterSite(const Monitor&, const std::shared_ptr<KSSite>&) override { ++sites; }
};

TEST(ZoneLassoThreads, ZoneMonitorPassesTimerSitesSessionsAndHostTogether) {
  // The passes move the clock on, so the exit timer and suspensions come due while they run.
  auto clock = std::make_shared<platform::ManualClock>();
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>(clock);
  auto center = std::make_shared<platform::NotificationCenter>();
  std::atomic<bool> inSession{true};
  KSZoneMonitor::Ports ports;
  ports.scheduler = scheduler;
  ports.center = center;
  ports.sites = std::make_shared<FixedSites>();
  ports.isCurrentlyInSession = [&inSession] { return inSession.load(); };
  auto delegate = std::make_shared<CountingZones>();
  auto delegateQueue = scheduler->makeSerialQueue("zones.delegate");
  auto monitor = KSZoneMonitor::initWithDelegate(ports, delegate, delegateQueue, {"zone"});
  monitor->startMonitoringZones();

  Beacons beacons;
  for (int i = 0; i < 6; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID("b-" + std::to_string(i));
    b->setSiteID(i % 2 ? "S1" : "S2");
    b->setAccuracy(1.0 + i);
    auto category = std::make_shared<KSCategory>();
    category->setCustomValues(KSCategory::CustomValues{value("Zone", i % 3 ? "Lobby" : "Cafe")});
    b->setCategories(std::vector{category});
    beacons.push_back(b);
  }

  auto group = scheduler->makeGroup();
  auto passes = scheduler->makeSerialQueue("zones.passes");
  group->async(passes, [&] {
    for (int pass = 0; pass < 300; ++pass) {
      monitor->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, pass % 50 < 40 ? beacons : Beacons());
      clock->advance(0.25);
    }
  });
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      monitor->siteManagerInternalDidCacheSites({site(i % 2 ? "S1" : "S3")});
      monitor->siteManagerInternalDidEnterSite(site("S1"));
      monitor->checkForZoneExits();
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 100; ++i) {
      if (i % 2) {
        monitor->suspendMonitoringZonesInAllSites();
      } else {
        monitor->resumeMonitoringZonesInAllSites();
      }
      (void)monitor->isZoneMonitoringSuspendedInSiteID("S1", i % 3 == 0);
      (void)monitor->zoneIdentifierKeys();
      if (i % 10 == 5) {
        monitor->stopMonitoringZones();
        monitor->startMonitoringZones();
      }
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 100; ++i) {
      inSession = i % 2 == 0;
      center->post(std::string(i % 2 ? KSSessionManagerNotificationDidEndSession
                                     : KSSessionManagerNotificationDidBeginSession));
    }
  });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(group->wait(1e6));  // virtual seconds: the passes move the clock
  delegateQueue->sync([] {});
  EXPECT_GT(delegate->sites.load(), 0);
  monitor.reset();  // the exit timer and the observers go with it
  center->post(std::string(KSSessionManagerNotificationDidBeginSession));
  delegateQueue->sync([] {});
}

// Answers each data request from another thread with an approved reply.
class AnsweringHub : public testing::FakeBeaconHub {
 public:
  explicit AnsweringHub(std::shared_ptr<platform::dispatch::Scheduler> scheduler) : scheduler_(std::move(scheduler)) {}
  void sendDataRequest(const platform::Bytes&, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success success, Status,
                       Failure failure) override {
    const int n = ++sent;
    scheduler_->globalQueue()->async([n, success, failure] {
      if (n % 3 == 0) {
        failure(platform::Error("test", -1, "lost"));
      } else {
        success(platform::Value(platform::Bytes{0x04, 0x01, 0x03, 0x2A, 0x30, 0x30}));
      }
    });
  }
  std::atomic<int> sent{0};

 private:
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
};

struct CountingLassos : KSLassoManagerDelegate {
  std::mutex mutex;
  std::condition_variable changed;
  int ended = 0;
  std::atomic<int> entered{0};
  void didEnterLasso(const Lasso&) override { ++entered; }
  std::optional<platform::Dict> lassoManagerDictionaryForLasso(const Manager&, const Lasso&) override {
    return platform::Dict{{"Amount", 5}};
  }
  void end() {
    std::lock_guard lock(mutex);
    ++ended;
    changed.notify_all();
  }
  void lassoManagerDidRedeemDictionaryForLassoResponse(const Manager&, const std::optional<platform::Dict>&,
                                                       const Lasso&, const platform::Dict&) override {
    end();
  }
  void lassoManagerDidFailToRedeemDictionaryForLassoError(const Manager&, const std::optional<platform::Dict>&,
                                                          const Lasso&, const platform::Error&) override {
    end();
  }
};

TEST(ZoneLassoThreads, LassoTapsAnswersEnablingAndKeysTogether) {
  auto clock = std::make_shared<platform::ManualClock>();
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>(clock);
  auto hub = std::make_shared<AnsweringHub>(scheduler);
  KSLassoManager::Ports ports;
  ports.scheduler = scheduler;
  ports.hub = hub;
  auto manager = KSLassoManager::create(ports);
  auto delegate = std::make_shared<CountingLassos>();
  manager->setDelegate(delegate);
  manager->addLassoKeys({"offer"});
  manager->setEnabled(true);

  Beacons beacons;
  for (int i = 0; i < 3; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setSerialNumber("SN-" + std::to_string(i));
    b->setBeaconID("b-" + std::to_string(i));
    b->setCustomValues(std::vector{value("offer", "x"), value("deal", "y")});
    b->setAccuracy(0.1 + 0.05 * i);
    beacons.push_back(b);
  }
  auto group = scheduler->makeGroup();
  auto passes = scheduler->makeSerialQueue("lasso.passes");
  group->async(passes, [&] {
    for (int pass = 0; pass < 300; ++pass) {
      manager->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
      clock->advance(1.0);
    }
  });
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < 100; ++i) {
      manager->setEnabled(i % 7 != 3);
      manager->addLassoKeys({"deal"});
      manager->removeLassoKeys({"deal"});
      (void)manager->lassoKeys();
    }
    manager->setEnabled(true);
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 100; ++i) {
      manager->microLocationManagerDidEndVisitForBeaconsWithSerialNumbers({"SN-" + std::to_string(i % 3)});
      (void)manager->lassos();
      (void)manager->isRedeeming();
    }
  });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(group->wait(1e6));  // virtual seconds: the passes move the clock
  // Firings still queued for the delegate may send more; then every request sent ends once,
  // as a redemption or a failure, and the redemption is released right after.
  scheduler->mainQueue()->sync([] {});
  {
    std::unique_lock lock(delegate->mutex);
    ASSERT_TRUE(delegate->changed.wait_for(lock, std::chrono::seconds(30),
                                           [&] { return delegate->ended == hub->sent.load(); }));
  }
  scheduler->mainQueue()->sync([] {});
  EXPECT_FALSE(manager->isRedeeming());
}

}  // namespace
}  // namespace velmora::kestrine
