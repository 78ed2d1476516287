// One site visit through the whole stack, as an app links the SDK: the SDK entry over the
// loopback beacon cloud, the SQLite store in a temporary documents folder, the simulated
// radio, location services and app on the virtual clock. The cloud serves the app, a region,
// two beacons in one site and the site's zone timing; the radio then plays the two beacons,
// the second while the first is still heard and after it. The host's zone monitor, the
// shared micro-location manager and an event on the shared event manager each hear the
// visit, at times read off the hub's ranging passes.

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>
#include <set>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSTrigger.h"
#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSZone.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "testing/BeaconCloudFake.h"
#include "testing/HexBytes.h"
#include "testing/LaneStackWorld.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::BeaconCloudFake;

constexpr std::string_view kU = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr double kBound = 60;  // virtual seconds any one wait may take

// What one publisher said, with the virtual second it said it at.
struct Heard {
  double at;
  std::string what;
};
using HeardList = std::vector<Heard>;

// Everything the host's listeners and the hub's passes told, on one clock.
struct Journal {
  std::mutex mutex;
  std::function<double()> now;
  HeardList zones, micro, events;
  std::vector<std::pair<double, std::set<std::string>>> passes;  // serial numbers per pass
  std::vector<std::shared_ptr<KSEvent>> firedEvents;
  void add(HeardList& list, std::string what) {
    std::lock_guard lock(mutex);
    list.push_back({now(), std::move(what)});
  }
  HeardList copy(const HeardList& list) {
    std::lock_guard lock(mutex);
    return list;
  }
};

std::string zoneName(const std::shared_ptr<KSZone>& z) { return z && z->identifier() ? *z->identifier() : "?"; }
std::string siteName(const std::shared_ptr<KSSite>& s) { return s && s->siteID() ? *s->siteID() : "?"; }
std::string serials(const std::vector<std::string>& list) {
  std::string out = "[";
  for (const auto& s : list) out += (out.size() > 1 ? "," : "") + s;
  return out + "]";
}

class Zones final : public KSZoneMonitorDelegate {
 public:
  explicit Zones(Journal& j) : j_(j) {}
  void zoneMonitorDidEnterSite(const Monitor&, const std::shared_ptr<KSSite>& s) override {
    j_.add(j_.zones, "enter site " + siteName(s));
  }
  void zoneMonitorDidExitSite(const Monitor&, const std::shared_ptr<KSSite>& s) override {
    j_.add(j_.zones, "exit site " + siteName(s));
  }
  void zoneMonitorDidEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override {
    j_.add(j_.zones, "enter " + zoneName(z));
  }
  void zoneMonitorDidReEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override {
    j_.add(j_.zones, "re-enter " + zoneName(z));
  }
  void zoneMonitorDidExitZone(const Monitor&, const std::shared_ptr<KSZone>& z) override {
    j_.add(j_.zones, "exit " + zoneName(z));
  }
  void zoneMonitorDidDwellInZoneForTimeInterval(const Monitor&, const std::shared_ptr<KSZone>& z, double t) override {
    j_.add(j_.zones, "dwell " + zoneName(z) + " " + std::to_string(std::lround(t)));
  }
  void zoneMonitorInZoneAfterTimeForRange(const Monitor&, const std::shared_ptr<KSZone>& z, double elapsed,
                                          KSZoneTimeRange range) override {
    j_.add(j_.zones, "in-zone " + zoneName(z) + " after " + std::to_string(std::lround(elapsed)) + " for (" +
                         std::to_string(range.location) + ", " + std::to_string(range.length) + ")");
  }
  void zoneMonitorDidRangeBeaconsInZone(const Monitor&, const Beacons&, const std::shared_ptr<KSZone>& z) override {
    j_.add(j_.zones, "ranged " + zoneName(z));
  }

 private:
  Journal& j_;
};

class Micro final : public KSMicroLocationManagerDelegate {
 public:
  explicit Micro(Journal& j) : j_(j) {}
  void microLocationManagerDidStartMonitoringForSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    j_.add(j_.micro, "did-start-monitoring " + siteName(s));
  }
  void microLocationManagerDidEnterSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    j_.add(j_.micro, "enter " + siteName(s));
  }
  void microLocationManagerDidExitSite(KSMicroLocationManager*, std::shared_ptr<KSSite> s) override {
    j_.add(j_.micro, "exit " + siteName(s));
  }
  void microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers s) override {
    j_.add(j_.micro, "begin " + serials(s));
  }
  void microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers s) override {
    j_.add(j_.micro, "end " + serials(s));
  }

 private:
  Journal& j_;
};

