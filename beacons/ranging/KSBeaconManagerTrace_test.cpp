// A whole minute of one beacon, from the air to the host's delegate, on the virtual clock:
// the radio plays a trace, the central client parses it, the hub caches the beacon, the
// ranger smooths the scans into distances, and the public beacon manager reports them.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include <fmt/format.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

struct Pass {
  std::vector<std::string> enter, exit;
  std::vector<std::string> ranged;  // "rssi accuracy proximity", read when the pass arrives
};

class PassRecorder : public KSBeaconManagerDelegate {
 public:
  void beaconManagerDidExitBeacons(KSBeaconManager&, Beacons b) override { current().exit = ids(b); }
  void beaconManagerDidEnterBeacons(KSBeaconManager&, Beacons b) override { current().enter = ids(b); }
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons beacons) override {
    for (const auto& b : beacons) {
      current().ranged.push_back(fmt::format("{} {:.8g} {}", b->rssi().toInt64().value_or(-999), b->accuracy(),
                                             b->proximity()));
    }
    passes.push_back(std::move(pending));
    pending = {};
    started = false;
  }
  Pass& current() {
    started = true;
    return pending;
  }
  static std::vector<std::string> ids(const Beacons& beacons) {
    std::vector<std::string> out;
    for (const auto& b : beacons) out.push_back(b->cacheIdentifier().value_or("?"));
    return out;
  }
  std::vector<Pass> passes;
  Pass pending;
  bool started = false;
};

// Which of the hub's seven lists carried a beacon in any pass.
class ListRecorder : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons b) override { note(1, b); }
  void beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(Hub, Beacons b) override { note(2, b); }
  void beaconManagerInternalDidRangeNewbornBeacons(Hub, Beacons b) override { note(3, b); }
  void beaconManagerInternalDidRangeIBeacons(Hub, Beacons b) override { note(4, b); }
  void beaconManagerInternalDidRangeEddystoneBeacons(Hub, Beacons b) override { note(5, b); }
  void beaconManagerInternalDidRangeBeacons(Hub, Beacons b) override { note(6, b); }
  void beaconManagerInternalDidRangeMeasurementBeacons(Hub, Beacons b) override { note(7, b); }
  void note(int list, const Beacons& b) {
    ++calls[list];
    if (!b.empty()) lists.insert(list);
  }
  std::set<int> lists;
  std::map<int, int> calls;
};

std::string trace() {
  std::string text;
  for (int i = 0; i < 200; ++i) {
    const double t = 0.05 + 0.1 * i;
    text += fmt::format("{:.3f} adv beacon-1 {} mfr=4C000215E2C56DB5DFFB48D2B060D0F5A71096E000010016C5\n", t,
                        t < 5 ? -69 : -50);
  }
  return text;
}

TEST(RangingTrace, OneBeaconFromTheAirToTheHostDelegate) {
  velmora::testing::SimWorld world;
  world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedWhenInUse);
  auto provider = KSInstanceProvider::create(world.bundle());
  auto configurator = KSConfigurator::create(provider, {});
  provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                         [configurator](KSInstanceProvider&) { return configurator; });
  KSUserDefaultsManager::installMaker(*provider);
  KSSessionManager::installMaker(*provider);
  auto hub = KSBeaconManagerInternal::create(provider);
  auto lists = std::make_shared<ListRecorder>();
  hub->addDelegate(lists);
  auto recorder = std::make_shared<PassRecorder>();
  auto manager = KSBeaconManager::initWithDelegate({hub, nullptr, nullptr, world.scheduler->mainQueue()}, recorder,
                                                   nullptr);

  world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  world.runUntilIdle();
  ASSERT_TRUE(hub->isCurrentlyInSession());
  world.radio->setShowsIBeaconFramesToScans(true);
  auto parsed = platform::sim::SimTrace::parse(trace());
  ASSERT_TRUE(parsed);
  world.radio->play(*parsed);
  hub->startDiscoveringBeacons();
  world.advanceBy(40.5);

  auto cached = hub->allCachedBeacons();
  ASSERT_EQ(cached.size(), 1u);
  const std::string b = *cached[0]->cacheIdentifier();
  ASSERT_GE(recorder->passes.size(), 40u);

  const std::string far = "-69 3.1622777 3", immediate = "-51 0.39810717 1";
  for (int t = 1; t <= 40; ++t) {
    const auto& pass = recorder->passes[t - 1];
    std::vector<std::string> expected;
    if (t <= 5) expected = {far};
    else if (t <= 7) expected = {immediate};
    else if (t == 8) expected = {"-52 0.44668359 1"};
    else if (t <= 14) expected = {immediate};
    else if (t == 15) expected = {"-63 1.5848932 2"};
    else if (t <= 26) expected = {immediate};
    else if (t <= 33) expected = {"0 -1 0"};  // heard only in scans older than the two newest
    EXPECT_EQ(pass.ranged, expected) << "pass " << t;
    EXPECT_EQ(pass.enter, t == 1 ? std::vector<std::string>{b} : std::vector<std::string>{}) << "pass " << t;
    EXPECT_EQ(pass.exit, t == 34 ? std::vector<std::string>{b} : std::vector<std::string>{}) << "pass " << t;
  }
  EXPECT_EQ(lists->lists, (std::set<int>{4, 6}));
  // All seven lists every pass, also the empty ones.
  for (int list = 1; list <= 7; ++list) EXPECT_EQ(lists->calls[list], lists->calls[6]) << list;

  // Stopped and drained, so no report of the last scan is left queued when the world goes.
  hub->stopDiscoveringBeacons();
  world.runUntilIdle();
}

}  // namespace
}  // namespace velmora::kestrine
