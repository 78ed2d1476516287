// Zone monitoring suspension: per-site suspension times, the host's global suspend and
// resume, and the stored dates a later monitor picks up.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSZone.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/core/Log.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
using Lines = std::vector<std::string>;
using platform::Date;

const Date kStart = Date::fromUnixSeconds(1'714'564'800);

std::shared_ptr<KSCustomValue> customValue(const std::string& key, const std::string& value) {
  auto v = std::make_shared<KSCustomValue>();
  v->setKey(key);
  v->setValue(value);
  return v;
}

std::shared_ptr<KSSite> site(const std::string& id, const std::string& suspension) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName("Site " + id);
  s->setSyncStatus(2);
  KSSite::CustomValues values;
  if (!suspension.empty()) values.push_back(customValue("suspensiontime", suspension));
  s->setCustomValues(values);
  return s;
}

std::shared_ptr<KSBeacon> beacon(const std::string& id, const std::string& siteID, const std::string& zone) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setSiteID(siteID);
  b->setAccuracy(1.0);
  auto category = std::make_shared<KSCategory>();
  category->setCustomValues(KSCategory::CustomValues{customValue("zone", zone)});
  b->setCategories(std::vector<std::shared_ptr<KSCategory>>{category});
  return b;
}

struct FakeSiteManager : KSZoneSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  Sites allCachedSites() override {
    Sites out;
    for (const auto& [id, s] : sites) out.push_back(s);
    return out;
  }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate>) override {}
  void removeDelegate(const KSSiteManagerInternalDelegate*) override {}
};

struct Recorder : KSZoneMonitorDelegate {
  std::function<double()> seconds;
  Lines lines;
  void add(const std::string& what) {
    const double s = seconds();
    lines.push_back((s == std::floor(s) ? fmt::format("{}", static_cast<long>(s)) : fmt::format("{}", s)) + " " + what);
  }
  static std::string id(const std::shared_ptr<KSZone>& z) { return z->identifier().value_or("?"); }
  void zoneMonitorDidEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override { add("enter " + id(z)); }
  void zoneMonitorDidReEnterZone(const Monitor&, const std::shared_ptr<KSZone>& z) override { add("re-enter " + id(z)); }
  void zoneMonitorDidExitZone(const Monitor&, const std::shared_ptr<KSZone>& z) override { add("exit " + id(z)); }
  void zoneMonitorWillSuspendMonitoringInSiteUntilDate(const Monitor&, const std::shared_ptr<KSSite>& s,
                                                       Date until) override {
    add(fmt::format("will-suspend {} until {}", s ? s->siteID().value_or("?") : "(none)",
                    until.timeIntervalSince(kStart)));
  }
  void zoneMonitorWillResumeMonitoringInSite(const Monitor&, const std::shared_ptr<KSSite>& s) override {
    add("will-resume " + (s ? s->siteID().value_or("?") : std::string("(none)")));
  }
  Lines take() { return std::exchange(lines, {}); }
};

struct SuspensionWorld : ::testing::Test {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(kStart);
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<FakeSiteManager> sites = std::make_shared<FakeSiteManager>();
  velmora::testing::TempDir dir;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  void SetUp() override { recorder->seconds = [this] { return elapsed(); }; }
  std::shared_ptr<KSUserDefaultsManager> defaults() {
    return std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(dir.path() / "defaults.plist"));
  }
  std::shared_ptr<KSZoneMonitor> make() {
    KSZoneMonitor::Ports p;
    p.scheduler = scheduler;
    p.center = center;
    p.sites = sites;
    p.isCurrentlyInSession = [] { return true; };
    p.defaults = defaults();
    auto m = KSZoneMonitor::initWithDelegate(p, recorder, nullptr, {"zone"});
    m->startMonitoringZones();
    return m;
  }
  double elapsed() const { return scheduler->clock()->now().timeIntervalSince(kStart); }
  void advanceTo(double seconds) {
    if (seconds > elapsed()) scheduler->advanceBy(seconds - elapsed());
    scheduler->runUntilIdle();
  }
  void passes(const std::shared_ptr<KSZoneMonitor>& m, int from, int to, const Beacons& beacons) {
    for (int s = from; s <= to; ++s) {
      advanceTo(s);
      m->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
      scheduler->runUntilIdle();
    }
  }
};

