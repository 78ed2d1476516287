// A host trigger end to end from location services: the simulated location services range
// the SDK's region, the location client hands the reports to the hub, the ranger makes its
// passes from them and the event manager evaluates the trigger on each pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "beacons/api/KSApiOperationPorts.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconSyncResult.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KSBeaconSyncRequesting.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "platform/dispatch/Queue.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSBeaconManagerInternalDelegate::Beacons;
using platform::Value;

constexpr std::string_view kUUIDText = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr std::uint16_t kMajor = 1;
constexpr std::uint16_t kMinor = 22;

// b-1 as the store keeps it and the cloud answers it: owned, permitting role 2, synced.
std::shared_ptr<KSBeacon> storedB1() {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID("b-1");
  b->setProximityUUIDString(std::string(kUUIDText));
  b->setMajor(Value(kMajor));
  b->setMinor(Value(kMinor));
  testsupport::grantRoles(*b, {2}, KSSyncStatusSynced);
  testsupport::setOwnership(*b, 1);
  return b;
}

class B1Store : public KSLocalStoragePort {
 public:
  void fetchRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&,
                                    const std::optional<std::vector<KSSortDescriptor>>&, RowsHandler success,
                                    FailureHandler) override {
    if (success) success({});
  }
  void countRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&, CountHandler success,
                                    FailureHandler) override {
    if (success) success(0);
  }
  std::shared_ptr<KSBeacon> fetchBeaconForIBeaconKey(const std::string&) override { return storedB1(); }
  std::shared_ptr<KSBeacon> fetchBeaconForBluetoothAddress(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> fetchBeaconForEddystoneUIDString(const std::string&) override { return nullptr; }
  void storeBeacon(const std::shared_ptr<KSBeacon>&) override {}
};

// The cloud's answer to every sync the hub asks for: b-1, synced.
class B1Sync : public KSBeaconSyncRequesting {
 public:
  B1Sync(std::shared_ptr<platform::dispatch::Queue> queue) : queue_(std::move(queue)) {}
  void setHub(std::weak_ptr<KSBeaconManagerInternal> hub) { hub_ = std::move(hub); }
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date>) override { answer(); }
  void syncBeaconsInSiteWithSiteID(const std::string&, std::optional<platform::Date>) override { answer(); }
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string&) override { answer(); }
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string&) override { answer(); }
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string&) override { answer(); }
  int answers = 0;

 private:
  // Later, as a reply from the network comes.
  void answer() {
    ++answers;
    queue_->async([hub = hub_] {
      auto h = hub.lock();
      if (!h) return;
      KSBeaconSyncResult result;
      result.httpStatusCode = 200;
      result.beacons = {storedB1()};
      h->cacheBeaconsFromSyncResult(result);
    });
  }
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::weak_ptr<KSBeaconManagerInternal> hub_;
};

class NoApi : public KSApiOperationManaging {
 public:
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date>) override {}
  void syncBeaconsInSiteWithSiteID(const std::string&, std::optional<platform::Date>) override {}
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string&) override {}
  bool syncBeaconRegionsWithAppToken(const std::string&) override { return false; }
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>&) override {}
};

// What the hub delivered to its role-2 listeners, pass by pass: b-1's accuracy, -1.0 when it
// was not in the pass.
struct DeliveryRecorder : KSBeaconManagerInternalDelegate {
  std::vector<double> accuracies;
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) override {
    double a = -1.0;
    for (const auto& b : beacons) {
      if (b->beaconID() == std::optional<std::string>("b-1")) a = b->accuracy();
    }
    accuracies.push_back(a);
  }
};

// The distance the simulated location services give for a received signal: a quarter metre
// per dB below 0, so each test distance has its own RSSI.
double distanceForRssi(int, int rssi) { return -rssi / 4.0; }
int rssiForDistance(double metres) { return -static_cast<int>(metres * 4.0 + 0.5); }

