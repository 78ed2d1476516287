#include "beacons/microlocation/KSZoneMonitor.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSZone.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
using platform::Date;

std::shared_ptr<KSCustomValue> customValue(const std::string& key, const std::string& value) {
  auto v = std::make_shared<KSCustomValue>();
  v->setKey(key);
  v->setValue(value);
  return v;
}

std::shared_ptr<KSSite> site(const std::string& id, std::vector<std::pair<std::string, std::string>> values,
                             std::int64_t syncStatus = 2) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName("Site " + id);
  s->setSyncStatus(syncStatus);
  KSSite::CustomValues list;
  for (const auto& [k, v] : values) list.push_back(customValue(k, v));
  s->setCustomValues(list);
  return s;
}

// A beacon of that site with one category carrying the given custom values.
std::shared_ptr<KSBeacon> beacon(const std::string& id, const std::string& siteID,
                                 std::vector<std::pair<std::string, std::string>> categoryValues) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setSerialNumber("SN-" + id);
  b->setSiteID(siteID);
  b->setAccuracy(1.0);
  auto category = std::make_shared<KSCategory>();
  category->setName("Entrance");
  KSCategory::CustomValues list;
  for (const auto& [k, v] : categoryValues) list.push_back(customValue(k, v));
  category->setCustomValues(list);
  b->setCategories(std::vector<std::shared_ptr<KSCategory>>{category});
  return b;
}

struct FakeSiteManager : KSZoneSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  std::vector<std::weak_ptr<KSSiteManagerInternalDelegate>> delegates;
  int removed = 0;
  Sites allCachedSites() override {
    Sites out;
    for (const auto& [id, s] : sites) out.push_back(s);
    return out;
  }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> d) override { delegates.push_back(d); }
  void removeDelegate(const KSSiteManagerInternalDelegate*) override { ++removed; }
};

// Every callback as a line "<seconds> <what>", stamped with the virtual time it arrived at.
struct Recorder : KSZoneMonitorDelegate {
  std::function<double()> seconds;
  std::vector<std::string> lines;
  void add(const std::string& what) {
    const double s = seconds();
    lines.push_back((s == std::floor(s) ? fmt::format("{}", static_cast<long>(s)) : fmt::format("{}", s)) + " " + what);
  }
  static std::string id(const std::shared_ptr<KSZone>& z) { return z->identifier().value_or("?"); }
  static std::string name(const std::shared_ptr<KSSite>& s) { return s ? s->siteID().value_or("?") : "(none)"; }
  void zoneMonitorDidEnterSite(const Monitor&, const std::shared_ptr<KSSite>& s) override { add("enter site " + name(s)); }
  void zoneMonitorDidExitSite(const Monitor&, const std::shared_ptr<KSSite>& s) override { add("exit site " + name(s)); }
  void zoneMonitorDidEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override {
    add(fmt::format("enter {} count {}", id(z), z->entryCount()));
  }
  void zoneMonitorDidReEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override {
    add(fmt::format("re-enter {} count {}", id(z), z->entryCount()));
  }
  void zoneMonitorDidExitZone(const Monitor&, const std::shared_ptr<KSZone>& z) override { add("exit " + id(z)); }
  void zoneMonitorDidDwellInZoneForTimeInterval(const Monitor&, const std::shared_ptr<KSZone>& z, double d) override {
    add(fmt::format("dwell {} {}", id(z), d));
  }
  void zoneMonitorInZoneAfterTimeForRange(const Monitor&, const std::shared_ptr<KSZone>& z, double e,
                                          KSZoneTimeRange r) override {
    add(fmt::format("in {} after {} for ({}, {})", id(z), e, r.location, r.length));
  }
  void zoneMonitorDidRangeBeaconsInZone(const Monitor&, const Beacons& beacons, const std::shared_ptr<KSZone>& z) override {
    ++ranged[id(z)];
    rangedBeacons = beacons.size();
    auto& ids = rangedIDs[id(z)];
    ids.clear();
    for (const auto& b : beacons) ids.push_back(b ? b->beaconID().value_or("?") : "null");
  }
  void zoneMonitorWillSuspendMonitoringInSiteUntilDate(const Monitor&, const std::shared_ptr<KSSite>& s,
                                                       Date until) override {
    add(fmt::format("will-suspend {} until {}", name(s), until.timeIntervalSince(start)));
  }
  void zoneMonitorWillResumeMonitoringInSite(const Monitor&, const std::shared_ptr<KSSite>& s) override {
    add("will-resume " + name(s));
  }
  // Lines other than ranging, taken off the record.
  std::vector<std::string> take() { return std::exchange(lines, {}); }
  std::map<std::string, int> ranged;
  std::size_t rangedBeacons = 0;
  std::map<std::string, std::vector<std::string>> rangedIDs;  // the latest ranged list of each zone
  Date start;
};

