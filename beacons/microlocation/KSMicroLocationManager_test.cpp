#include "beacons/microlocation/KSMicroLocationManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSite.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

std::string idOf(const std::shared_ptr<KSSite>& s) { return s ? s->siteID().value_or("") : "none"; }

// Describes a snapshot as "S1[b1:2,b2:1]" per listed site (beacon id : proximity).
std::string describe(const std::shared_ptr<KSMicroLocation>& m) {
  std::string out;
  for (const auto& s : m->sites().value_or(KSMicroLocation::Sites{})) {
    out += idOf(s) + "[";
    const auto& groups = m->beaconsForSiteID();
    if (groups && groups->contains(idOf(s))) {
      std::string inner;
      for (const auto& b : groups->at(idOf(s))) {
        inner += (inner.empty() ? "" : ",") + b->beaconID().value_or("?") + ":" + std::to_string(b->proximity());
      }
      out += inner;
    }
    out += "]";
  }
  return out.empty() ? "-" : out;
}

struct Recorder : KSMicroLocationManagerDelegate {
  void microLocationManagerDidUpdateNearbySites(KSMicroLocationManager*, Sites s) override {
    log.push_back("nearby " + std::to_string(s.size()));
  }
  void microLocationManagerDidStartMonitoringForSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    log.push_back("start " + idOf(s));
  }
  void microLocationManagerDidDetermineStateForSite(KSMicroLocationManager*, std::uint64_t state,
                                                    std::shared_ptr<KSSite> s) override {
    log.push_back("state " + std::to_string(state) + " " + idOf(s));
  }
  void microLocationManagerDidEnterSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    log.push_back("enter " + idOf(s));
  }
  void microLocationManagerDidExitSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    log.push_back("exit " + idOf(s));
  }
  void microLocationManagerDidRangeBeaconsInSite(KSMicroLocationManager*, Beacons b, std::shared_ptr<KSSite> s) override {
    log.push_back("range " + std::to_string(b.size()) + " " + idOf(s));
  }
  void microLocationManagerDidUpdateMicroLocations(KSMicroLocationManager*, MicroLocations m) override {
    std::string line = "snapshots";
    for (const auto& one : m) line += " " + describe(one);
    log.push_back(line);
  }
  void microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers s) override {
    log.push_back("begin " + std::to_string(s.size()));
  }
  std::vector<std::string> log;
};

std::shared_ptr<KSSite> site(const std::string& id) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName("name of " + id);
  s->setSyncStatus(KSSyncStatusSynced);
  return s;
}

class MicroLocationManagerTest : public ::testing::Test {
 protected:
  MicroLocationManagerTest() {
    KSSiteManagerInternal::Ports sitePorts;
    sitePorts.scheduler = scheduler;
    sitePorts.center = center;
    siteManager = KSSiteManagerInternal::create(sitePorts);
    siteManager->cacheSite(site("S1"), true, false);
    siteManager->cacheSite(site("S2"), true, false);
    KSVisitTracker::Ports visitPorts;
    visitPorts.scheduler = scheduler;
    visitTracker = KSVisitTracker::create(visitPorts);
    makeManager();
    for (auto name : {KSMicroLocationManagerDidEnterSite, KSMicroLocationManagerDidExitSite,
                      KSMicroLocationManagerDidUpdateNearbySites}) {
      tokens.push_back(center->addObserver(std::string(name), nullptr, nullptr, [this](const auto& n) {
        std::string line = n.name;
        if (auto it = n.userInfo.find(KSMicroLocationManagerNotificationSiteItem); it != n.userInfo.end()) {
          line += " " + idOf(std::dynamic_pointer_cast<KSSite>(*it->second.object()));
        }
        posted.push_back(line);
      }));
    }
    scheduler->runUntilIdle();
  }
  ~MicroLocationManagerTest() override {
    for (auto& t : tokens) center->removeObserver(t);
  }
  void makeManager() {
    KSMicroLocationManager::Ports ports;
    ports.scheduler = scheduler;
    ports.center = center;
    ports.siteManager = siteManager;
    ports.visitTracker = visitTracker;
    manager = KSMicroLocationManager::create(ports);
    manager->setDelegate(recorder);
  }

  std::shared_ptr<KSBeacon> beacon(const std::string& id, const std::optional<std::string>& siteID) {
    auto& b = beacons[id];
    if (!b) {
      b = std::make_shared<KSBeacon>();
      b->setBeaconID(id);
      b->setSiteID(siteID);
      b->setSyncStatus(KSSyncStatusSynced);
    }
    return b;
  }
  // One hub pass: beacons at (id, site, proximity, accuracy); drained; a second goes by.
  void pass(const std::vector<std::tuple<std::string, std::optional<std::string>, std::uint64_t, double>>& seen) {
    KSSiteManagerInternal::Beacons list;
    for (const auto& [id, siteID, proximity, accuracy] : seen) {
      auto b = beacon(id, siteID);
      b->setProximity(proximity);
      b->setAccuracy(accuracy);
      list.push_back(b);
    }
    siteManager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, list);
    scheduler->runUntilIdle();
    scheduler->advanceBy(1.0);
  }
  std::vector<std::string> drained() {
    scheduler->runUntilIdle();
    return std::exchange(recorder->log, {});
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'800'000'000));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<KSSiteManagerInternal> siteManager;
  std::shared_ptr<KSVisitTracker> visitTracker;
  std::shared_ptr<KSMicroLocationManager> manager;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::map<std::string, std::shared_ptr<KSBeacon>> beacons;
  std::vector<platform::NotificationCenter::ObserverToken> tokens;
  std::vector<std::string> posted;
};

