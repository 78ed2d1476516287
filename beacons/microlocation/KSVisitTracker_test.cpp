#include "beacons/microlocation/KSVisitTracker.h"

#include <gtest/gtest.h>

#include <set>

#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSSessionManager.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/FakeLocalStorage.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using testing::FakeStoredRow;

// Visit rows for the beacons the store knows (SN-1 and SN-2), read back through the row.
// Every call is logged in order.
struct FakeVisitStore : KSVisitStorePort {
  std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string& serial) override {
    log.push_back("row " + serial);
    if (!knownSerials.contains(serial)) return nullptr;
    auto row = std::make_shared<FakeStoredRow>(std::string(KSBeaconVisitEntityName));
    rows[serial].push_back(row);
    return KSBeaconVisit::initWithManagedBeaconVisit(row);
  }
  std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string& id) override {
    log.push_back("region row " + id);
    if (!knownRegions.contains(id)) return nullptr;
    return std::make_shared<KSBeaconRegionVisit>();
  }
  void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(Date date, std::int64_t limit) override {
    log.push_back("purge " + std::to_string(limit));
    purgeDate = date;
  }
  void fetchUnEndedAndResumableBeaconVisits(Date rangedAfter, VisitsHandler handler) override {
    log.push_back("fetch resumable");
    resumableAfter = rangedAfter;
    handler(resumable);
  }
  void fetchUnPostedBeaconVisits(Date begunAfter, VisitsHandler handler) override {
    log.push_back("fetch unposted");
    Visits out;
    for (const auto& v : unposted) {
      if (v->beganAt() > begunAfter) out.push_back(v);
    }
    handler(out);
  }
  void saveContext() override { log.push_back("save"); }

  std::shared_ptr<FakeStoredRow> lastRow(const std::string& serial) { return rows[serial].back(); }

  std::set<std::string> knownSerials{"SN-1", "SN-2"};
  std::set<std::string> knownRegions{"R1"};
  std::map<std::string, std::vector<std::shared_ptr<FakeStoredRow>>> rows;
  Visits resumable, unposted;
  std::optional<Date> purgeDate, resumableAfter;
  std::vector<std::string> log;
};

struct Recorder : KSVisitTrackerDelegate {
  void visitTrackerDidEndVisitForBeaconsWithSerialNumbers(SerialNumbers s) override { add("end", s); }
  void visitTrackerDidBeginVisitForBeaconsWithSerialNumbers(SerialNumbers s) override { add("begin", s); }
  void add(const std::string& what, const SerialNumbers& s) {
    std::string line = what;
    for (const auto& n : s) line += " " + n;
    log.push_back(line);
  }
  std::vector<std::string> log;
};

class VisitTrackerTest : public ::testing::Test {
 protected:
  VisitTrackerTest() { makeTracker(); }
  void makeTracker() {
    recorder = std::make_shared<Recorder>();
    posted.clear();
    hubEnded.clear();
    beacons.clear();
    KSVisitTracker::Ports ports;
    ports.scheduler = scheduler;
    ports.center = center;
    ports.store = [this] { return store; };
    ports.postBeaconVisit = [this](std::shared_ptr<KSBeaconVisit> v) {
      posted.push_back(v->serialNumber().value_or("?") + (v->endedAt() ? " ended" : " open"));
    };
    ports.processEndedBeaconVisit = [this](const std::shared_ptr<KSBeaconVisit>& v) {
      hubEnded.push_back(v->serialNumber().value_or("?"));
    };
    ports.deviceIdentifier = [] { return std::string("device"); };
    ports.sessionIdentifier = [] { return std::string("session"); };
    ports.isAppInBackground = [this] { return background; };
    ports.trackBeaconVisits = [this] { return tracking; };
    tracker = KSVisitTracker::create(ports);
    tracker->addDelegate(recorder);
  }

