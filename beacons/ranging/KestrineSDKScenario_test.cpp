// The whole SDK as an app links it: the SDK entry over the real cloud API (a loopback fake
// cloud under a base URL with a path), the real SQLite store in a temporary documents
// folder, and the simulated radio, location services and app on the virtual clock. One
// beacon sends an iBeacon frame, which only location services hear, as on a phone.

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <mutex>

#include "beacons/api/KSAccountManager.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "testing/BeaconCloudFake.h"
#include "testing/HexBytes.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::BeaconCloudFake;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr double kBound = 60;  // virtual seconds any one step may take
const std::string kCachedCloudRegion = "KSBeaconRegionManagerNotificationDidCacheBeaconRegion com.example.lot";
const std::string kRemovedDefault = "KSBeaconRegionNotificationManagerDidRemoveCachedBeaconRegion com.kestrine.beaconRegion1";

// The notifications of a run, in the order they were posted.
class Timeline {
 public:
  void notification(const platform::Notification& n) {
    const Value info(n.userInfo);
    if (n.name == KSNotificationDidStartRunning) {
      add(n.name + " " + std::to_string(info[KSNotificationDidStartRunningStatusKeyItem].toInt64().value_or(-1)));
    } else if (n.name == KSBeaconRegionManagerNotificationDidCacheBeaconRegion ||
               n.name == KSBeaconRegionManagerNotificationDidRemoveCachedBeaconRegion) {
      add(n.name + " " + info[KSBeaconRegionManagerNotificationRegionIdentifierItem].string()->c_str());
    } else if (n.name == KSNotificationDidStopRunning || n.name == KSAccountManagerDidVerifyAppNotification ||
               n.name == KSAccountManagerDidFailVerifyAppNotification) {
      add(n.name);
    }
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  bool has(std::string_view entry) const {
    auto e = entries();
    return std::find(e.begin(), e.end(), entry) != e.end();
  }

 private:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// What the hub reports: synced beacons and the first list of every pass.
class HubListener : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidSyncBeacons(Hub, Beacons beacons) override {
    std::lock_guard lock(mutex);
    for (const auto& b : beacons) synced.push_back(b);
    passesAtSync = passes.size();
  }
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) override {
    std::lock_guard lock(mutex);
    passes.push_back(std::move(beacons));
  }
  void beaconManagerInternalDidCacheBeacons(Hub, Beacons beacons) override {
    std::lock_guard lock(mutex);
    for (const auto& b : beacons) cached.push_back({b, b->syncStatus()});
  }
  std::mutex mutex;
  Beacons synced;
  std::vector<Beacons> passes;
  std::size_t passesAtSync = 0;
  std::vector<std::pair<std::shared_ptr<KSBeacon>, std::int64_t>> cached;
};

Value beaconRecord() {
  return Value::makeDict({{"id", "b-1"},
                          {"serialNumber", "SN-1"},
                          {"proximityUUID", std::string(kUUID)},
                          {"major", 1},
                          {"minor", 22},
                          {"networkAccess", Value::makeDict({{"ownership", Value::makeDict({{"id", 1}})},
                                                            {"permittedRoles", Value::makeArray({Value::makeDict({{"id", 2}})})}})}});
}

// The SDK's process: one registry on the simulated platform, shared as an app's is.
struct Process {
  // `hostFirst` runs before anything else has asked the registry for anything: what a host
  // makes before it configures the SDK.
  Process(velmora::testing::SimWorld& world, const BeaconCloudFake& cloud, std::shared_ptr<Timeline> timeline,
          const std::function<void()>& hostFirst = nullptr)
      : world(world), timeline(std::move(timeline)) {
    provider = KSInstanceProvider::create(world.bundle(platform::UserDefaults::open(world.defaults->path())));
    KSInstanceProvider::setSharedProvider(provider);
    if (hostFirst) hostFirst();
    KestrineSDK::installSingletons(*provider);
    KestrineSDK::setOptions({{std::string(KSOptionApiBaseURL), Value(cloud.baseUrl())}});
    observer = world.center->addObserver("", nullptr, nullptr,
                                         [t = this->timeline](const platform::Notification& n) { t->notification(n); });
  }
  ~Process() {
    KestrineSDK::stopRunning();
    world.runUntilIdle();
    world.center->removeObserver(observer);
    KSBeaconHubPort::setShared(nullptr);
    KSLocalStoragePort::setShared(nullptr);
    KSApiClientPort::setShared(nullptr);
    KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    world.runUntilIdle();
  }
  std::shared_ptr<KSBeaconManagerInternal> hub() { return KSBeaconManagerInternal::sharedInternal(*provider); }
  bool runUntil(const std::function<bool()>& condition) { return world.scheduler->runUntil(condition, kBound); }