TEST_F(MicroLocationManagerTest, AnEnterSnapshotsBeforeThePassBeaconsAndAgainWithThem) {
  manager->startUpdatingMicroLocation();
  manager->startRangingBeaconsInSite(site("S1"));
  drained();
  pass({{"b1", "S1", 2, 1.0}});
  EXPECT_EQ(drained(), (std::vector<std::string>{"enter S1", "snapshots -", "range 1 S1", "snapshots - S1[b1:2]"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"KSMicroLocationManagerDidEnterSite S1"}));
  EXPECT_EQ(describe(manager->microLocation()), "S1[b1:2]");
}

// A host may hold its delegate through the protocol type: it hears what its class overrides.
TEST_F(MicroLocationManagerTest, ADelegateSetThroughItsProtocolTypeHearsTheSameCalls) {
  std::shared_ptr<KSMicroLocationManagerDelegate> asProtocol = recorder;
  manager->setDelegate(asProtocol);
  manager->startUpdatingMicroLocation();
  manager->startRangingBeaconsInSite(site("S1"));
  drained();
  pass({{"b1", "S1", 2, 1.0}});
  manager->requestStateForSite(site("S1"));
  EXPECT_EQ(drained(),
            (std::vector<std::string>{"enter S1", "snapshots -", "range 1 S1", "snapshots - S1[b1:2]", "state 1 S1"}));
}

TEST_F(MicroLocationManagerTest, OnlyProximityChangesSendSnapshots) {
  manager->setUpdateMicroLocationOnlyOnProximityChanges(true);
  manager->startUpdatingMicroLocation();
  pass({{"b1", "S1", 2, 1.0}, {"b2", "S1", 3, 5.0}});
  EXPECT_EQ(drained(), (std::vector<std::string>{"enter S1", "snapshots -", "snapshots - S1[b1:2,b2:3]"}));

  pass({{"b1", "S1", 2, 1.7}, {"b2", "S1", 3, 6.0}});  // accuracy only
  EXPECT_EQ(drained(), std::vector<std::string>{});
  pass({{"b1", "S1", 1, 0.4}, {"b2", "S1", 3, 6.0}});  // near to immediate
  EXPECT_EQ(drained(), (std::vector<std::string>{"snapshots S1[b1:2,b2:3] S1[b1:1,b2:3]"}));
  pass({{"x", std::nullopt, 2, 1.0}});  // S1 unheard: its record keeps its beacons; "" never counts
  EXPECT_EQ(drained(), std::vector<std::string>{});
  pass({{"b1", "S1", 1, 0.4}});  // b2 gone from S1's group
  EXPECT_EQ(drained(), (std::vector<std::string>{"snapshots S1[b1:1,b2:3] S1[b1:1]"}));

  // A restart drops the snapshot: the next one goes out alone, whatever the option.
  manager->stopUpdatingMicroLocation();
  EXPECT_EQ(manager->microLocation(), nullptr);
  manager->startUpdatingMicroLocation();
  pass({{"b1", "S1", 1, 0.4}});
  EXPECT_EQ(drained(), (std::vector<std::string>{"snapshots S1[b1:1]"}));
}

TEST_F(MicroLocationManagerTest, ASiteKeepsItsLastBeaconsUntilItIsExited) {
  manager->setUpdateMicroLocationOnlyOnProximityChanges(true);
  manager->startUpdatingMicroLocation();
  pass({{"b1", "S1", 2, 1.0}, {"u", std::nullopt, 2, 1.0}});
  EXPECT_TRUE(manager->microLocation()->beaconsForSiteID()->contains(""));
  // Beacons without a site leave the snapshot at the first pass with groups but none of them.
  pass({{"b2", "S2", 3, 4.0}});
  EXPECT_EQ(describe(manager->microLocation()), "S1[b1:2]S2[b2:3]");
  EXPECT_FALSE(manager->microLocation()->beaconsForSiteID()->contains(""));
  drained();
  // S1's beacon is no longer heard: its record keeps the last group until the exit.
  pass({{"b2", "S2", 3, 4.0}});
  pass({});
  EXPECT_EQ(drained(), std::vector<std::string>{});
  EXPECT_EQ(describe(manager->microLocation()), "S1[b1:2]S2[b2:3]");
  scheduler->advanceBy(3.5);
  pass({{"b2", "S2", 3, 4.0}});
  EXPECT_EQ(drained(), (std::vector<std::string>{"exit S1", "snapshots S1[b1:2]S2[b2:3] S2[b2:3]"}));
  EXPECT_EQ(posted.back(), "KSMicroLocationManagerDidExitSite S1");
}