  std::shared_ptr<KSBeacon> beacon(const std::string& serial) {
    auto& b = beacons[serial];
    if (!b) {
      b = std::make_shared<KSBeacon>();
      if (!serial.empty()) b->setSerialNumber(serial);
      b->setRssi(platform::Value(-60));
    }
    return b;
  }
  // One pass with these beacons at (proximity, accuracy), ranged now; then a second goes by.
  void pass(const std::vector<std::tuple<std::string, std::uint64_t, double>>& seen, double then = 1.0) {
    std::vector<std::shared_ptr<KSBeacon>> list;
    for (const auto& [serial, proximity, accuracy] : seen) {
      auto b = beacon(serial);
      b->setProximity(proximity);
      b->setAccuracy(accuracy);
      b->setLastRangedAt(now());
      list.push_back(b);
    }
    tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, list);
    scheduler->runUntilIdle();
    scheduler->advanceBy(then);
  }
  Date now() const { return scheduler->clock()->now(); }
  platform::Value rowValue(const std::string& serial, const char* key) {
    return store->lastRow(serial)->valueForKey(key);
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'800'000'000));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<FakeVisitStore> store = std::make_shared<FakeVisitStore>();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<KSVisitTracker> tracker;
  std::map<std::string, std::shared_ptr<KSBeacon>> beacons;
  std::vector<std::string> posted, hubEnded;
  bool background = false, tracking = true;
};

TEST_F(VisitTrackerTest, ClosestProximityAndDistanceAreWrittenToTheRow) {
  pass({{"SN-1", 0, -1.0}});  // unknown proximity: no visit yet
  EXPECT_EQ(tracker->currentBeaconVisitForSerialNumber("SN-1"), nullptr);

  const auto began = now();
  pass({{"SN-1", 2, 3.0}});  // near
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"begin SN-1"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"SN-1 open"}));
  EXPECT_EQ(rowValue("SN-1", "cProxID").toDouble(), 2.0);
  EXPECT_EQ(rowValue("SN-1", "beganAt"), platform::Value(began));

  pass({{"SN-1", 1, 2.5}});  // immediate: closer than ever
  const auto closest = now().addingTimeInterval(-1);
  EXPECT_EQ(rowValue("SN-1", "cProxID").toDouble(), 1.0);
  EXPECT_TRUE(rowValue("SN-1", "exitedCProxAt").isAbsent());
  pass({{"SN-1", 2, 2.5}});  // near again: the zone is left; an equal distance keeps its time
  const auto exited = now().addingTimeInterval(-1);
  EXPECT_EQ(rowValue("SN-1", "exitedCProxAt"), platform::Value(exited));
  pass({{"SN-1", 3, -1.0}});  // far: the exit is already recorded; no estimate leaves cDist
  EXPECT_EQ(rowValue("SN-1", "exitedCProxAt"), platform::Value(exited));
  EXPECT_EQ(rowValue("SN-1", "cProxID").toDouble(), 1.0);
  EXPECT_EQ(rowValue("SN-1", "cDist").toDouble(), 2.5);
  EXPECT_EQ(rowValue("SN-1", "deviceWasClosestAt"), platform::Value(closest));
  EXPECT_TRUE(rowValue("SN-1", "endedAt").isAbsent());
}

// Firmware and battery follow the beacon's latest maker advertisement, never the cloud's
// stored values; a pass whose latest advertisement lacks them keeps what was heard before.
TEST_F(VisitTrackerTest, FirmwareAndBatteryComeFromTheLatestMakerAdvertisement) {
  auto b = beacon("SN-9");
  b->setFirmwareUID("cloud-fw");
  b->setLastKnownBatteryLevel(platform::Value(90));
  const auto advertise = [&](platform::Dict fields) {
    fields[std::string(KSAdDataTypeKey)] = platform::Value(KSAdDataTypeKestrineSecureKey);
    fields[std::string(KSAdDataTimestampKey)] = platform::Value(now());
    b->setAdData(platform::Value(std::move(fields)), KSAdDataTypeKestrineSecureKey);
  };
  pass({{"SN-9", 2, 1.0}});
  auto visit = tracker->currentBeaconVisitForSerialNumber("SN-9");
  ASSERT_NE(visit, nullptr);
  EXPECT_FALSE(visit->firmwareUID()) << "the cloud's firmware is not the beacon's word";
  EXPECT_TRUE(visit->batteryLevel().isAbsent());

  advertise({{std::string(KSAdDataFirmwareUIDKey), platform::Value("ad-fw-1")},
             {std::string(KSAdDataBatteryLevelKey), platform::Value(40)}});
  pass({{"SN-9", 2, 1.0}});
  EXPECT_EQ(visit->firmwareUID(), "ad-fw-1");
  EXPECT_EQ(visit->batteryLevel(), platform::Value(40));

  advertise({{std::string(KSAdDataBatteryLevelKey), platform::Value(38)}});
  pass({{"SN-9", 2, 1.0}});
  EXPECT_EQ(visit->firmwareUID(), "ad-fw-1");
  EXPECT_EQ(visit->batteryLevel(), platform::Value(38));
}

