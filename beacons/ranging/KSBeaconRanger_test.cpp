#include "beacons/ranging/KSBeaconRanger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/BeaconFixtures.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Value;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";

TEST(RangerSmoothing, Table) {
  struct Case {
    const char* name;
    std::int64_t previous;
    std::vector<std::int64_t> samples;
    std::vector<std::int64_t> means;  // after each sample
  };
  const Case cases[] = {
      {"rise then fall", 0, {-70, -60, -80}, {-70, -67, -70}},
      {"blend with the earlier scan", -60, {-70}, {-63}},
      {"half rounds away from zero", 0, {-70, -65}, {-70, -69}},
      {"half at the floor", 0, {-100, -95}, {-100, -99}},
      {"out of range samples change nothing", 0, {0, -101, 5, -70, 0}, {0, 0, 0, -70, -70}},
      {"-1 and -100 are accepted", 0, {-1, -100}, {-1, -21}},
  };
  for (const auto& c : cases) {
    KSBeaconScanData data;
    data.previousScanRssiRunningMean = c.previous;
    std::int64_t accepted = 0, total = 0;
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
      data.discoveredBeacon("b", c.samples[i]);
      if (c.samples[i] >= -100 && c.samples[i] <= -1) {
        ++accepted;
        total += c.samples[i];
      }
      EXPECT_EQ(data.rssiRunningMean, c.means[i]) << c.name << " sample " << i;
      EXPECT_EQ(data.lastDiscoveredRSSI, c.samples[i]) << c.name;
    }
    EXPECT_EQ(data.numberOfRSSIs, accepted) << c.name;
    EXPECT_EQ(data.rssiRunningTotal, total) << c.name;
  }
}

TEST(RangerDistance, ExactValuesAndBands) {
  // Single-precision results, to the eight significant digits a float carries.
  struct Case {
    std::int64_t rssi, mp;
    const char* distance;
  };
  const Case cases[] = {{-69, -59, "3.1622777"}, {-65, -59, "1.9952624"}, {-53, -59, "0.50118721"},
                        {-52, -59, "0.44668359"}, {-100, -59, "112.20184"}, {-72, -59, "4.4668355"},
                        {-60, 0, "1000"}};
  for (const auto& c : cases) {
    EXPECT_EQ(fmt::format("{:.8g}", KSBeaconRanger::calculateDistanceWithRSSI(c.rssi, c.mp)), c.distance)
        << c.rssi << " " << c.mp;
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<float, std::uint64_t> bands[] = {{0.49f, 1}, {0.5f, 2},    {2.99f, 2}, {3.0f, 3}, {999.9f, 3},
                                                   {1000.0f, 0}, {0.0f, 0}, {-1.0f, 0}, {nan, 0}};
  for (const auto& [d, p] : bands) EXPECT_EQ(KSBeaconRanger::calculateProximityWithDistance(d), p) << d;
}

TEST(RangerDistance, MeasuredPowerPrecedence) {
  KSBeacon b;
  EXPECT_EQ(KSBeaconRanger::measuredPowerAt1MeterForBeacon(b), 0);
  b.setAdData(testsupport::adDataOfType(KSAdDataTypeAppleIBeaconKey, {{KSAdDataMeasuredPowerAt1MeterKey, Value(-61)}}),
              KSAdDataTypeAppleIBeaconKey);
  EXPECT_EQ(KSBeaconRanger::measuredPowerAt1MeterForBeacon(b), -61);
  auto loudness = std::make_shared<KSBeaconLoudness>();
  loudness->setMeasuredPowerAt1Meter(-63);
  b.setBeaconLoudness(loudness);
  EXPECT_EQ(KSBeaconRanger::measuredPowerAt1MeterForBeacon(b), -63);
  b.setMeasuredPowerAt1Meter(Value(-57));
  EXPECT_EQ(KSBeaconRanger::measuredPowerAt1MeterForBeacon(b), -57);
}

// A cache of beacons by identifier and iBeacon key, and a delegate that keeps every pass.
class FakeCache : public KSBeaconRangerCache, public KSBeaconRangerDelegate {
 public:
  std::shared_ptr<KSBeacon> add(const std::string& id, std::optional<std::uint16_t> minor = std::nullopt) {
    auto b = std::make_shared<KSBeacon>();
    b->setMeasuredPowerAt1Meter(Value(-59));
    if (minor) {
      b->setProximityUUIDString(std::string(kUUID));
      b->setMajor(Value(1));
      b->setMinor(Value(*minor));
    }
    b->setCacheIdentifier(id);
    byID[id] = b;
    if (auto key = b->iBeaconKey()) byKey[*key] = b;
    return b;
  }
  std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& id) override {
    auto it = byID.find(id);
    return it == byID.end() ? nullptr : it->second;
  }
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string& key) override {
    auto it = byKey.find(key);
    return it == byKey.end() ? nullptr : it->second;
  }
  void beaconRangerDidRangeBeacons(KSBeaconRanger&, const std::vector<std::shared_ptr<KSBeacon>>& beacons) override {
    passes.push_back(beacons);
  }
  std::map<std::string, std::shared_ptr<KSBeacon>> byID, byKey;
  std::vector<std::vector<std::shared_ptr<KSBeacon>>> passes;
};