class Events final : public KSEventManagerDelegate {
 public:
  explicit Events(Journal& j) : j_(j) {}
  void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>&, const std::shared_ptr<KSTriggeredEvent>& e) override {
    if (!e || !e->event || e->triggerState != 1) return;
    const auto& ev = *e->event;
    j_.add(j_.events, "count " + std::to_string(e->triggeredCount) + " " + ev.beaconID().value_or("?") + " " +
                          ev.siteName().value_or("?") + " " + ev.categoryName().value_or("?"));
    std::lock_guard lock(j_.mutex);
    j_.firedEvents.push_back(e->event);
  }

 private:
  Journal& j_;
};

class Passes final : public KSBeaconManagerInternalDelegate {
 public:
  explicit Passes(Journal& j) : j_(j) {}
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) override {
    std::set<std::string> s;
    for (const auto& b : beacons) {
      if (b && b->serialNumber()) s.insert(*b->serialNumber());
    }
    const double t = j_.now();
    std::lock_guard lock(j_.mutex);
    j_.passes.emplace_back(t, std::move(s));
  }

 private:
  Journal& j_;
};

Value customValue(const std::string& id, const std::string& key, const std::string& value) {
  return Value::makeDict({{"id", id}, {"key", key}, {"value", value}});
}

Value beaconRecord(const std::string& id, const std::string& serial, int minor, const std::string& category,
                   const std::string& zone) {
  return Value::makeDict(
      {{"id", id},
       {"serialNumber", serial},
       {"proximityUUID", std::string(kU)},
       {"major", 1},
       {"minor", minor},
       {"measuredPowerAt1Meter", -59},
       {"siteID", "S1"},
       {"siteName", "Atrium"},
       {"categories", Value::makeArray({Value::makeDict({{"id", "c-" + id},
                                                         {"name", category},
                                                         {"customValues", Value::makeArray({customValue(
                                                                              "cv-" + id, "zone", zone)})}})})},
       {"networkAccess",
        Value::makeDict({{"ownership", Value::makeDict({{"id", 1}})},
                         {"permittedRoles", Value::makeArray({Value::makeDict({{"id", 1}}), Value::makeDict({{"id", 2}})})}})}});
}

platform::sim::SimAdvertiser advertiser(const platform::Uuid& id, int minor) {
  platform::sim::SimAdvertiser a;
  a.identifier = id;
  a.advertisement.manufacturerData = velmora::testing::hexBytes(velmora::testing::iBeaconFrameHex(kU, 1, minor, -59));
  a.intervalSeconds = 0.1;
  a.rssi = -65;
  return a;
}

class ZoneWholeStack : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::dispatch::Scheduler::setShared(world.scheduler);
    KSModelClock::setClock(world.scheduler->clock());
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    journal.now = [this] { return now(); };

    cloud.putRecord("/apps/T", "app", Value::makeDict({{"id", "app-1"}, {"name", "Atrium app"}}));
    cloud.putList("apps/T/beaconRegions", "beaconRegions",
                  {Value::makeDict({{"id", "r-1"},
                                    {"regionIdentifier", "com.example.atrium"},
                                    {"proximityUUID", std::string(kU)},
                                    {"name", "Atrium"}})});
    cloud.putList("beacons", "beacons",
                  {beaconRecord("b-1", "SN-1", 1, "Entrance", "Lobby"), beaconRecord("b-2", "SN-2", 2, "Food", "Cafe")});
    cloud.putList("sites", "sites",
                  {Value::makeDict({{"id", "S1"},
                                    {"name", "Atrium"},
                                    {"createdAt", "2024-03-01T10:00:00Z"},
                                    {"customValues", Value::makeArray({customValue("s-1", "Lobby_DwellTime", "10"),
                                                                       customValue("s-2", "cafe_inzoneaftertimerange",
                                                                                   "5,20")})}})});

    provider = KSInstanceProvider::create(world.bundle());
    KSInstanceProvider::setSharedProvider(provider);
    KestrineSDK::installSingletons(*provider);
    KestrineSDK::setOptions({{std::string(KSOptionApiBaseURL), Value(cloud.baseUrl())},
                             {std::string(KSOptionCacheAllBeaconsForApp), Value("YES")}});
  }
  void TearDown() override {
    KestrineSDK::stopRunning();
    world.runUntilIdle();
    zoneMonitor.reset();
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

  double clock() const { return world.scheduler->clock()->now().timeIntervalSinceReferenceDate(); }
  double now() const { return clock() - start; }
  void advanceTo(double t) {
    if (t > now()) world.advanceBy(t - now());
  }
  bool runUntil(const std::function<bool()>& condition) { return world.scheduler->runUntil(condition, kBound); }
  std::filesystem::path storeFile() const { return world.documents.path() / std::string(KSSqliteDBFileName); }

  velmora::testing::SimWorld world;
  BeaconCloudFake cloud;
  std::shared_ptr<KSInstanceProvider> provider;
  Journal journal;
  std::shared_ptr<KSZoneMonitor> zoneMonitor;
  double start = 0;
};

