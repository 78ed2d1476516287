// One walk through a site, from the air to the host, on the virtual clock: two beacons of
// the site "Atrium" are heard only by location services; the hub finds them, and their
// site, in the SQLite store; the site manager enters and exits the site; the micro-location
// manager, the visit tracker, the local notifications and the public beacon manager tell the
// host. Every expectation is worked out from the site manager's own pass reports, so the
// test says which pass each message belongs to, not which second.

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSSite.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/ranging/KestrineSDK.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "testing/FakeApiOperationManager.h"
#include "testing/BeaconFixtures.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr std::string_view kFrameUUID = "E2C56DB5DFFB48D2B060D0F5A71096E0";

// Seconds since the scenario began, to the microsecond, as a key for "the same instant".
using Instant = std::int64_t;

// What the hub and the site manager ask the cloud for; nothing is sent anywhere.
class RecordingSync : public testsupport::FakeApiOperationManager, public KSSiteSyncRequesting {
 public:
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>& location) override {
    FakeApiOperationManager::syncSitesNearbyLocation(location);
  }
  void syncAllSitesForAppModifiedAfter(std::optional<platform::Date>) override { record("sites of app"); }
  void syncSiteWithSiteID(const std::string& siteID) override { record("site sync " + siteID); }
};

// "b-1:2": a beacon and its proximity.
std::string beaconText(const std::shared_ptr<KSBeacon>& b) {
  return fmt::format("{}:{}", b->beaconID().value_or("?"), b->proximity());
}
std::string groupText(const std::vector<std::string>& group) {
  std::string out;
  for (const auto& b : group) out += (out.empty() ? "" : ",") + b;
  return out;
}
std::string idOf(const std::shared_ptr<KSSite>& s) { return s ? s->siteID().value_or("") : "none"; }

// "S1[b-1:2]" per listed site, "-" for a snapshot that lists none.
std::string describe(const std::shared_ptr<KSMicroLocation>& m) {
  std::string out;
  for (const auto& s : m->sites().value_or(KSMicroLocation::Sites{})) {
    std::vector<std::string> group;
    const auto& groups = m->beaconsForSiteID();
    if (groups && groups->contains(idOf(s))) {
      for (const auto& b : groups->at(idOf(s))) group.push_back(beaconText(b));
    }
    out += idOf(s) + "[" + groupText(group) + "]";
  }
  return out.empty() ? "-" : out;
}

struct Timed {
  Instant at;
  std::string what;
};

// The scenario's clock, read by every recorder, and the main queue, which hears the host's
// callbacks.
struct Clock {
  std::shared_ptr<const platform::Clock> clock;
  platform::Date start;
  std::shared_ptr<platform::dispatch::Queue> main;
  Instant now() const { return clock->now().unixMicros() - start.unixMicros(); }
};

// The site manager's report of each pass: when it came and what it listed.
class PassReports : public KSSiteManagerInternalDelegate {
 public:
  explicit PassReports(Clock c) : clock(std::move(c)) {}
  void siteManagerInternalDidRangeBeacons(SiteBeacons beacons) override {
    Pass p{clock.now(), {}};
    for (const auto& b : beacons) p.beacons.push_back({b->beaconID().value_or("?"), b->siteID().value_or(""), b->proximity()});
    passes.push_back(std::move(p));
  }
  struct Listed {
    std::string beaconID, siteID;
    std::uint64_t proximity;
  };
  struct Pass {
    Instant at;
    std::vector<Listed> beacons;
  };
  Clock clock;
  std::vector<Pass> passes;
};

class MicroLocationLog : public KSMicroLocationManagerDelegate {
 public:
  explicit MicroLocationLog(Clock c) : clock(std::move(c)) {}
  void microLocationManagerDidStartMonitoringForSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    site.push_back({clock.now(), std::string(clock.main->isCurrent() ? "" : "off the main queue: ") + "start " + idOf(s)});
  }
  void microLocationManagerDidEnterSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    site.push_back({clock.now(), "enter " + idOf(s)});
  }
  void microLocationManagerDidExitSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    site.push_back({clock.now(), "exit " + idOf(s)});
  }
  void microLocationManagerDidRangeBeaconsInSite(KSMicroLocationManager*, Beacons b, std::shared_ptr<KSSite> s) override {
    std::vector<std::string> group;
    for (const auto& one : b) group.push_back(beaconText(one));
    site.push_back({clock.now(), "range [" + groupText(group) + "] in " + idOf(s)});
  }
  void microLocationManagerDidUpdateMicroLocations(KSMicroLocationManager*, MicroLocations m) override {
    std::string line = "snapshots";
    for (const auto& one : m) line += " " + describe(one);
    site.push_back({clock.now(), line});
  }
  void microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers s) override {
    visits.push_back({clock.now(), "begin [" + groupText(s) + "]"});
  }
  void microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers s) override {
    visits.push_back({clock.now(), "end [" + groupText(s) + "]"});
  }
  Clock clock;
  std::vector<Timed> site, visits;
};