struct RangerWorld {
  RangerWorld() {
    ranger = KSBeaconRanger::create(scheduler, scheduler->makeSerialQueue("ranger"), center, cache);
    ranger->setDelegate(cache);
  }
  void startScan(const std::string& id) {
    platform::Dict info;
    info[std::string(KSScanManagerNotificationScanIDItem)] = Value(id);
    center->post(std::string(KSScanManagerNotificationDidStartScan), nullptr, info);
  }
  void start() {
    ranger->startRangingBeacons();
    scheduler->runUntilIdle();
  }
  platform::location::Beacon cl(std::uint16_t minor, int rssi, double accuracy,
                                platform::location::Proximity p = platform::location::Proximity::Near) {
    platform::location::Beacon b;
    b.proximityUUID = *platform::Uuid::parse(kUUID);
    b.major = 1;
    b.minor = minor;
    b.rssi = rssi;
    b.accuracy = accuracy;
    b.proximity = p;
    return b;
  }
  // Runs to the next pass (passes come at whole seconds after the start).
  const std::vector<std::shared_ptr<KSBeacon>>& nextPass() {
    const auto before = cache->passes.size();
    scheduler->advanceBy(1.0);
    EXPECT_EQ(cache->passes.size(), before + 1);
    return cache->passes.back();
  }
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<FakeCache> cache = std::make_shared<FakeCache>();
  std::shared_ptr<KSBeaconRanger> ranger;
};

TEST(RangerPass, EmptyPassesEverySecondOnlyWhileOn) {
  RangerWorld w;
  w.scheduler->advanceBy(3);
  EXPECT_TRUE(w.cache->passes.empty());
  w.start();
  w.ranger->startRangingBeacons();  // a second start adds no second timer
  w.scheduler->advanceBy(3);
  ASSERT_EQ(w.cache->passes.size(), 3u);
  EXPECT_TRUE(w.cache->passes[0].empty());
  w.ranger->stopRangingBeacons();
  w.scheduler->advanceBy(3);
  EXPECT_EQ(w.cache->passes.size(), 3u);
}