// The first and the last pass that listed the serial number.
std::pair<double, double> firstAndLast(const std::vector<std::pair<double, std::set<std::string>>>& passes,
                                       const std::string& serial) {
  double first = -1, last = -1;
  for (const auto& [t, s] : passes) {
    if (!s.count(serial)) continue;
    if (first < 0) first = t;
    last = t;
  }
  return {first, last};
}

// The entries saying `what`, with their times.
std::vector<double> timesOf(const HeardList& list, std::string_view what) {
  std::vector<double> out;
  for (const auto& h : list) {
    if (h.what == what) out.push_back(h.at);
  }
  return out;
}

// The store keeps dates as microseconds since 1970; the clock reads seconds since 2001.
constexpr double kUnixAtReferenceDate = 978307200;
double storedSeconds(const SQLite::Column& column) {
  return static_cast<double>(column.getInt64()) / 1e6 - kUnixAtReferenceDate;
}
// A date as the cloud's JSON writes it, from seconds since 2001 (whole seconds).
std::string wireDate(double sinceReference) {
  const std::time_t t = static_cast<std::time_t>(std::llround(sinceReference + kUnixAtReferenceDate));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S+0000", &tm);
  return out;
}

std::string dump(const HeardList& list) {
  std::string out;
  for (const auto& h : list) out += std::to_string(h.at) + " " + h.what + "\n";
  return out;
}

