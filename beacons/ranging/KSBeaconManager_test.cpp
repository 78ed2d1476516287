#include "beacons/ranging/KSBeaconManager.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionCaching.h"
#include "beacons/ranging/KSPlatformRegionAdditions.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

class FakeSiteManager : public KSSiteManagerSubscription {
 public:
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> d) override { delegates.push_back(d); }
  void removeDelegate(const KSSiteManagerInternalDelegate* d) override {
    std::erase_if(delegates, [&](const auto& w) { return w.expired() || w.lock().get() == d; });
    ++removals;
  }
  void requestStateForSite(std::shared_ptr<KSSite> site) override { asked.push_back(site); }
  template <class F>
  void each(F f) {
    for (auto& w : delegates) {
      if (auto d = w.lock()) f(*d);
    }
  }
  std::vector<std::weak_ptr<KSSiteManagerInternalDelegate>> delegates;
  std::vector<std::shared_ptr<KSSite>> asked;
  int removals = 0;
};

class FakeRegionCache : public KSBeaconRegionCaching {
 public:
  void cacheBeaconRegion(std::shared_ptr<KSBeaconRegion> r, bool multicast) override {
    regions.push_back(r);
    calls.push_back(std::string("cache ") + (multicast ? "told" : "quiet"));
  }
  void removeCachedBeaconRegion(std::shared_ptr<KSBeaconRegion> r, bool multicast) override {
    std::erase(regions, r);
    calls.push_back(std::string("remove ") + (multicast ? "told" : "quiet"));
  }
  std::vector<std::shared_ptr<KSBeaconRegion>> allCachedBeaconRegions() override { return regions; }
  std::vector<std::shared_ptr<KSBeaconRegion>> regions;
  std::vector<std::string> calls;
};

// Records every callback as a line; the beacons by their names in the fixture.
class Recorder : public KSBeaconManagerDelegate {
 public:
  explicit Recorder(std::map<const KSBeacon*, std::string>* names) : names_(names) {}
  void beaconManagerDidEnterBeacons(KSBeaconManager&, Beacons b) override { log.push_back("enter " + text(b)); }
  void beaconManagerDidExitBeacons(KSBeaconManager&, Beacons b) override { log.push_back("exit " + text(b)); }
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons b) override { log.push_back("range " + text(b)); }
  void beaconManagerDidRangeIBeacons(KSBeaconManager&, Beacons b) override { log.push_back("ibeacons " + text(b)); }
  void beaconManagerDidRangeKestrineBeacons(KSBeaconManager&, Beacons b) override {
    log.push_back("site beacons " + text(b));
  }
  void beaconManagerDidDetermineStateForBeacon(KSBeaconManager&, unsigned long state,
                                               std::shared_ptr<KSBeacon> b) override {
    log.push_back("state " + std::to_string(state) + " " + text({b}));
  }
  void beaconManagerDidEnterSite(KSBeaconManager&, std::shared_ptr<KSSite> s) override {
    log.push_back("enter site " + s->siteID().value_or(""));
  }
  void beaconManagerDidExitSite(KSBeaconManager&, std::shared_ptr<KSSite> s) override {
    log.push_back("exit site " + s->siteID().value_or(""));
  }
  void beaconManagerDidDetermineStateForSite(KSBeaconManager&, unsigned long state, std::shared_ptr<KSSite> s) override {
    log.push_back("site state " + std::to_string(state) + " " + s->siteID().value_or(""));
  }
  void beaconManagerDidDiscoverEddystoneURL(KSBeaconManager&, std::string url) override { log.push_back("url " + url); }

  std::string text(const Beacons& beacons) const {
    std::string out = "[";
    for (const auto& b : beacons) out += (out.size() > 1 ? " " : "") + (names_->count(b.get()) ? names_->at(b.get()) : "?");
    return out + "]";
  }
  std::vector<std::string> log;

 private:
  std::map<const KSBeacon*, std::string>* names_;
};