TEST(RangerPass, LocationValuesWinExceptAZeroRssi) {
  RangerWorld w;
  auto a = w.cache->add("a", 1);  // ranged at -65, also heard in the newest scan
  auto b = w.cache->add("b", 2);  // ranged with RSSI 0, heard at -72
  auto c = w.cache->add("c");     // heard only: 0.3 m is nearer than a's 1.2 m
  w.start();
  w.startScan("s1");
  w.ranger->discoveredBeacon("a", "s1", -50);
  w.ranger->discoveredBeacon("b", "s1", -72);
  w.ranger->discoveredBeacon("c", "s1", -49);
  w.ranger->locationManagerRangedCLBeacons({w.cl(1, -65, 1.2), w.cl(2, 0, -1.0, platform::location::Proximity::Unknown),
                                            w.cl(9, -60, 2.0)},
                                           "region");
  const auto& pass = w.nextPass();
  // c 0.32 m, a 1.2 m, b 4.47 m
  EXPECT_EQ(testsupport::indexesOf(pass, {a, b, c}), (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(a->rssi().toInt64(), -65);
  EXPECT_DOUBLE_EQ(a->accuracy(), 1.2);
  EXPECT_EQ(a->proximity(), 2u);
  EXPECT_EQ(b->rssi().toInt64(), -72);
  EXPECT_DOUBLE_EQ(b->accuracy(), 4.4668355f);
  EXPECT_EQ(b->proximity(), 3u);
  EXPECT_EQ(c->proximity(), 1u);
  EXPECT_EQ(a->firstRangedAt(), a->lastRangedAt());
}

TEST(RangerPass, ScanPositionsAndAgeing) {
  RangerWorld w;
  auto newest = w.cache->add("newest");
  auto second = w.cache->add("second");
  auto older = w.cache->add("older");
  auto invalid = w.cache->add("invalid");
  w.start();
  w.startScan("s1");
  w.ranger->discoveredBeacon("older", "s1", -60);
  w.scheduler->runUntilIdle();
  w.scheduler->advanceBy(0.1);
  w.startScan("s2");
  w.ranger->discoveredBeacon("second", "s2", -62);
  w.scheduler->runUntilIdle();
  w.scheduler->advanceBy(0.1);
  w.startScan("s3");
  w.ranger->discoveredBeacon("newest", "s3", -61);
  w.ranger->discoveredBeacon("invalid", "s3", 0);
  w.ranger->discoveredBeacon("second", "s3", -101);  // in the newest scan, but no accepted sample
  w.scheduler->runUntilIdle();

  w.scheduler->advanceBy(0.8);  // the first pass
  ASSERT_EQ(w.cache->passes.size(), 1u);
  EXPECT_EQ(newest->rssi().toInt64(), -61);
  EXPECT_EQ(newest->proximity(), 2u);
  // Heard in the newest scan without an accepted sample: unknown.
  for (const auto& b : {second, invalid}) {
    EXPECT_EQ(b->rssi().toInt64(), 0);
    EXPECT_DOUBLE_EQ(b->accuracy(), -1.0);
    EXPECT_EQ(b->proximity(), 0u);
  }
  // Heard only in the third newest scan: still listed, unknown distance.
  EXPECT_EQ(older->rssi().toInt64(), 0);
  EXPECT_DOUBLE_EQ(older->accuracy(), -1.0);
  EXPECT_EQ(w.cache->passes[0].size(), 4u);

  // A scan counts until it started more than 15 s ago.
  for (int i = 0; i < 13; ++i) w.nextPass();
  EXPECT_EQ(w.nextPass().size(), 4u);  // t = 15.0: s1 started exactly 15 s ago
  EXPECT_TRUE(w.nextPass().empty());   // t = 16.0
  EXPECT_TRUE(w.ranger->scanActivityMonitors().empty());
}

TEST(RangerPass, SecondNewestScanGivesValuesAndRegionsAge) {
  RangerWorld w;
  auto a = w.cache->add("a", 1);
  w.start();
  w.startScan("s1");
  w.ranger->discoveredBeacon("a", "s1", -69);
  w.scheduler->runUntilIdle();
  w.scheduler->advanceBy(0.1);
  w.startScan("s2");  // nothing heard in it
  w.ranger->locationManagerRangedCLBeacons({w.cl(1, -80, 9.0)}, "region");
  w.scheduler->runUntilIdle();
  w.nextPass();
  EXPECT_EQ(a->rssi().toInt64(), -80);  // location services first
  w.nextPass();                          // the region was ranged 1.9 s ago: still counts
  EXPECT_EQ(a->rssi().toInt64(), -80);
  w.nextPass();  // more than 2 s: only the scan is left, at position 1
  EXPECT_EQ(a->rssi().toInt64(), -69);
  EXPECT_FLOAT_EQ(static_cast<float>(a->accuracy()), 3.1622777f);
  EXPECT_TRUE(w.ranger->beaconRegionActivityMonitors().empty());
}

TEST(RangerScans, NewScanIsSeededFromTheOldestHeld) {
  RangerWorld w;
  w.cache->add("a");
  w.start();
  w.startScan("s1");
  w.ranger->discoveredBeacon("a", "s1", -60);
  w.scheduler->runUntilIdle();
  w.scheduler->advanceBy(0.1);
  w.startScan("s2");
  w.ranger->discoveredBeacon("a", "s2", -90);
  w.scheduler->runUntilIdle();
  w.scheduler->advanceBy(0.1);
  w.startScan("s3");
  w.startScan("s3");  // a repeated start leaves the monitor alone
  w.ranger->discoveredBeacon("a", "s3", -70);
  w.scheduler->runUntilIdle();
  for (const auto& m : w.ranger->scanActivityMonitors()) {
    if (m.scanID != "s3") continue;
    const auto& data = m.beaconScanDataForBeaconKey.at("a");
    EXPECT_EQ(data.previousScanRssiRunningMean, -60);  // s1's, not s2's
    EXPECT_EQ(data.rssiRunningMean, -63);
  }
}

TEST(RangerScans, OffDropsSamplesStopForgetsAndStartsPrune) {
  RangerWorld w;
  w.cache->add("a");
  w.startScan("s0");
  w.ranger->discoveredBeacon("a", "s0", -60);  // ranging off: dropped
  w.scheduler->runUntilIdle();
  ASSERT_EQ(w.ranger->scanActivityMonitors().size(), 1u);
  EXPECT_TRUE(w.ranger->scanActivityMonitors()[0].beaconScanDataForBeaconKey.empty());
  // While off, starts keep pruning, so monitors cannot pile up.
  w.scheduler->advanceBy(16);
  w.startScan("s1");
  EXPECT_EQ(w.ranger->scanActivityMonitors().size(), 1u);
  w.start();
  w.ranger->discoveredBeacon("a", "s1", -60);
  w.scheduler->runUntilIdle();
  w.ranger->stopRangingBeacons();
  w.scheduler->runUntilIdle();
  EXPECT_TRUE(w.ranger->scanActivityMonitors().empty());
}

TEST(RangerScans, StopStampsTheOccurredAtDate) {
  RangerWorld w;
  w.startScan("s1");
  platform::Dict info;
  info[std::string(KSScanManagerNotificationScanIDItem)] = Value("s1");
  const Date at = Date::fromUnixSeconds(12345);
  info[std::string(KSScanManagerNotificationOccurredAtItem)] = Value(at);
  w.center->post(std::string(KSScanManagerNotificationDidStopScan), nullptr, info);
  w.center->post(std::string(KSScanManagerNotificationDidStartScan), nullptr, {});  // no scan ID: ignored
  ASSERT_EQ(w.ranger->scanActivityMonitors().size(), 1u);
  EXPECT_EQ(w.ranger->scanActivityMonitors()[0].stoppedAt, at);
}

}  // namespace
}  // namespace velmora::kestrine