TEST(EventManagerLocation, ASmoothedApproachFiresOnceTheMeanOfTheDeliveredDistancesIsInRange) {
  velmora::testing::SimWorld world;
  world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
  world.location->setAccuracyModel(distanceForRssi);
  world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  world.runUntilIdle();

  auto provider = KSInstanceProvider::create(world.bundle());
  auto configurator = KSConfigurator::create(provider, {});
  configurator->setUserOptions({{std::string(KSOptionMonitorKestrineRegionOnStartup), Value("NO")}});
  provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                         [configurator](KSInstanceProvider&) { return configurator; });
  KSBeaconRegionManager::installMaker(*provider, {[] { return 1; }, [] { return true; }, [] { return true; },
                                                  [] { return nullptr; }});
  auto regions = KSBeaconRegionManager::sharedManager(*provider);
  auto client = KSLocationManagerClient::create(provider, {nullptr, [api = std::make_shared<NoApi>()] { return api; }});

  auto sync = std::make_shared<B1Sync>(world.scheduler->mainQueue());
  auto session = std::make_shared<testsupport::FakeSession>();
  session->running = true;
  auto hub = KSBeaconManagerInternal::create(provider, {std::make_shared<B1Store>(), sync, session});
  sync->setHub(hub);
  client->addDelegate(hub);
  auto recorder = std::make_shared<DeliveryRecorder>();
  hub->addDelegate(recorder);

  auto manager = KSEventManager::create({.hub = hub, .scheduler = world.scheduler}, provider.get());
  auto trigger = KSTrigger::initWithIdentifier(
      "approach", {KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5),
                   KSEventFilter::filterByAccuracyRange(0, 1.0), KSEventFilter::filterByClosestBeacon()});
  std::vector<std::size_t> firedAt;
  std::shared_ptr<KSTriggeredEvent> fired;
  manager->monitorEventWithTrigger(trigger, [&](const std::shared_ptr<KSTriggeredEvent>& e) {
    EXPECT_TRUE(hub->workQueue()->isCurrent());
    firedAt.push_back(recorder->accuracies.size());
    fired = e;
  });

  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier(std::string("com.kestrine.a"));
  region->setProximityUUIDString(std::string(kUUIDText));
  regions->cacheBeaconRegion(region, false);
  client->setBeaconRegionMonitoringEnabled(true);
  hub->startDiscoveringBeacons();
  world.runUntilIdle();

  // b-1 from 3 m to 0.5 m, a quarter metre a second, then staying at 0.5 m.
  const auto uuid = *platform::Uuid::parse(kUUIDText);
  for (int i = 0; i < 20; ++i) {
    world.location->hear(uuid, kMajor, kMinor, -59, rssiForDistance(std::max(0.5, 3.0 - 0.25 * i)));
    world.advanceBy(1);
  }
  world.runUntilIdle();

  // The expected pass: the first where the single-precision mean of the valid distances among
  // the last six delivered is at most 1.0.
  std::optional<std::size_t> expected, firstRaw;
  std::deque<double> window;
  std::size_t delivered = 0;
  for (std::size_t i = 0; i < recorder->accuracies.size(); ++i) {
    const double a = recorder->accuracies[i];
    if (a >= 0) ++delivered;
    if (!firstRaw && a >= 0 && a <= 1.0) firstRaw = i + 1;
    window.push_back(a);
    if (window.size() > 6) window.pop_front();
    float sum = 0;
    int n = 0;
    for (double s : window) {
      if (s > -1.0) {
        sum += static_cast<float>(s);
        ++n;
      }
    }
    if (!expected && n > 1 && sum / static_cast<float>(n) <= 1.0f) expected = i + 1;
  }
  EXPECT_GE(delivered, 12u) << "b-1 reached the hub's role-2 passes from the location reports";
  EXPECT_GE(sync->answers, 1) << "the hub asked about the beacon it found in the store";
  ASSERT_TRUE(expected && firstRaw);
  EXPECT_GT(*expected, *firstRaw);
  ASSERT_FALSE(firedAt.empty());
  EXPECT_EQ(firedAt.front(), *expected);
  ASSERT_TRUE(fired && fired->event);
  EXPECT_EQ(fired->event->beaconID(), "b-1");

  manager.reset();
  hub->stopDiscoveringBeacons();
  world.runUntilIdle();
}

}  // namespace
}  // namespace velmora::kestrine