TEST_F(ZoneWholeStack, OneSiteVisitIsHeardByTheZoneMonitorTheMicroLocationManagerAndTheEventManager) {
  std::vector<int> completions;
  KestrineSDK::startRunningWithAppToken("T", [&](int status) { completions.push_back(status); });
  ASSERT_TRUE(runUntil([&] { return !completions.empty(); }));
  ASSERT_EQ(completions, std::vector<int>{KSStatusRunning});
  ASSERT_TRUE(runUntil([&] {
    return cloud.hits("GET", "/apps/T") > 0 && cloud.hits("GET", "beacons") > 0 && cloud.hits("GET", "sites") > 0;
  })) << "the cloud served the app, its beacons and its sites\n" << [&] {
    std::string out;
    for (const auto& r : cloud.log()) out += r.method + " " + r.rawTarget + "\n";
    return out;
  }();
  // ... and the SDK took them in: the two beacons synced, the site synced with its values.
  auto sites = KSSiteManagerInternal::sharedInternal(*provider);
  auto hub = KSBeaconManagerInternal::sharedInternal(*provider);
  ASSERT_TRUE(runUntil([&] {
    auto site = sites->cachedSiteWithSiteID("S1");
    auto b1 = hub->cachedBeaconWithBeaconID("b-1");
    auto b2 = hub->cachedBeaconWithBeaconID("b-2");
    const auto regions = KSBeaconRegionManager::sharedManager(*provider)->allCachedBeaconRegions();
    const bool cloudRegion = regions.size() == 1 && regions[0]->identifier() == "com.example.atrium";
    return cloudRegion && site && site->syncStatus() == KSSyncStatusSynced && site->customValues() && b1 && b2 &&
           b1->syncStatus() == KSSyncStatusSynced && b2->syncStatus() == KSSyncStatusSynced;
  }));
  world.runUntilIdle();
  world.runUntilIdle();

  // The host, on the main queue.
  auto zones = std::make_shared<Zones>(journal);
  auto micro = std::make_shared<Micro>(journal);
  auto events = std::make_shared<Events>(journal);
  auto passes = std::make_shared<Passes>(journal);
  std::shared_ptr<KSMicroLocationManager> microManager;
  std::shared_ptr<KSEventManager> eventManager;
  const std::string arrival = "com.example.arrival";
  world.scheduler->mainQueue()->async([&] {
    hub->addDelegate(passes);
    zoneMonitor = KSZoneMonitor::initWithDelegate({}, zones, world.scheduler->mainQueue(), {"zone"});
    zoneMonitor->startMonitoringZones();
    microManager = KSMicroLocationManager::sharedManager();
    microManager->setDelegate(micro);
    microManager->startMonitoringSite(sites->cachedSiteWithSiteID("S1"));
    eventManager = KSEventManager::sharedManager();
    eventManager->setDelegate(events);
    auto trigger = KSTrigger::initWithIdentifier(
        arrival, {KSEventFilter::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(60)});
    trigger->setRepeatCount(std::numeric_limits<std::int64_t>::max());
    eventManager->monitorEventWithTrigger(trigger);
  });
  world.runUntilIdle();

  // The radio plays: b-1 from 0 to 40 s, b-2 from 20 to 60 s.
  start = clock();
  const auto p1 = platform::Uuid::random(), p2 = platform::Uuid::random();
  world.radio->addAdvertiser(advertiser(p1, 1));
  advanceTo(20);
  world.radio->addAdvertiser(advertiser(p2, 2));
  advanceTo(40);
  world.radio->removeAdvertiser(p1);
  advanceTo(60);
  world.radio->removeAdvertiser(p2);
  advanceTo(90);
  // The visit posts went over the real loopback network while virtual time ran on without
  // them: let the ones in flight come back, and the posts they hold back go, as the app
  // would in the real seconds the scenario stands for.
  world.runUntilSettled();

  HeardList z, m, e;
  std::vector<std::pair<double, std::set<std::string>>> ranged;
  {
    std::lock_guard lock(journal.mutex);
    z = journal.zones;
    m = journal.micro;
    e = journal.events;
    ranged = journal.passes;
  }
  const auto [f1, l1] = firstAndLast(ranged, "SN-1");
  const auto [f2, l2] = firstAndLast(ranged, "SN-2");
  SCOPED_TRACE("F(b-1) " + std::to_string(f1) + " L(b-1) " + std::to_string(l1) + " F(b-2) " + std::to_string(f2) +
               " L(b-2) " + std::to_string(l2) + " passes " + std::to_string(ranged.size()) + "\nzones:\n" + dump(z) +
               "micro:\n" + dump(m) + "events:\n" + dump(e));
  ASSERT_GE(f1, 0);
  ASSERT_GE(f2, 0);
  constexpr double kSame = 1e-6;
  auto at = [&](const HeardList& list, std::string_view what) -> double {
    auto t = timesOf(list, what);
    return t.size() == 1 ? t[0] : -1000.0 * static_cast<double>(t.size() + 1);
  };

  // The zone monitor: the site and the lobby at F(b-1); the lobby ranged each pass to L(b-1).
  EXPECT_NEAR(at(z, "enter site S1"), f1, kSame);
  EXPECT_NEAR(at(z, "enter lobby"), f1, kSame);
  const auto lobbyRanged = timesOf(z, "ranged lobby");
  std::vector<double> lobbyPasses;
  for (const auto& [t, s] : ranged) {
    if (s.count("SN-1")) lobbyPasses.push_back(t);
  }
  EXPECT_EQ(lobbyRanged, lobbyPasses);
  EXPECT_NEAR(at(z, "dwell lobby 10"), f1 + 11, kSame);
  EXPECT_NEAR(at(z, "enter cafe"), f2, kSame);
  EXPECT_NEAR(at(z, "in-zone cafe after 6 for (5, 15)"), f2 + 6, kSame);
  const double exitLobby = at(z, "exit lobby");
  EXPECT_GT(exitLobby, l1 + 6);
  EXPECT_LE(exitLobby, l1 + 7);
  EXPECT_NEAR(at(z, "exit site S1"), l2 + 6, kSame);
  const double exitCafe = at(z, "exit cafe");
  EXPECT_GT(exitCafe, l2 + 6);
  EXPECT_LE(exitCafe, l2 + 7);
  // The cafe ranged each pass from F(b-2) to L(b-2).
  std::vector<double> cafePasses;
  for (const auto& [t, s] : ranged) {
    if (s.count("SN-2")) cafePasses.push_back(t);
  }
  EXPECT_EQ(timesOf(z, "ranged cafe"), cafePasses);
  {
    // At F(b-1) the site and the lobby are entered (the two come from different passes of the
    // SDK, the site manager's and the event manager's, so in either order), the lobby before
    // it is ranged; and nothing else is heard at all.
    std::vector<std::string> atFirst;
    for (const auto& h : z) {
      if (std::fabs(h.at - f1) < kSame) atFirst.push_back(h.what);
    }
    std::vector<std::string> sorted = atFirst;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"enter lobby", "enter site S1", "ranged lobby"}));
    const auto lobby = std::find(atFirst.begin(), atFirst.end(), "enter lobby");
    const auto ranged1 = std::find(atFirst.begin(), atFirst.end(), "ranged lobby");
    EXPECT_LT(lobby - atFirst.begin(), ranged1 - atFirst.begin());
    const std::set<std::string> allowed{"enter site S1", "enter lobby", "ranged lobby", "dwell lobby 10", "enter cafe",
                                        "ranged cafe", "in-zone cafe after 6 for (5, 15)", "exit lobby", "exit site S1",
                                        "exit cafe"};
    for (const auto& h : z) EXPECT_TRUE(allowed.count(h.what)) << "unexpected: " << h.what;
  }

  // The micro-location manager, with the tracker's visits.
  EXPECT_EQ(timesOf(m, "did-start-monitoring S1").size(), 1u);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m.front().what, "did-start-monitoring S1");
  EXPECT_NEAR(at(m, "enter S1"), f1, kSame);
  EXPECT_NEAR(at(m, "exit S1"), l2 + 6, kSame);
  EXPECT_NEAR(at(m, "begin [SN-1]"), f1, kSame);
  EXPECT_NEAR(at(m, "begin [SN-2]"), f2, kSame);
  EXPECT_NEAR(at(m, "end [SN-1]"), l1 + 7, kSame);
  EXPECT_NEAR(at(m, "end [SN-2]"), l2 + 7, kSame);
  EXPECT_EQ(m.size(), 7u);

  // The event: one firing per beacon entered, each a new event.
  ASSERT_EQ(e.size(), 2u);
  EXPECT_NEAR(e[0].at, f1, kSame);
  EXPECT_EQ(e[0].what, "count 1 b-1 Atrium Entrance");
  EXPECT_NEAR(e[1].at, f2, kSame);
  EXPECT_EQ(e[1].what, "count 2 b-2 Atrium Food");
  std::string firstEventID, secondEventID;
  {
    std::lock_guard lock(journal.mutex);
    ASSERT_EQ(journal.firedEvents.size(), 2u);
    firstEventID = journal.firedEvents[0]->eventID().value_or("");
    secondEventID = journal.firedEvents[1]->eventID().value_or("");
  }
  EXPECT_FALSE(firstEventID.empty());
  EXPECT_NE(firstEventID, secondEventID);

  // After the host lets go, nothing more is heard.
  world.scheduler->mainQueue()->async([&] { eventManager->removeMonitoredEvent(arrival); });
  world.runUntilIdle();
  KestrineSDK::stopRunning();
  world.runUntilIdle();
  const auto zonesBefore = journal.copy(journal.zones).size();
  const auto microBefore = journal.copy(journal.micro).size();
  const auto eventsBefore = journal.copy(journal.events).size();
  world.radio->addAdvertiser(advertiser(p1, 1));
  advanceTo(now() + 30);
  world.radio->removeAdvertiser(p1);
  advanceTo(now() + 10);
  world.runUntilIdle();
  EXPECT_EQ(journal.copy(journal.zones).size(), zonesBefore);
  EXPECT_EQ(journal.copy(journal.micro).size(), microBefore);
  EXPECT_EQ(journal.copy(journal.events).size(), eventsBefore);

  // The store: the event's summary and the two ended visits; each visit's last post carries
  // its end. The store writes its context to the file when the app goes to the background
  // (as the user leaves it): what was handed to it is in the file from then on.
  world.app->perform(platform::sim::SimApp::Step::EnterBackground);
  world.runUntilSettled();
  const double t0 = start;
  SQLite::Database db(storeFile().string(), SQLite::OPEN_READONLY);
  {
    SQLite::Statement q(db, "SELECT triggeredCount, firstTriggeredAt, lastTriggeredAt FROM KSEventSummary WHERE "
                            "eventIdentifier = ?");
    q.bind(1, arrival);
    const bool stored = q.executeStep();
    EXPECT_TRUE(stored) << "the summary is stored";
    if (stored) {
      EXPECT_EQ(q.getColumn(0).getInt(), 2);
      EXPECT_NEAR(storedSeconds(q.getColumn(1)) - t0, f1, 1e-3);
      EXPECT_NEAR(storedSeconds(q.getColumn(2)) - t0, f2, 1e-3);
    }
  }
  std::map<std::string, double> endedBySerial;
  {
    SQLite::Statement q(db, "SELECT serialNumber, endedAt FROM KSBeaconVisit ORDER BY serialNumber");
    while (q.executeStep()) {
      ASSERT_FALSE(q.getColumn(1).isNull()) << q.getColumn(0).getString() << " ended";
      endedBySerial[q.getColumn(0).getString()] = storedSeconds(q.getColumn(1)) - t0;
    }
  }
  ASSERT_EQ(endedBySerial.size(), 2u);
  EXPECT_NEAR(endedBySerial["SN-1"], l1 + 7, 1e-3);
  EXPECT_NEAR(endedBySerial["SN-2"], l2 + 7, 1e-3);
  std::map<std::string, Value> lastPost;
  for (const auto& r : cloud.log()) {
    if (r.method != "POST" || r.path != "/api/beaconvisits") continue;
    const platform::Array* visits = r.json["beaconVisits"].array();
    if (!visits) continue;
    for (const auto& visit : *visits) {
      if (const std::string* serial = visit["serialNumber"].string()) lastPost[*serial] = visit;
    }
  }
  ASSERT_EQ(lastPost.size(), 2u) << "both visits were posted\n" << [&] {
    std::string out;
    for (const auto& r : cloud.log()) {
      if (r.method == "POST") out += r.rawTarget + " " + r.body.substr(0, 600) + "\n";
    }
    return out;
  }();
  for (const auto& [serial, visit] : lastPost) {
    SCOPED_TRACE(serial);
    ASSERT_NE(visit["endedAt"].string(), nullptr) << "the last post carries the end";
    EXPECT_EQ(*visit["endedAt"].string(), wireDate(t0 + endedBySerial[serial]));
  }
}