class RangeOnly : public KSBeaconManagerDelegate {
 public:
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons b) override { passes.push_back(b); }
  std::vector<Beacons> passes;
};

struct FacadeWorld {
  FacadeWorld() {
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    hub = KSBeaconManagerInternal::create(provider, {nullptr, nullptr, session});
    manager = KSBeaconManager::initWithDelegate(
        {hub, sites, regions, world.scheduler->mainQueue()}, recorder, nullptr);
    world.runUntilIdle();
  }
  // A cached iBeacon named in the log.
  std::shared_ptr<KSBeacon> beacon(const std::string& name) {
    auto b = testsupport::beaconWithAdTypes({KSAdDataTypeAppleIBeaconKey});
    b->setBluetoothAddress("00:00:00:00:00:0" + std::to_string(names.size()));
    hub->cacheBeacon(b, false);
    names[b.get()] = name;
    return b;
  }
  // One ranging pass through the hub's lists.
  void pass(const Beacons& beacons) {
    hub->beaconRangerDidRangeBeacons(*hub->beaconRanger(), beacons);
    world.runUntilIdle();
  }
  std::vector<std::string> takeLog() { return std::exchange(recorder->log, {}); }

  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<FakeSiteManager> sites = std::make_shared<FakeSiteManager>();
  std::shared_ptr<FakeRegionCache> regions = std::make_shared<FakeRegionCache>();
  std::map<const KSBeacon*, std::string> names;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(&names);
  std::shared_ptr<KSBeaconManager> manager;
};

TEST(FacadePasses, EnterAndExitBySetDifferenceInPassOrder) {
  FacadeWorld w;
  auto a = w.beacon("A"), b = w.beacon("B"), c = w.beacon("C");
  w.pass({a, b});
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"ibeacons [A B]", "exit []", "enter [A B]", "range [A B]"}));
  w.pass({c, b});
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"ibeacons [C B]", "exit [A]", "enter [C]", "range [C B]"}));
  w.pass({a, c, b});
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"ibeacons [A C B]", "exit []", "enter [A]", "range [A C B]"}));
  // Exits in the previous pass's order.
  w.pass({});
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"ibeacons []", "exit [A C B]", "enter []", "range []"}));
  EXPECT_TRUE(w.manager->lastRangedBeacons().empty());
}

TEST(FacadePasses, ARangeOnlyDelegateStillHasThePassesTracked) {
  FacadeWorld w;
  auto rangeOnly = std::make_shared<RangeOnly>();
  w.manager->setDelegate(rangeOnly);
  auto a = w.beacon("A");
  w.pass({a});
  ASSERT_EQ(rangeOnly->passes.size(), 1u);
  EXPECT_EQ(w.manager->lastRangedBeacons(), (Beacons{a}));
  // With no delegate at all the set still follows the passes.
  w.manager->setDelegate(std::shared_ptr<KSBeaconManagerDelegate>());
  w.pass({});
  EXPECT_TRUE(w.manager->lastRangedBeacons().empty());
}

TEST(FacadePasses, ADelegateGoneBeforeItsBlockRunsGetsNothing) {
  FacadeWorld w;
  auto a = w.beacon("A");
  auto names = w.names;
  auto late = std::make_shared<Recorder>(&names);
  w.manager->setDelegate(late);
  w.hub->beaconRangerDidRangeBeacons(*w.hub->beaconRanger(), {a});
  w.hub->workQueue()->async([&] { late.reset(); });  // after the facade queued its blocks
  std::weak_ptr<Recorder> watch = late;
  w.world.runUntilIdle();
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(w.recorder->log.empty());
}