class FacadeLog : public KSBeaconManagerDelegate {
 public:
  explicit FacadeLog(Clock c) : clock(std::move(c)) {}
  void beaconManagerDidEnterSite(KSBeaconManager&, std::shared_ptr<KSSite> s) override {
    log.push_back({clock.now(), "enter " + idOf(s)});
  }
  void beaconManagerDidExitSite(KSBeaconManager&, std::shared_ptr<KSSite> s) override {
    log.push_back({clock.now(), "exit " + idOf(s)});
  }
  Clock clock;
  std::vector<Timed> log;
};

std::shared_ptr<KSCategory> category(std::optional<std::string> id, std::string name) {
  auto c = std::make_shared<KSCategory>();
  c->setCategoryID(std::move(id));
  c->setName(std::move(name));
  return c;
}

std::shared_ptr<KSBeacon> storedBeacon(const std::string& id, const std::string& serial, int minor,
                                       const std::string& categoryName) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setSerialNumber(serial);
  b->setProximityUUIDString(std::string(kUUID));
  b->setMajor(Value(1));
  b->setMinor(Value(minor));
  b->setMeasuredPowerAt1Meter(Value(-59));
  b->setSiteID(std::string("S1"));
  b->setSiteName(std::string("Atrium"));
  b->setCategories(std::vector<std::shared_ptr<KSCategory>>{category("c-" + id, categoryName)});
  testsupport::grantRoles(*b, {1, 2}, KSSyncStatusSynced);
  testsupport::setOwnership(*b, 1);  // owned: its access never ages
  return b;
}

// Frames every half second: b-1 from 0 to 30 s at -65 dBm, at -50 from 10 to 20 s; b-2 from
// 20 to 45 s at -65. Both send measured power -59 (0xC5).
std::string airTrace() {
  std::string text;
  for (int i = 0; i < 90; ++i) {
    const double t = 0.5 * i;
    if (t < 30) {
      text += fmt::format("{:.3f} adv beacon-1 {} mfr=4C000215{}00010001C5\n", t, t >= 10 && t < 20 ? -50 : -65,
                          kFrameUUID);
    }
    if (t >= 20) text += fmt::format("{:.3f} adv beacon-2 -65 mfr=4C000215{}00010002C5\n", t, kFrameUUID);
  }
  return text;
}

class SiteScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::dispatch::Scheduler::setShared(world.scheduler);
    KSModelClock::setClock(world.scheduler->clock());
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);

    provider = KSInstanceProvider::create(world.bundle());
    KSInstanceProvider::setSharedProvider(provider);
    KestrineSDK::installSingletons(*provider);
    // Nothing is made yet, so these replace the SDK's makers: the cloud requests go to the
    // recorder.
    provider->installMaker<KSApiOperationManaging>(std::string(KSApiOperationManaging::kSingletonName),
                                                   [s = sync](KSInstanceProvider&) { return s; });
    KSSiteManagerInternal::Ports sitePorts;
    sitePorts.sync = [s = sync]() -> std::shared_ptr<KSSiteSyncRequesting> { return s; };
    KSSiteManagerInternal::installMaker(*provider, sitePorts);
  }
  void TearDown() override {
    KSMicroLocationManager::setSharedManager(nullptr);
    world.runUntilIdle();
    KSBeaconHubPort::setShared(nullptr);
    KSLocalStoragePort::setShared(nullptr);
    KSApiClientPort::setShared(nullptr);
    KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    world.runUntilIdle();
    KSModelClock::setClock(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<RecordingSync> sync = std::make_shared<RecordingSync>();
  std::shared_ptr<KSInstanceProvider> provider;
};

TEST_F(SiteScenario, TwoBeaconsOfOneSiteFromTheAirToTheHost) {
  // The store holds both beacons and their site, as left by an earlier sync.
  auto storage = KSLocalStorageManager::sharedManager(*provider);
  ASSERT_NE(storage, nullptr);
  storage->storeBeacon(storedBeacon("b-1", "SN-1", 1, "Entrance"));
  storage->storeBeacon(storedBeacon("b-2", "SN-2", 2, "Food"));
  auto atrium = std::make_shared<KSSite>();
  atrium->setSiteID(std::string("S1"));
  atrium->setName(std::string("Atrium"));
  atrium->setSyncStatus(KSSyncStatusSynced);
  storage->storeSite(atrium);
  storage->saveContext();
  world.runUntilIdle();

  auto hub = KSBeaconManagerInternal::sharedInternal(*provider);
  auto sites = KSSiteManagerInternal::sharedInternal(*provider);
  auto tracker = KSVisitTracker::sharedTracker(*provider);
  auto notifications = KSLocalNotificationManager::sharedManager(*provider);
  auto locationClient = KSLocationManagerClient::sharedClient(*provider);
  ASSERT_TRUE(hub && sites && tracker && notifications && locationClient);

  world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  world.runUntilIdle();
  ASSERT_TRUE(hub->isCurrentlyInSession());

  const Clock clock{world.scheduler->clock(), world.scheduler->clock()->now(), world.scheduler->mainQueue()};
  auto reports = std::make_shared<PassReports>(clock);
  sites->addDelegate(reports);

  auto facadeLog = std::make_shared<FacadeLog>(clock);
  auto facade = KSBeaconManager::create(*provider);
  facade->setDelegate(facadeLog);
  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier(std::string("com.example.atrium"));
  region->setProximityUUIDString(std::string(kUUID));
  facade->startMonitoringBeaconRegion(region);
  locationClient->setBeaconRegionMonitoringEnabled(true);

  // The host's micro-location manager: snapshots only on proximity changes, S1 monitored and
  // ranged.
  auto log = std::make_shared<MicroLocationLog>(clock);
  auto microLocation = KSMicroLocationManager::sharedManager();
  microLocation->setDelegate(log);
  microLocation->setUpdateMicroLocationOnlyOnProximityChanges(true);
  microLocation->startUpdatingMicroLocation();
  auto s1 = std::make_shared<KSSite>();
  s1->setSiteID(std::string("S1"));
  microLocation->startMonitoringSite(s1);
  microLocation->startRangingBeaconsInSite(s1);

  // A notification for a "Food" beacon near or closer in a site named "Atrium" (by name: its
  // id is another).
  auto lunch = std::make_shared<KSLocalNotification>();
  auto named = std::make_shared<KSSite>();
  named->setSiteID(std::string("X"));
  named->setName(std::string("Atrium"));
  lunch->setFireInSite(named);
  lunch->setFireInCategories({category(std::nullopt, "Food")});
  lunch->setFireInProximity(2);
  lunch->setAlertBody("Lunch is served");
  notifications->scheduleLocalNotification(lunch);
  std::vector<Instant> presentedAt;
  auto token = world.center->addObserver(std::string(KSLocalNotificationManagerDidPresentLocalNotification), nullptr,
                                         nullptr, [&](const platform::Notification&) { presentedAt.push_back(clock.now()); });

  hub->startDiscoveringBeacons();
  auto trace = platform::sim::SimTrace::parse(airTrace());
  ASSERT_TRUE(trace);
  world.radio->play(*trace);
  world.advanceBy(70);
  hub->stopDiscoveringBeacons();
  world.runUntilIdle();
  world.center->removeObserver(token);

  // --- the passes, from the site manager's reports
  const auto& passes = reports->passes;
  ASSERT_GE(passes.size(), 60u);
  auto lists = [&](std::size_t i, const std::string& id) {
    return std::any_of(passes[i].beacons.begin(), passes[i].beacons.end(), [&](const auto& b) { return b.beaconID == id; });
  };
  auto first = [&](const std::string& id) -> int {
    for (std::size_t i = 0; i < passes.size(); ++i) {
      if (lists(i, id)) return static_cast<int>(i);
    }
    return -1;
  };
  auto last = [&](const std::string& id) -> int {
    for (std::size_t i = passes.size(); i-- > 0;) {
      if (lists(i, id)) return static_cast<int>(i);
    }
    return -1;
  };
  const int f1 = first("b-1"), l1 = last("b-1"), f2 = first("b-2"), l2 = last("b-2");
  ASSERT_GE(f1, 0);
  ASSERT_GE(f2, 0);
  ASSERT_LT(f1, f2);
  ASSERT_LT(l1, l2);
  const int exitPass = l2 + 6;
  ASSERT_LT(static_cast<std::size_t>(l2 + 7), passes.size());
  // The pass an instant belongs to; -2 for none.
  auto passAt = [&](Instant at) {
    for (std::size_t i = 0; i < passes.size(); ++i) {
      if (passes[i].at == at) return static_cast<int>(i);
    }
    return -2;
  };

  // --- the micro-location manager's delegate, in order and pass by pass
  std::vector<std::pair<int, std::string>> expected{{-1, "start S1"}};
  std::optional<std::map<std::string, std::uint64_t>> sent;  // S1's group in the last snapshot sent
  std::string sentText;
  for (int i = 0; i < static_cast<int>(passes.size()); ++i) {
    std::vector<std::string> group;
    std::map<std::string, std::uint64_t> proximities;
    for (const auto& b : passes[i].beacons) {
      if (b.siteID != "S1") continue;
      group.push_back(fmt::format("{}:{}", b.beaconID, b.proximity));
      proximities[b.beaconID] = b.proximity;
    }
    const std::string now = "S1[" + groupText(group) + "]";
    if (i == f1) {
      expected.push_back({i, "enter S1"});
      expected.push_back({i, "snapshots -"});
      expected.push_back({i, "range [" + groupText(group) + "] in S1"});
      expected.push_back({i, "snapshots - " + now});
      sent = proximities;
      sentText = now;
    } else if (i > f1 && i < exitPass && !group.empty()) {
      expected.push_back({i, "range [" + groupText(group) + "] in S1"});
      if (proximities != *sent) {
        expected.push_back({i, "snapshots " + sentText + " " + now});
        sent = proximities;
        sentText = now;
      }
    } else if (i == exitPass) {
      EXPECT_TRUE(group.empty());
      expected.push_back({i, "exit S1"});
      expected.push_back({i, "snapshots " + sentText + " -"});
    }
  }
  std::vector<std::pair<int, std::string>> heard;
  for (const auto& e : log->site) heard.push_back({heard.empty() ? -1 : passAt(e.at), e.what});
  EXPECT_EQ(heard, expected);
  ASSERT_FALSE(log->site.empty());
  EXPECT_LT(log->site.front().at, passes.front().at);  // before any pass, from the main queue
  // The proximity changes really happened: b-1 came close and went back.
  EXPECT_GE(std::count_if(expected.begin(), expected.end(),
                          [](const auto& e) { return e.second.starts_with("snapshots S1["); }),
            3);

  // --- the visit tracker, by pass
  std::vector<std::pair<int, std::string>> visits;
  for (const auto& e : log->visits) visits.push_back({passAt(e.at), e.what});
  EXPECT_EQ(visits, (std::vector<std::pair<int, std::string>>{
                        {f1, "begin [SN-1]"}, {f2, "begin [SN-2]"}, {l1 + 7, "end [SN-1]"}, {l2 + 7, "end [SN-2]"}}));

  // --- the notification: once, on the first pass that lists b-2 near or closer
  int nearFood = -1;
  for (std::size_t i = 0; i < passes.size() && nearFood < 0; ++i) {
    for (const auto& b : passes[i].beacons) {
      if (b.beaconID == "b-2" && (b.proximity == 1 || b.proximity == 2)) nearFood = static_cast<int>(i);
    }
  }
  ASSERT_GE(nearFood, 0);
  ASSERT_EQ(presentedAt.size(), 1u);
  EXPECT_EQ(passAt(presentedAt[0]), nearFood);
  const auto presented = world.app->presentedNotifications();
  ASSERT_EQ(presented.size(), 1u);
  EXPECT_EQ(presented[0].alertBody, "Lunch is served");
  EXPECT_TRUE(notifications->scheduledLocalNotifications().empty());

  // --- the public beacon manager hears the same enter and exit
  std::vector<std::pair<int, std::string>> facadeHeard;
  for (const auto& e : facadeLog->log) facadeHeard.push_back({passAt(e.at), e.what});
  EXPECT_EQ(facadeHeard, (std::vector<std::pair<int, std::string>>{{f1, "enter S1"}, {exitPass, "exit S1"}}));

  // --- what reached the store file: both visits ended, b-1's closest proximity (cProx, kept
  // as cProxID) immediate
  SQLite::Database db((world.documents.path() / std::string(KSSqliteDBFileName)).string(), SQLite::OPEN_READONLY);
  SQLite::Statement q(db, "SELECT serialNumber, cProxID, endedAt IS NOT NULL FROM KSBeaconVisit ORDER BY serialNumber");
  std::vector<std::string> rows;
  while (q.executeStep()) {
    rows.push_back(fmt::format("{} {} {}", q.getColumn(0).getString(), q.getColumn(1).getInt64(), q.getColumn(2).getInt()));
  }
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "SN-1 1 1");
  EXPECT_TRUE(rows[1].starts_with("SN-2 ") && rows[1].ends_with(" 1")) << rows[1];

  // The cloud was asked, through the recorder only.
  EXPECT_FALSE(sync->requests().empty());
}

}  // namespace
}  // namespace velmora::kestrine