// What the components' own event managers and the SDK's posts carry. The host's zone monitor
// owns an event manager of its own: its firings carry the site of the beacon (the registry's
// site manager is its site source), and its summary is kept in the local store. Every visit
// and every logged event goes to the cloud with the identifier of the app session running.
TEST_F(ZoneWholeStack, TheZoneMonitorsOwnEventsCarryTheSiteAndEveryPostCarriesTheSession) {
  std::vector<int> completions;
  KestrineSDK::startRunningWithAppToken("T", [&](int status) { completions.push_back(status); });
  ASSERT_TRUE(runUntil([&] { return !completions.empty(); }));
  auto sites = KSSiteManagerInternal::sharedInternal(*provider);
  auto hub = KSBeaconManagerInternal::sharedInternal(*provider);
  ASSERT_TRUE(runUntil([&] {
    auto site = sites->cachedSiteWithSiteID("S1");
    auto b1 = hub->cachedBeaconWithBeaconID("b-1");
    const auto regions = KSBeaconRegionManager::sharedManager(*provider)->allCachedBeaconRegions();
    return regions.size() == 1 && site && site->syncStatus() == KSSyncStatusSynced && site->customValues() && b1 &&
           b1->syncStatus() == KSSyncStatusSynced;
  }));
  world.runUntilSettled();

  std::mutex mutex;
  std::vector<std::shared_ptr<KSTriggeredEvent>> fired;
  auto zones = std::make_shared<Zones>(journal);
  platform::NotificationCenter::ObserverToken token;
  world.scheduler->mainQueue()->async([&] {
    zoneMonitor = KSZoneMonitor::initWithDelegate({}, zones, world.scheduler->mainQueue(), {"zone"});
    token = world.center->addObserver(std::string(KSEventManagerTriggeredEvent), zoneMonitor->eventManager().get(),
                                      nullptr, [&](const platform::Notification& n) {
                                        const platform::Value value =
                                            platform::Value(n.userInfo)[KSEventManagerTriggeredEventItem];
                                        const auto* object = value.object();
                                        const auto* item =
                                            object ? dynamic_cast<const KSTriggeredEventItem*>(object->get()) : nullptr;
                                        std::lock_guard lock(mutex);
                                        if (item && item->event && item->event->triggerState == 1) fired.push_back(item->event);
                                      });
    zoneMonitor->startMonitoringZones();
  });
  world.runUntilIdle();

  start = clock();
  const auto p1 = platform::Uuid::random();
  world.radio->addAdvertiser(advertiser(p1, 1));
  advanceTo(15);
  world.radio->removeAdvertiser(p1);
  advanceTo(30);
  KestrineSDK::logEventWithIdentifier("host.checkout", std::string("v1"), std::nullopt, std::nullopt);
  advanceTo(40);
  world.runUntilSettled();
  world.center->removeObserver(token);

  const auto session = KSSessionManager::sharedManager(*provider)->currentSessionIdentifier();
  ASSERT_TRUE(session && !session->empty()) << "the SDK's start began a session";

  {
    std::lock_guard lock(mutex);
    ASSERT_FALSE(fired.empty()) << "the zone monitor's own trigger fired\nzones:\n" << dump(journal.copy(journal.zones));
    auto location = std::dynamic_pointer_cast<KSMicroLocation>(fired.front()->filteredMicroLocation);
    ASSERT_NE(location, nullptr);
    std::vector<std::string> siteIDs;
    for (const auto& site : location->sites().value_or(KSMicroLocation::Sites{})) {
      siteIDs.push_back(site ? site->siteID().value_or("?") : "null");
    }
    EXPECT_EQ(siteIDs, std::vector<std::string>{"S1"}) << "the firing carries the beacon's site";
  }

  // The cloud: the visit (posted as it began and as it ended) and the host's event.
  std::size_t visitsPosted = 0, hostEventsPosted = 0;
  for (const auto& r : cloud.log()) {
    if (r.method != "POST") continue;
    if (r.path == "/api/beaconvisits") {
      for (const auto& visit : r.json["beaconVisits"].array() ? *r.json["beaconVisits"].array() : platform::Array{}) {
        ++visitsPosted;
        EXPECT_EQ(visit["sessionUUID"].string() ? *visit["sessionUUID"].string() : "none", *session)
            << r.body.substr(0, 400);
      }
    } else if (r.path == "/api/events") {
      for (const auto& event : r.json["events"].array() ? *r.json["events"].array() : platform::Array{}) {
        if (!event["eventIdentifier"].string() || *event["eventIdentifier"].string() != "host.checkout") continue;
        ++hostEventsPosted;
        EXPECT_EQ(event["sessionUUID"].string() ? *event["sessionUUID"].string() : "none", *session)
            << r.body.substr(0, 400);
      }
    }
  }
  EXPECT_GT(visitsPosted, 0u);
  EXPECT_EQ(hostEventsPosted, 1u);

  // The zone monitor's summary, in the store once the app leaves for the background.
  world.app->perform(platform::sim::SimApp::Step::EnterBackground);
  world.runUntilSettled();
  SQLite::Database db(storeFile().string(), SQLite::OPEN_READONLY);
  SQLite::Statement q(db, "SELECT triggeredCount FROM KSEventSummary WHERE eventIdentifier = ?");
  q.bind(1, std::string(KSZoneMonitorTriggerIdentifier));
  ASSERT_TRUE(q.executeStep()) << "the zone monitor's summary is stored";
  EXPECT_GE(q.getColumn(0).getInt(), 1);
}

}  // namespace
}  // namespace velmora::kestrine