TEST_F(VisitTrackerTest, NoVisitWithoutSerialAndUnstoredBeaconsAreStillTracked) {
  pass({{"", 2, 1.0}, {"SN-9", 2, 1.0}});
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"begin SN-9"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"SN-9 open"}));
  EXPECT_NE(tracker->currentBeaconVisitForSerialNumber("SN-9"), nullptr);
  EXPECT_TRUE(store->rows.empty());
}

TEST_F(VisitTrackerTest, MissedPassesEndThenDropAVisit) {
  struct Case {
    const char* name;
    double spacing;   // seconds between passes
    int missing;      // passes without the beacon
    int endedAtMiss;  // 0: not ended
    bool dropped;
  };
  const std::vector<Case> cases = {
      {"one a second: ended at the seventh miss", 1.0, 7, 7, false},
      {"one a second: dropped past 21 s", 1.0, 22, 7, true},
      {"one a second: 21 s is not past", 1.0, 21, 7, false},
      {"six misses", 1.0, 6, 0, false},
      {"passes 22 s apart: three misses only", 22.0, 3, 0, false},
      {"passes 22 s apart: the fourth ends and drops", 22.0, 4, 4, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    makeTracker();
    pass({{"SN-1", 2, 1.0}}, c.spacing);
    auto visit = tracker->currentBeaconVisitForSerialNumber("SN-1");
    int endedAt = 0;
    for (int miss = 1; miss <= c.missing; ++miss) {
      pass({}, c.spacing);
      if (!endedAt && !rowValue("SN-1", "endedAt").isAbsent()) endedAt = miss;
    }
    EXPECT_EQ(endedAt, c.endedAtMiss);
    EXPECT_EQ(tracker->currentBeaconVisitForSerialNumber("SN-1") == nullptr, c.dropped);
    EXPECT_EQ(visit->isCurrentlyVisiting(), c.endedAtMiss == 0);
    if (c.endedAtMiss) {
      EXPECT_EQ(hubEnded, (std::vector<std::string>{"SN-1"}));
      EXPECT_EQ(posted, (std::vector<std::string>{"SN-1 open", "SN-1 ended"}));
      EXPECT_EQ(recorder->log, (std::vector<std::string>{"begin SN-1", "end SN-1"}));
    }
  }
}

TEST_F(VisitTrackerTest, ABeaconBackBeforeTheDropReopensItsVisit) {
  pass({{"SN-1", 2, 1.0}});
  for (int i = 0; i < 6; ++i) pass({});
  EXPECT_EQ(tracker->consecutiveRangeMissesForSerialNumber("SN-1"), 6);
  pass({{"SN-1", 2, 1.0}});
  EXPECT_EQ(tracker->consecutiveRangeMissesForSerialNumber("SN-1"), 0);
  EXPECT_TRUE(tracker->currentBeaconVisitForSerialNumber("SN-1")->isCurrentlyVisiting());

  for (int i = 0; i < 7; ++i) pass({});
  const auto firstEnd = rowValue("SN-1", "endedAt");
  pass({{"SN-1", 2, 1.0}});  // reopens, keeping its old end until the next one
  auto visit = tracker->currentBeaconVisitForSerialNumber("SN-1");
  EXPECT_TRUE(visit->isCurrentlyVisiting());
  EXPECT_EQ(rowValue("SN-1", "endedAt"), firstEnd);
  EXPECT_EQ(store->rows["SN-1"].size(), 1u);  // the same visit
}

TEST_F(VisitTrackerTest, TrackingOffFreezesOpenVisits) {
  pass({{"SN-1", 2, 1.0}});
  tracking = false;
  for (int i = 0; i < 30; ++i) pass({});
  auto visit = tracker->currentBeaconVisitForSerialNumber("SN-1");
  ASSERT_NE(visit, nullptr);
  EXPECT_TRUE(visit->isCurrentlyVisiting());
  EXPECT_EQ(tracker->consecutiveRangeMissesForSerialNumber("SN-1"), 0);
}

std::shared_ptr<KSBeaconVisit> storedVisit(const std::string& serial, Date began, std::optional<Date> ended) {
  auto row = std::make_shared<FakeStoredRow>(std::string(KSBeaconVisitEntityName));
  auto v = KSBeaconVisit::initWithManagedBeaconVisit(row);
  v->setSerialNumber(serial);
  v->setBeganAt(began);
  v->setLastRangedAt(ended.value_or(began));
  v->setEndedAt(ended);
  return v;
}

TEST_F(VisitTrackerTest, StartPurgesReloadsAndPostsFromTheStore) {
  const auto t = now();
  auto earlier = storedVisit("SN-1", t.addingTimeInterval(-300), std::nullopt);
  auto later = storedVisit("SN-1", t.addingTimeInterval(-100), std::nullopt);
  auto endedRecently = storedVisit("SN-2", t.addingTimeInterval(-60), t.addingTimeInterval(-10));
  store->resumable = {earlier, later, endedRecently};
  auto hundredMinutes = storedVisit("SN-3", t.addingTimeInterval(-6000), t.addingTimeInterval(-5000));
  auto fourDays = storedVisit("SN-4", t.addingTimeInterval(-4 * 86400.0), t.addingTimeInterval(-4 * 86400.0 + 60));
  store->unposted = {hundredMinutes, fourDays};

  center->post(std::string(KSNotificationDidStartRunning));
  scheduler->runUntilIdle();

  EXPECT_EQ(store->log,
            (std::vector<std::string>{"purge 2000", "fetch resumable", "fetch unposted", "save", "save"}));
  EXPECT_EQ(store->purgeDate, mt::dateDaysBefore(t, 3));
  EXPECT_EQ(store->resumableAfter, t.addingTimeInterval(-21));
  // The earlier duplicate ends where the later began, and that time is stored and posted.
  EXPECT_EQ(earlier->endedAt(), t.addingTimeInterval(-100));
  EXPECT_EQ(tracker->currentBeaconVisitForSerialNumber("SN-1"), later);
  EXPECT_TRUE(later->isCurrentlyVisiting());
  EXPECT_EQ(posted, (std::vector<std::string>{"SN-3 ended", "SN-1 ended"}));
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"end SN-1"}));

  // The reloaded ended visit stays tracked and closed, and is never dropped by misses.
  auto reloaded = tracker->currentBeaconVisitForSerialNumber("SN-2");
  ASSERT_EQ(reloaded, endedRecently);
  EXPECT_FALSE(reloaded->isCurrentlyVisiting());
  for (int i = 0; i < 40; ++i) pass({{"SN-1", 2, 1.0}});
  EXPECT_EQ(tracker->currentBeaconVisitForSerialNumber("SN-2"), endedRecently);
  pass({{"SN-2", 2, 1.0}});
  EXPECT_TRUE(endedRecently->isCurrentlyVisiting());
}