const Date kStart = Date::fromUnixSeconds(1'714'564'800);

struct ZoneWorld {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(kStart);
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<FakeSiteManager> sites = std::make_shared<FakeSiteManager>();
  std::shared_ptr<bool> inSession = std::make_shared<bool>(false);
  velmora::testing::TempDir dir;
  std::shared_ptr<KSUserDefaultsManager> defaults = makeDefaults();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  ZoneWorld() {
    recorder->seconds = [this] { return elapsed(); };
    recorder->start = kStart;
  }
  std::shared_ptr<KSUserDefaultsManager> makeDefaults() {
    return std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(dir.path() / "defaults.plist"));
  }
  KSZoneMonitor::Ports ports() {
    KSZoneMonitor::Ports p;
    p.scheduler = scheduler;
    p.center = center;
    p.sites = sites;
    p.isCurrentlyInSession = [flag = inSession] { return *flag; };
    p.defaults = defaults;
    return p;
  }
  std::shared_ptr<KSZoneMonitor> make(std::vector<std::string> keys = {"zone"}) {
    auto m = KSZoneMonitor::initWithDelegate(ports(), recorder, nullptr, std::move(keys));
    m->startMonitoringZones();
    return m;
  }
  double elapsed() const { return scheduler->clock()->now().timeIntervalSince(kStart); }
  void advanceTo(double seconds) {
    if (seconds > elapsed()) scheduler->advanceBy(seconds - elapsed());
    scheduler->runUntilIdle();
  }
  void beginSession() {
    *inSession = true;
    center->post(std::string(KSSessionManagerNotificationDidBeginSession));
    scheduler->runUntilIdle();
  }
  void endSession() {
    *inSession = false;
    center->post(std::string(KSSessionManagerNotificationDidEndSession));
    scheduler->runUntilIdle();
  }
  // The hub's pass at that second, through the monitor's own event manager.
  void pass(const std::shared_ptr<KSZoneMonitor>& m, double seconds, const Beacons& beacons) {
    advanceTo(seconds);
    m->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    scheduler->runUntilIdle();
  }
  // Passes every second over [from, to] with the beacons heard then.
  void passes(const std::shared_ptr<KSZoneMonitor>& m, int from, int to, const std::function<Beacons(int)>& heard) {
    for (int s = from; s <= to; ++s) pass(m, s, heard(s));
  }
};

TEST(ZoneMonitor, ZoneTimelineOverTwoSessions) {
  ZoneWorld w;
  w.sites->sites["S1"] = site("S1", {{"Lobby_DwellTime", "30"}, {"lobby_inzoneaftertimerange", "60,30"}});
  auto monitor = w.make();
  w.beginSession();
  auto b1 = beacon("b-1", "S1", {{"zone", "Lobby"}});
  auto heard = [&](int s) { return (s <= 40 || s >= 50) ? Beacons{b1} : Beacons{}; };

  w.passes(monitor, 0, 0, heard);
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"0 enter lobby count 1"}));
  w.passes(monitor, 1, 30, heard);
  EXPECT_TRUE(w.recorder->take().empty()) << "no dwell at 30";
  w.passes(monitor, 31, 46, heard);
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"31 dwell lobby 30"})) << "no exit at the 46.0 check";
  w.passes(monitor, 47, 59, heard);
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"47 exit lobby", "50 re-enter lobby count 2"}));
  w.passes(monitor, 60, 100, heard);
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"61 in lobby after 61 for (60, 30)", "81 dwell lobby 30"}));
  EXPECT_EQ(w.recorder->ranged["lobby"], 41 + 51) << "a ranged call for each pass that heard b-1";
  EXPECT_EQ(w.recorder->rangedBeacons, 1u);

  w.advanceTo(100.5);
  w.endSession();
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"100.5 exit lobby"}));
  EXPECT_EQ(monitor->zoneForIdentifier("S1", "lobby"), nullptr);
  w.pass(monitor, 100.8, {b1});
  EXPECT_TRUE(w.recorder->take().empty()) << "no pass out of session";

  w.advanceTo(100.9);
  w.beginSession();
  w.pass(monitor, 101, {b1});
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"101 enter lobby count 1"}));
  EXPECT_EQ(monitor->dwellTimeForZone("S1", "lobby"), 30.0f) << "timing outlives the session";
}