  velmora::testing::SimWorld& world;
  std::shared_ptr<Timeline> timeline;
  std::shared_ptr<KSInstanceProvider> provider;
  platform::NotificationCenter::ObserverToken observer;
};

std::vector<std::string> beaconRowsIn(const std::filesystem::path& file) {
  SQLite::Database db(file.string(), SQLite::OPEN_READONLY);
  SQLite::Statement q(db, "SELECT beaconID, serialNumber FROM KSBeacon");
  std::vector<std::string> out;
  while (q.executeStep()) out.push_back(q.getColumn(0).getString() + " " + q.getColumn(1).getString());
  return out;
}

class KestrineSDKScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    // HTTP tasks in flight hold the virtual clock still while the loopback server answers.
    platform::dispatch::Scheduler::setShared(world.scheduler);
    KSModelClock::setClock(world.scheduler->clock());
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();

    cloud.putRecord("/apps/T", "app", Value::makeDict({{"id", "app-1"}, {"name", "Lot"}}));
    cloud.putList("apps/T/beaconRegions", "beaconRegions",
                  {Value::makeDict({{"id", "r-1"},
                                    {"regionIdentifier", "com.example.lot"},
                                    {"proximityUUID", std::string(kUUID)},
                                    {"name", "Lot"}})});
    cloud.putList("beacons/nearby", "beacons", {beaconRecord()});

    platform::sim::SimAdvertiser beacon;
    beacon.identifier = platform::Uuid::random();
    const auto frame = velmora::testing::hexBytes("4C00 0215 E2C56DB5DFFB48D2B060D0F5A71096E0 0001 0016 C5");
    beacon.advertisement.manufacturerData = platform::Bytes(frame.begin(), frame.end());
    beacon.intervalSeconds = 0.5;
    beacon.rssi = -65;
    world.radio->addAdvertiser(beacon);
  }
  void TearDown() override {
    KSModelClock::setClock(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  std::filesystem::path storeFile() const { return world.documents.path() / std::string(KSSqliteDBFileName); }

  velmora::testing::SimWorld world;
  BeaconCloudFake cloud;
};

TEST_F(KestrineSDKScenario, StartSyncsRegionsAndTheHeardBeaconIntoTheStoreAndARestartRestoresIt) {
  auto timeline = std::make_shared<Timeline>();
  {
    Process process(world, cloud, timeline);
    EXPECT_EQ(KestrineSDK::status(), KSStatusNotConfigured);

    std::vector<int> completions;
    KestrineSDK::startRunningWithAppToken("T", [&](int status) { completions.push_back(status); });
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunningWithErrors);  // verifying
    ASSERT_TRUE(process.runUntil([&] { return !completions.empty(); }));
    EXPECT_EQ(completions, std::vector<int>{KSStatusRunning});
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunning);
    EXPECT_EQ(cloud.hits("GET", "/apps/T"), 1u);

    auto listener = std::make_shared<HubListener>();
    process.hub()->addDelegate(listener);

    // The cloud's region for the beacon's UUID replaces the default one, and is monitored.
    ASSERT_TRUE(process.runUntil([&] { return timeline->has(kRemovedDefault); }));
    EXPECT_TRUE(timeline->has(kCachedCloudRegion));
    EXPECT_EQ(cloud.hits("GET", "apps/T/beaconRegions"), 1u);

    // Heard through location services: the neighbourhood of its iBeacon key is asked for.
    ASSERT_TRUE(process.runUntil([&] {
      std::lock_guard lock(listener->mutex);
      return !listener->synced.empty();
    }));
    ASSERT_EQ(cloud.hits("GET", "beacons/nearby"), 1u);
    for (const auto& r : cloud.log()) {
      if (r.path != "/api/beacons/nearby") continue;
      EXPECT_EQ(r.query, (std::map<std::string, std::string>{
                             {"major", "1"}, {"minor", "22"}, {"page", "1"}, {"perPage", "100"}, {"proximityUUID", std::string(kUUID)}}));
    }
    auto cached = process.hub()->cachedBeaconWithBeaconID("b-1");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->serialNumber(), "SN-1");
    EXPECT_EQ(cached->syncStatus(), KSSyncStatusSynced);
    std::size_t syncedAt = 0;
    {
      std::lock_guard lock(listener->mutex);
      ASSERT_EQ(listener->synced.size(), 1u);
      EXPECT_EQ(listener->synced[0], cached);  // the one live record, not a copy
      syncedAt = listener->passesAtSync;
      for (std::size_t i = 0; i < syncedAt; ++i) EXPECT_TRUE(listener->passes[i].empty()) << "pass " << i;
    }
    ASSERT_TRUE(process.runUntil([&] {
      std::lock_guard lock(listener->mutex);
      return listener->passes.size() > syncedAt;
    }));
    {
      std::lock_guard lock(listener->mutex);
      EXPECT_EQ(listener->passes[syncedAt], KSBeaconManagerInternalDelegate::Beacons{cached});
    }
    ASSERT_TRUE(process.runUntil([&] { return !beaconRowsIn(storeFile()).empty(); }));
    EXPECT_EQ(beaconRowsIn(storeFile()), std::vector<std::string>{"b-1 SN-1"});

    world.radio->setPowerState(platform::bluetooth::CentralState::PoweredOff);
    world.runUntilIdle();
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunningWithErrors);
    world.radio->setPowerState(platform::bluetooth::CentralState::PoweredOn);
    world.runUntilIdle();
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunning);

    KestrineSDK::stopRunning();
    EXPECT_EQ(KestrineSDK::status(), KSStatusStopped);
    world.runUntilIdle();
    EXPECT_EQ(completions.size(), 1u);
  }
  EXPECT_EQ(timeline->entries(),
            (std::vector<std::string>{"KSNotificationDidStartRunning 2", "KSAccountManagerDidVerifyApp",
                                      kCachedCloudRegion, kRemovedDefault,
                                      "KSNotificationDidStopRunning"}));

  // A restart: a new process over the same documents folder. The first sighting of the
  // beacon comes from the store.
  cloud.clearLog();
  Process again(world, cloud, std::make_shared<Timeline>());
  KestrineSDK::startRunningWithAppToken("T", nullptr);
  auto listener = std::make_shared<HubListener>();
  again.hub()->addDelegate(listener);
  ASSERT_TRUE(again.runUntil([&] {
    std::lock_guard lock(listener->mutex);
    return !listener->cached.empty();
  }));
  std::lock_guard lock(listener->mutex);
  EXPECT_EQ(listener->cached[0].first->beaconID(), "b-1");
  EXPECT_EQ(listener->cached[0].first->serialNumber(), "SN-1");
  EXPECT_EQ(listener->cached[0].second, KSSyncStatusRestored);
}