TEST_F(SuspensionWorld, SiteTimelineWithGlobalResumes) {
  sites->sites["S1"] = site("S1", "120");
  auto monitor = make();
  const Beacons b1{beacon("b-1", "S1", "Lobby")};
  platform::LogCapture log;

  passes(monitor, 0, 0, b1);
  EXPECT_EQ(log.count("KestrineSDK - Suspending zone montioring in site Site S1 will resume after"), 1u);
  EXPECT_EQ(recorder->take(), (Lines{"0 will-suspend S1 until 120"}));
  passes(monitor, 1, 120, b1);
  EXPECT_TRUE(recorder->take().empty()) << "nothing entered while suspended";
  EXPECT_EQ(log.count("Suspending zone"), 1u);

  passes(monitor, 121, 130, b1);
  EXPECT_EQ(recorder->take(), (Lines{"121 will-resume S1", "121 will-suspend S1 until 241"}));

  advanceTo(130.5);
  monitor->resumeMonitoringZonesInAllSites();
  scheduler->runUntilIdle();
  EXPECT_EQ(recorder->take(), (Lines{"130.5 will-resume S1"}));
  passes(monitor, 131, 251, b1);
  EXPECT_EQ(recorder->take(), (Lines{"131 enter lobby", "251 will-suspend S1 until 371", "251 exit lobby"}));

  passes(monitor, 252, 300, b1);
  advanceTo(300.5);
  monitor->resumeMonitoringZonesInAllSites();
  passes(monitor, 301, 302, b1);
  EXPECT_EQ(recorder->take(), (Lines{"300.5 will-resume S1", "301 re-enter lobby"}));
  EXPECT_EQ(defaults()->loadResumedZoneMonitoringAt(), kStart.addingTimeInterval(300.5));
  EXPECT_FALSE(defaults()->loadSuspendedZoneMonitoringAt());
}

TEST_F(SuspensionWorld, StoredGlobalSuspensionReachesSitesFirstSeenLater) {
  sites->sites["S1"] = site("S1", "120");
  {
    auto first = make();
    advanceTo(10);
    first->suspendMonitoringZonesInAllSites();
    scheduler->runUntilIdle();
    EXPECT_EQ(recorder->take(), (Lines{"10 will-suspend S1 until 130"}));
  }
  EXPECT_EQ(defaults()->loadSuspendedZoneMonitoringAt(), kStart.addingTimeInterval(10));

  advanceTo(20);
  auto second = make();
  EXPECT_FALSE(second->suspensionRecordForSiteID("S1")->isSuspended) << "configured during creation";
  advanceTo(50);
  second->siteManagerInternalDidCacheSites({site("S2", "120")});
  const auto record = second->suspensionRecordForSiteID("S2");
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->isSuspended);
  EXPECT_EQ(record->resumeAfter, kStart.addingTimeInterval(130));
  sites->sites["S2"] = site("S2", "120");
  passes(second, 50, 131, {beacon("b-2", "S2", "Cafe")});
  EXPECT_EQ(recorder->take(), (Lines{"131 will-resume S2", "131 will-suspend S2 until 251"}));
}

TEST_F(SuspensionWorld, RecordsFollowTheSiteConfiguration) {
  sites->sites["S1"] = site("S1", "60");
  auto monitor = make();
  ASSERT_TRUE(monitor->suspensionRecordForSiteID("S1"));
  monitor->siteManagerInternalDidSyncSites({site("S1", "90")});
  EXPECT_EQ(monitor->suspensionRecordForSiteID("S1")->suspensionTime, 90.0f) << "only the time is replaced";
  monitor->siteManagerInternalDidSyncSites({site("S1", "")});
  EXPECT_FALSE(monitor->suspensionRecordForSiteID("S1")) << "removed without the value";
  auto upper = site("S3", "");
  upper->setCustomValues(KSSite::CustomValues{customValue("SuspensionTime", "60")});
  monitor->siteManagerInternalDidSyncSites({upper});
  EXPECT_FALSE(monitor->suspensionRecordForSiteID("S3"));
  EXPECT_FALSE(monitor->shouldSuspendZoneMonitoringInSiteID("S3"));
  EXPECT_FALSE(monitor->isZoneMonitoringSuspendedInSiteID("", true));
}

TEST_F(SuspensionWorld, SuspendingTwiceExtendsAndGlobalResumeTellsOnlySuspendedSites) {
  sites->sites["S1"] = site("S1", "60");
  sites->sites["S2"] = site("S2", "60");
  auto monitor = make();
  platform::LogCapture log;
  monitor->suspendZoneMonitoringInSiteID("S1");
  advanceTo(5);
  monitor->suspendZoneMonitoringInSiteID("S1");
  EXPECT_EQ(log.count("Suspending zone"), 1u);
  EXPECT_EQ(monitor->suspensionRecordForSiteID("S1")->resumeAfter, kStart.addingTimeInterval(65));
  monitor->resumeMonitoringZonesInAllSites();
  scheduler->runUntilIdle();
  EXPECT_EQ(recorder->take(), (Lines{"0 will-suspend S1 until 60", "5 will-resume S1"}));
  EXPECT_EQ(monitor->suspensionRecordForSiteID("S1")->suspendAfter, kStart.addingTimeInterval(65));
}

TEST_F(SuspensionWorld, AZeroSuspensionTimeNeverLetsAZoneIn) {
  sites->sites["S1"] = site("S1", "0");
  auto monitor = make();
  passes(monitor, 0, 3, {beacon("b-1", "S1", "Lobby"), beacon("b-2", "S1", "Lobby")});
  const auto lines = recorder->take();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.find("enter") != std::string::npos; }), 0);
  EXPECT_FALSE(lines.empty());
}

}  // namespace
}  // namespace velmora::kestrine