TEST(ZoneMonitor, ConfigurationFromSiteCustomValues) {
  struct Case {
    std::string key, value;
    std::string zone;                       // "" when nothing is configured
    std::optional<float> dwell;
    std::optional<KSZoneTimeRange> window;
  };
  const Case cases[] = {
      {"Lobby_DwellTime", "30", "lobby", 30.0f, std::nullopt},
      {"vip_inzoneaftertimerange", "60,300", "vip", std::nullopt, KSZoneTimeRange{60, 240}},
      {"a_b_dwelltime", "5", "b", 5.0f, std::nullopt},
      {"dwelltime_x", "5", "", std::nullopt, std::nullopt},
      {"z_inzoneaftertimerange", "60,30", "z", std::nullopt, KSZoneTimeRange{60, 30}},
      {"z_dwelltime", "abc", "z", 0.0f, std::nullopt},
      {"z_dwelltime", " 2.5s", "z", 2.5f, std::nullopt},
      {"z_dwelltime", "nan", "z", 0.0f, std::nullopt},
      {"z_inzoneaftertimerange", "60", "", std::nullopt, std::nullopt},
      {"z_inzoneaftertimerange", "1,2,3", "", std::nullopt, std::nullopt},
      {"z_inzoneaftertimerange", "99999999999999999999,-5", "z", std::nullopt,
       KSZoneTimeRange{INT64_MAX, static_cast<std::uint64_t>(INT64_MAX) + 5}},
  };
  for (const auto& c : cases) {
    const auto config = KSZoneMonitor::configurationFromCustomValues({customValue(c.key, c.value)});
    SCOPED_TRACE(c.key + " = " + c.value);
    if (c.zone.empty()) {
      EXPECT_TRUE(config.dwellTimeForZone.empty());
      EXPECT_TRUE(config.inZoneAfterTimeForZone.empty());
      continue;
    }
    auto dwell = config.dwellTimeForZone.find(c.zone);
    EXPECT_EQ(dwell == config.dwellTimeForZone.end() ? std::nullopt : std::optional(dwell->second), c.dwell);
    auto window = config.inZoneAfterTimeForZone.find(c.zone);
    EXPECT_EQ(window == config.inZoneAfterTimeForZone.end() ? std::nullopt : std::optional(window->second), c.window);
  }
  EXPECT_EQ(KSZoneMonitor::configurationFromCustomValues({customValue("suspensiontime", "120")}).suspensionTime, 120.0f);
  EXPECT_FALSE(KSZoneMonitor::configurationFromCustomValues({customValue("SuspensionTime", "120")}).suspensionTime);
}

TEST(ZoneMonitor, SiteConfigurationOnlyAddsAndSkipsUnsyncedSites) {
  ZoneWorld w;
  auto monitor = w.make();
  monitor->siteManagerInternalDidCacheSites({site("S1", {{"a_dwelltime", "10"}, {"b_dwelltime", "20"}})});
  monitor->siteManagerInternalDidSyncSites({site("S1", {{"a_dwelltime", "15"}})});
  EXPECT_EQ(monitor->dwellTimeForZone("S1", "a"), 15.0f);
  EXPECT_EQ(monitor->dwellTimeForZone("S1", "b"), 20.0f) << "a value that disappears leaves its entry";
  monitor->siteManagerInternalDidRestoreSites({site("S2", {{"a_dwelltime", "10"}}, 0)});
  EXPECT_FALSE(monitor->dwellTimeForZone("S2", "a"));
}

TEST(ZoneMonitor, WhichBeaconsEnterAZone) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;
    std::vector<std::pair<std::string, std::string>> categoryValues;
    std::string siteID;
    bool enters;
  };
  const Case cases[] = {
      {"category key in another case", {"zone"}, {{"Zone", "Lobby"}}, "S1", true},
      {"monitor key in another case", {"ZONE"}, {{"zone", "Lobby"}}, "S1", true},
      {"no zone keys", {}, {{"zone", "Lobby"}}, "S1", false},
      {"another key", {"zone"}, {{"area", "Lobby"}}, "S1", false},
      {"site not cached", {"zone"}, {{"zone", "Lobby"}}, "S9", false},
      {"site not synced", {"zone"}, {{"zone", "Lobby"}}, "S0", false},
  };
  for (const auto& c : cases) {
    ZoneWorld w;
    w.sites->sites["S1"] = site("S1", {});
    w.sites->sites["S0"] = site("S0", {}, 1);
    *w.inSession = true;
    auto monitor = w.make(c.keys);
    w.pass(monitor, 0, {beacon("b-1", c.siteID, c.categoryValues)});
    const auto lines = w.recorder->take();
    EXPECT_EQ(lines, c.enters ? std::vector<std::string>{"0 enter lobby count 1"} : std::vector<std::string>{})
        << c.name;
  }
}