// A host may hold its delegate through the protocol type: the delegate's class decides what
// it hears, whichever pointer type set it.
TEST(FacadeDelegate, ADelegateSetThroughItsProtocolTypeHearsWhatTheConcreteOneHears) {
  std::vector<std::vector<std::string>> logs;
  for (const bool throughProtocol : {false, true}) {
    FacadeWorld w;
    auto own = std::make_shared<Recorder>(&w.names);
    if (throughProtocol) {
      std::shared_ptr<KSBeaconManagerDelegate> asProtocol = own;
      w.manager->setDelegate(asProtocol);
    } else {
      w.manager->setDelegate(own);
    }
    auto site = std::make_shared<KSSite>();
    site->setSiteID("s1");
    auto a = w.beacon("A");
    w.pass({a});
    w.manager->requestStateForBeacon(a);
    w.sites->each([&](KSSiteManagerInternalDelegate& d) { d.siteManagerInternalDidEnterSite(site); });
    w.world.runUntilIdle();
    logs.push_back(own->log);
    EXPECT_TRUE(w.recorder->log.empty());
  }
  EXPECT_EQ(logs[0], (std::vector<std::string>{"ibeacons [A]", "exit []", "enter [A]", "range [A]", "state 1 [A]",
                                               "enter site s1"}));
  EXPECT_EQ(logs[1], logs[0]);
}

TEST(FacadeStates, BeaconStateFromTheLastPass) {
  FacadeWorld w;
  auto a = w.beacon("A"), b = w.beacon("B");
  w.manager->requestStateForBeacon(a);  // before any pass
  w.world.runUntilIdle();
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"state 2 [A]"}));
  w.pass({a});
  w.takeLog();
  auto uncached = std::make_shared<KSBeacon>();
  w.names[uncached.get()] = "U";
  w.manager->requestStateForBeacon(a->copy());  // the same cache identifier
  w.manager->requestStateForBeacon(b);
  w.manager->requestStateForBeacon(uncached);
  w.world.runUntilIdle();
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"state 1 [?]", "state 2 [B]", "state 2 [U]"}));
}

TEST(FacadeSites, SiteReportsAndStateRequestsGoThroughTheSiteManager) {
  FacadeWorld w;
  auto site = std::make_shared<KSSite>();
  site->setSiteID("s1");
  auto a = w.beacon("A");
  w.sites->each([&](KSSiteManagerInternalDelegate& d) {
    d.siteManagerInternalDidEnterSite(site);
    d.siteManagerInternalDidRangeBeacons({a});
    d.siteManagerInternalDidDetermineStateForSite(1, site);
    d.siteManagerInternalDidExitSite(site);
  });
  w.world.runUntilIdle();
  EXPECT_EQ(w.takeLog(),
            (std::vector<std::string>{"enter site s1", "site beacons [A]", "site state 1 s1", "exit site s1"}));
  w.manager->requestStateForSite(site);
  EXPECT_EQ(w.sites->asked, (std::vector<std::shared_ptr<KSSite>>{site}));
}

TEST(FacadeSites, DestructionUnsubscribesFromBoth) {
  FacadeWorld w;
  const auto before = w.hub->multicastDelegate().count();
  w.manager.reset();
  EXPECT_EQ(w.hub->multicastDelegate().count(), before - 1);
  EXPECT_EQ(w.sites->removals, 1);
}

TEST(FacadeRegions, OnlyRegionsWithAValidUUIDAreMonitoredAndMarkedAppManaged) {
  FacadeWorld w;
  auto region = [](std::optional<std::string> uuid, bool appManaged) {
    auto r = std::make_shared<KSBeaconRegion>();
    r->setProximityUUIDString(std::move(uuid));
    r->setAppManaged(appManaged);
    return r;
  };
  auto good = region("e2c56db5-dffb-48d2-b060-d0f5a71096e0", false);
  w.manager->startMonitoringBeaconRegion(good);
  w.manager->startMonitoringBeaconRegion(region("not-a-uuid", false));
  w.manager->startMonitoringBeaconRegion(region(std::nullopt, false));
  w.manager->startMonitoringBeaconRegion(nullptr);
  EXPECT_TRUE(good->isAppManaged());
  EXPECT_EQ(w.regions->calls, (std::vector<std::string>{"cache told"}));
  w.regions->regions.push_back(region("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", false));  // the platform's own
  EXPECT_EQ(w.manager->monitoredBeaconRegions(), (std::vector<std::shared_ptr<KSBeaconRegion>>{good}));
  w.manager->stopMonitoringBeaconRegion(good);
  w.manager->stopMonitoringBeaconRegion(nullptr);
  EXPECT_EQ(w.regions->calls, (std::vector<std::string>{"cache told", "remove told"}));
  EXPECT_TRUE(w.manager->monitoredBeaconRegions().empty());
}