TEST_F(MicroLocationManagerTest, SilentEntersAndStateRequests) {
  // Neither monitored nor updating: the record changes without a word.
  pass({{"b1", "S1", 2, 1.0}});
  EXPECT_EQ(drained(), std::vector<std::string>{});
  EXPECT_TRUE(posted.empty());
  manager->requestStateForSite(site("S1"));
  manager->requestStateForSite(site("never seen"));
  manager->requestStateForSite(nullptr);
  EXPECT_EQ(drained(), (std::vector<std::string>{"state 1 S1", "state 0 never seen"}));
}

TEST_F(MicroLocationManagerTest, MonitoringStartsOnceAndStoppingAllSkipsUncachedSites) {
  manager->startMonitoringSite(site("S1"));
  manager->startMonitoringSite(site("S1"));
  manager->startMonitoringSite(site("U"));  // not cached
  manager->startMonitoringSite(nullptr);
  auto log = drained();
  EXPECT_EQ(std::count(log.begin(), log.end(), "start S1"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "start U"), 1);
  ASSERT_EQ(manager->monitoredSites().size(), 1u);
  EXPECT_EQ(idOf(manager->monitoredSites()[0]), "S1");

  manager->startRangingBeaconsInSite(site("S2"));  // ranging starts monitoring
  EXPECT_TRUE(manager->isMonitoringSite(site("S2")));
  EXPECT_EQ(manager->rangedSites().size(), 1u);
  manager->stopMonitoringAllSites();
  EXPECT_FALSE(manager->isMonitoringSite(site("S1")));
  EXPECT_FALSE(manager->siteActivityMonitorForSiteID("S2")->isRangingBeacons());
  EXPECT_TRUE(manager->isMonitoringSite(site("U")));  // kept: not in the site manager's cache
}

TEST_F(MicroLocationManagerTest, MonitoredSiteEntersFromTheStateAnswer) {
  manager->startMonitoringSite(site("S1"));
  drained();
  pass({{"b1", "S1", 2, 1.0}});
  EXPECT_EQ(drained(), (std::vector<std::string>{"enter S1"}));
  manager->stopMonitoringSite(site("S1"));
  manager->startMonitoringSite(site("S1"));  // the site manager answers inside: no second enter
  EXPECT_EQ(drained(), (std::vector<std::string>{"start S1"}));
  EXPECT_EQ(manager->siteActivityMonitorsWithSiteState(KSSiteStateInside).size(), 1u);
}

TEST_F(MicroLocationManagerTest, NearbySitesAreAnnouncedOnlyWhenTheyChange) {
  manager->setDistanceFilter(100.0);  // no location: no nearby sites, as before
  EXPECT_EQ(drained(), std::vector<std::string>{});
  EXPECT_TRUE(posted.empty());
  pass({{"b1", "S1", 2, 1.0}});  // inside S1: it is now nearby
  drained();
  manager->fireDidUpdateNearbySitesIfNeeded();
  EXPECT_EQ(drained(), (std::vector<std::string>{"nearby 1"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"KSMicroLocationManagerDidUpdateNearbySites"}));
  manager->setDistanceFilter(200.0);
  EXPECT_EQ(drained(), std::vector<std::string>{});
}

TEST_F(MicroLocationManagerTest, StopOfDiscoveryForgetsRecordsAndSnapshot) {
  manager->startUpdatingMicroLocation();
  manager->startMonitoringSite(site("S1"));
  pass({{"b1", "S1", 2, 1.0}});
  ASSERT_NE(manager->microLocation(), nullptr);
  siteManager->beaconManagerInternalDidStopDiscoveringBeacons(nullptr);
  scheduler->runUntilIdle();
  EXPECT_EQ(manager->microLocation(), nullptr);
  EXPECT_FALSE(manager->isMonitoringSite(site("S1")));
  EXPECT_EQ(manager->siteActivityMonitorForSiteID("S1")->siteState(), KSSiteStateUnknown);
}

TEST_F(MicroLocationManagerTest, VisitsAreForwardedAndTeardownUnsubscribes) {
  auto b = std::make_shared<KSBeacon>();
  b->setSerialNumber("SN-1");
  b->setProximity(2);
  visitTracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, {b});
  EXPECT_EQ(drained(), (std::vector<std::string>{"begin 1"}));

  const auto sites = siteManager->delegateCount();
  const auto visits = visitTracker->delegateCount();
  manager.reset();
  EXPECT_EQ(siteManager->delegateCount(), sites - 1);
  EXPECT_EQ(visitTracker->delegateCount(), visits - 1);
  pass({{"b1", "S1", 2, 1.0}});
  EXPECT_EQ(drained(), std::vector<std::string>{});
}

}  // namespace
}  // namespace velmora::kestrine