TEST(ZoneMonitor, OneBeaconFeedsSeveralZonesAndAZoneCountsOncePerPass) {
  ZoneWorld w;
  w.sites->sites["S1"] = site("S1", {});
  *w.inSession = true;
  auto monitor = w.make({"zone", "area"});
  auto b1 = beacon("b-1", "S1", {{"zone", "Lobby"}, {"area", "North"}});
  auto b2 = beacon("b-2", "S1", {{"zone", "LOBBY"}});
  w.pass(monitor, 0, {b1, b2});
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"0 enter lobby count 1", "0 enter north count 1"}));
  EXPECT_EQ(w.recorder->ranged["lobby"], 1);
  EXPECT_EQ(monitor->zoneForIdentifier("S1", "lobby")->entryCount(), 1);
}

// A zone's ranged list names each beacon once, in ranging order: a beacon whose custom
// values put it in the zone twice, and a beacon the pass lists twice.
TEST(ZoneMonitor, AZoneListsEachRangedBeaconOnce) {
  ZoneWorld w;
  w.sites->sites["S1"] = site("S1", {});
  *w.inSession = true;
  auto monitor = w.make({"zone", "area"});
  auto twice = beacon("b-1", "S1", {{"zone", "Lobby"}, {"area", "lobby"}});
  auto b2 = beacon("b-2", "S1", {{"zone", "Lobby"}});
  auto b3 = beacon("b-3", "S1", {{"area", "LOBBY"}});
  w.pass(monitor, 0, {twice, b2, b3});
  EXPECT_EQ(w.recorder->rangedIDs["lobby"], (std::vector<std::string>{"b-1", "b-2", "b-3"}));
  w.pass(monitor, 1, {b2, twice, b3, b2});
  EXPECT_EQ(w.recorder->rangedIDs["lobby"], (std::vector<std::string>{"b-2", "b-1", "b-3"}));
  EXPECT_EQ(w.recorder->ranged["lobby"], 2);
}

TEST(ZoneMonitor, StoppingEndsEntriesAndTheExitCheckStillExits) {
  ZoneWorld w;
  w.sites->sites["S1"] = site("S1", {});
  auto monitor = w.make();
  w.beginSession();
  auto b1 = beacon("b-1", "S1", {{"zone", "Lobby"}});
  auto b2 = beacon("b-2", "S1", {{"zone", "Cafe"}});
  w.pass(monitor, 0, {b1});
  monitor->stopMonitoringZones();
  EXPECT_FALSE(monitor->isZoneMonitoringEnabled());
  w.passes(monitor, 1, 10, [&](int) { return Beacons{b1, b2}; });
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"0 enter lobby count 1", "7 exit lobby"}));
}

// A host may hold its delegate through the protocol type: it hears what its class overrides.
TEST(ZoneMonitor, ADelegateSetThroughItsProtocolTypeHearsTheSameCalls) {
  std::vector<std::vector<std::string>> heard;
  for (const bool throughProtocol : {false, true}) {
    ZoneWorld w;
    *w.inSession = true;
    std::shared_ptr<KSZoneMonitorDelegate> asProtocol = w.recorder;
    auto monitor = throughProtocol ? KSZoneMonitor::initWithDelegate(w.ports(), asProtocol, nullptr, {"zone"})
                                   : KSZoneMonitor::initWithDelegate(w.ports(), w.recorder, nullptr, {"zone"});
    monitor->startMonitoringZones();
    monitor->siteManagerInternalDidEnterSite(site("S1", {}));
    monitor->siteManagerInternalDidExitSite(site("S1", {}));
    w.scheduler->runUntilIdle();
    heard.push_back(w.recorder->take());
  }
  EXPECT_EQ(heard[0], (std::vector<std::string>{"0 enter site S1", "0 exit site S1"}));
  EXPECT_EQ(heard[1], heard[0]);
}

TEST(ZoneMonitor, ForwardsSiteEntryAndExitAndLeavesCleanly) {
  ZoneWorld w;
  *w.inSession = true;
  auto monitor = w.make();
  ASSERT_EQ(w.sites->delegates.size(), 1u);
  monitor->siteManagerInternalDidEnterSite(site("S1", {}));
  monitor->siteManagerInternalDidExitSite(site("S1", {}));
  w.scheduler->runUntilIdle();
  EXPECT_EQ(w.recorder->take(), (std::vector<std::string>{"0 enter site S1", "0 exit site S1"}));

  monitor.reset();
  EXPECT_EQ(w.sites->removed, 1);
  EXPECT_TRUE(w.sites->delegates.front().expired());
  EXPECT_FALSE(w.scheduler->nextTimerDelay()) << "the exit timer goes with the monitor";
  w.endSession();  // nobody observes any more
}

}  // namespace
}  // namespace velmora::kestrine