TEST_F(VisitTrackerTest, RegionVisitsOpenOnEnterAndCloseOnExit) {
  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier("R1");
  auto unknown = std::make_shared<KSBeaconRegion>();
  unknown->setIdentifier("R9");

  tracker->locationManagerClientDidEnterBeaconRegion(nullptr, region);
  auto visit = tracker->openBeaconRegionVisitForIdentifier("R1");
  ASSERT_NE(visit, nullptr);
  EXPECT_EQ(visit->beganAt(), now());
  const auto id = visit->beaconRegionVisitID();
  scheduler->advanceBy(5);
  tracker->locationManagerClientDidEnterBeaconRegion(nullptr, region);  // a repeat changes nothing
  EXPECT_EQ(tracker->openBeaconRegionVisitForIdentifier("R1"), visit);
  EXPECT_EQ(visit->beaconRegionVisitID(), id);
  tracker->locationManagerClientDidEnterBeaconRegion(nullptr, unknown);  // no row, no visit
  EXPECT_EQ(tracker->openBeaconRegionVisitForIdentifier("R9"), nullptr);

  scheduler->advanceBy(5);
  tracker->locationManagerClientDidExitBeaconRegion(nullptr, region);
  EXPECT_EQ(visit->endedAt(), now());
  EXPECT_EQ(tracker->openBeaconRegionVisitForIdentifier("R1"), nullptr);
  tracker->locationManagerClientDidExitBeaconRegion(nullptr, region);  // nothing open: nothing
  EXPECT_TRUE(posted.empty());
  scheduler->runUntilIdle();
  EXPECT_TRUE(recorder->log.empty());
}

}  // namespace
}  // namespace velmora::kestrine