TEST(FacadeDiscovery, EddystoneURLOnFirstDiscoveryOnlyWhenUsable) {
  FacadeWorld w;
  auto withURL = [](std::optional<std::string> url) {
    auto b = testsupport::beaconWithAdTypes({KSAdDataTypeEddystoneURLKey});
    auto e = std::make_shared<KSEddystone>();
    e->setURLString(std::move(url));
    b->setEddystone(e);
    return b;
  };
  for (auto b : {withURL("https://car.example/p"), withURL(std::nullopt), withURL("has space"),
                 testsupport::beaconWithAdTypes({KSAdDataTypeAppleIBeaconKey})}) {
    w.manager->beaconManagerInternalDidFirstDiscoverBeacon(w.hub, b);
  }
  w.world.runUntilIdle();
  EXPECT_EQ(w.takeLog(), (std::vector<std::string>{"url https://car.example/p"}));
}

TEST(PlatformRegions, KeepAliveTest) {
  auto cl = [](std::uint16_t major, std::uint16_t minor) {
    platform::location::Beacon b;
    b.proximityUUID = *platform::Uuid::parse("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
    b.major = major;
    b.minor = minor;
    return b;
  };
  struct Case {
    const char* name;
    std::optional<std::string> uuid;
    std::optional<std::uint16_t> major, minor;
    bool keepAlive;
  };
  const Case cases[] = {
      {"match, UUID in another case", "e2c56db5-dffb-48d2-b060-d0f5a71096e0", 7, 9, true},
      {"other minor", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 7, 8, false},
      {"other major", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 6, 9, false},
      {"other UUID", "61687109-905F-4436-91F8-E602F514C96D", 7, 9, false},
      {"no keep-alive minor", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 7, std::nullopt, false},
      {"no UUID", std::nullopt, 7, 9, false},
  };
  for (const auto& c : cases) {
    KSBeaconRegion r;
    r.setProximityUUIDString(c.uuid);
    r.setKeepAliveMajor(c.major);
    r.setKeepAliveMinor(c.minor);
    EXPECT_EQ(cl_beacon::isInKeepAliveRegion(cl(7, 9), r), c.keepAlive) << c.name;
  }
}

TEST(PlatformRegions, FromBeaconRegions) {
  auto make = [](std::optional<std::string> uuid, std::optional<std::uint16_t> major, std::optional<std::uint16_t> minor) {
    KSBeaconRegion r;
    r.setIdentifier("north");
    r.setProximityUUIDString(std::move(uuid));
    r.setMajor(major);
    r.setMinor(minor);
    return cl_beacon_region::clBeaconRegionWithKSBeaconRegion(r);
  };
  const std::string uuid = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
  auto both = make(uuid, 40000, 5);
  ASSERT_TRUE(both);
  EXPECT_EQ(both->major(), 40000);
  EXPECT_EQ(both->minor(), 5);
  EXPECT_EQ(both->identifier(), "north");
  EXPECT_TRUE(both->notifyOnEntry && both->notifyOnExit && both->notifyEntryStateOnDisplay);
  auto majorOnly = make(uuid, 3, std::nullopt);
  EXPECT_EQ(majorOnly->major(), 3);
  EXPECT_FALSE(majorOnly->minor());
  auto minorOnly = make(uuid, std::nullopt, 5);  // a minor without a major: the UUID alone
  EXPECT_FALSE(minorOnly->major());
  EXPECT_FALSE(minorOnly->minor());
  EXPECT_FALSE(make("E2C56DB5", 1, 1));
  EXPECT_FALSE(make(std::nullopt, 1, 1));
}

}  // namespace
}  // namespace velmora::kestrine