// What the host's own beacon manager tells it.
class HostBeacons final : public KSBeaconManagerDelegate {
 public:
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons beacons) override {
    std::lock_guard lock(mutex);
    if (!beacons.empty()) ++passesWithBeacons;
  }
  std::mutex mutex;
  int passesWithBeacons = 0;
};

// The host makes its beacon manager before the SDK is configured or started. The hub that
// creation brings about is the SDK's own: it hears the location client's iBeacons, keeps
// the beacon, and its passes reach the host.
TEST_F(KestrineSDKScenario, ABeaconManagerMadeBeforeTheSDKStartsRangesTheBeaconAndCachesIt) {
  auto heard = std::make_shared<HostBeacons>();
  std::shared_ptr<KSBeaconManager> manager;
  Process process(world, cloud, std::make_shared<Timeline>(), [&] {
    manager = KSBeaconManager::create();
    manager->setDelegate(heard);
  });
  std::vector<int> completions;
  KestrineSDK::startRunningWithAppToken("T", [&](int status) { completions.push_back(status); });
  ASSERT_TRUE(process.runUntil([&] { return !completions.empty(); }));
  EXPECT_EQ(completions, std::vector<int>{KSStatusRunning});

  ASSERT_TRUE(process.runUntil([&] {
    std::lock_guard lock(heard->mutex);
    return heard->passesWithBeacons > 0;
  })) << "the host's manager heard a pass with the beacon";
  auto cached = process.hub()->cachedBeaconWithBeaconID("b-1");
  ASSERT_NE(cached, nullptr);
  EXPECT_EQ(cached->syncStatus(), KSSyncStatusSynced);
  EXPECT_EQ(process.hub()->cachedBeaconWithIBeaconKey(std::string(kUUID) + ":1:22"), cached);
  manager.reset();
}

}  // namespace
}  // namespace velmora::kestrine
