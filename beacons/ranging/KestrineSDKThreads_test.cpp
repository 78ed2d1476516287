// The SDK entry and the hub's sync merge on real threads: entry points called from four
// threads at once, and blocking merges from the API's queue while sightings arrive.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KestrineSDK.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimReachability.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/FakeAccountManager.h"
#include "testing/FakeApiOperationManager.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

// Counts completions and lets the test wait for a number of them.
class Completions {
 public:
  KestrineSDK::Completion make() {
    return [this](int status) {
      std::lock_guard lock(mutex_);
      statuses_.push_back(status);
      changed_.notify_all();
    };
  }
  bool waitFor(std::size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return statuses_.size() >= n; });
  }
  std::size_t count() {
    std::lock_guard lock(mutex_);
    return statuses_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> statuses_;
};

TEST(KestrineSDKThreads, EntryPointsFromFourThreads) {
  velmora::testing::TempDir dir;
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  KSPlatformBundle bundle;
  bundle.scheduler = scheduler;
  bundle.notificationCenter = std::make_shared<platform::NotificationCenter>();
  bundle.defaults = platform::UserDefaults::open(dir.path() / "defaults.plist");
  auto location = platform::sim::SimLocation::create(scheduler);
  location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
  bundle.location = location;
  bundle.reachability = platform::sim::SimReachability::create(scheduler);
  auto provider = KSInstanceProvider::create(bundle);
  KSInstanceProvider::setSharedProvider(provider);
  KSModelClock::setClock(scheduler->clock());
  auto account = std::make_shared<testsupport::FakeAccountManager>(scheduler->clock());
  account->cacheVerification("T", 10);
  provider->installMaker<KSAccountManaging>(std::string(KSAccountManaging::kSingletonName),
                                            [account](KSInstanceProvider&) { return account; });
  // Nothing goes to a server or to a store outside the temporary folder.
  provider->installMaker<KSApiOperationManaging>(std::string(KSApiOperationManaging::kSingletonName), [](KSInstanceProvider&) {
    return std::make_shared<testsupport::FakeApiOperationManager>();
  });
  provider->installMaker<KSBeaconRegionStoring>(std::string(KSBeaconRegionStoring::kSingletonName),
                                                [](KSInstanceProvider&) { return std::make_shared<testsupport::NullRegionStore>(); });

  Completions completions;
  std::atomic<std::size_t> asked{0};
  constexpr int kRounds = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        switch ((i + t) % 6) {
          case 0:
            ++asked;
            KestrineSDK::startRunningWithAppToken("T", completions.make());
            break;
          case 1:
            (void)KestrineSDK::status();
            (void)KestrineSDK::isBluetoothEnabled();
            (void)KestrineSDK::isNetworkReachable();
            break;
          case 2:
            KestrineSDK::setOptions({{"KSOptionScanInBackground", Value(i % 2 == 0)}});
            break;
          case 3:
            KestrineSDK::stopRunning();
            break;
          case 4:
            ++asked;
            KestrineSDK::startRunning(completions.make());
            break;
          default:
            (void)KestrineSDK::appTokenVerificationStatus();
            (void)KestrineSDK::installationIdentifier();
            break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  // Every completion runs, once: turned-away starts keep theirs.
  ASSERT_TRUE(completions.waitFor(asked.load()));
  scheduler->mainQueue()->sync([] {});
  EXPECT_EQ(completions.count(), asked.load());
  EXPECT_TRUE(account->tokens.empty());  // the cached verification was fresh throughout

  KestrineSDK::stopRunning();
  KSModelClock::setClock(nullptr);
  // Let go of everything that holds the scheduler, so destroying it joins its threads
  // before the process exits.
  KSBeaconHubPort::setShared(nullptr);
  KSApiClientPort::setShared(nullptr);
  KSLocalStoragePort::setShared(nullptr);
  KSInstanceProvider::setSharedProvider(nullptr);
  provider.reset();
  bundle = {};
  location.reset();
  account.reset();
  // Work still in flight on any of the SDK's queues (serial ones included) may hold the
  // scheduler a moment longer: wait, within a bound, until the last reference is this one,
  // so dropping it joins the threads here rather than on one of them.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (scheduler.use_count() > 1 && std::chrono::steady_clock::now() < giveUp) {
    scheduler->mainQueue()->sync([] {});
    scheduler->globalQueue()->sync([] {});
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(scheduler.use_count(), 1);
  scheduler.reset();
}

TEST(KestrineSDKThreads, BlockingMergesFromTheApiQueueWhileSightingsArrive) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  KSPlatformBundle bundle;
  bundle.scheduler = scheduler;
  bundle.notificationCenter = std::make_shared<platform::NotificationCenter>();
  auto provider = KSInstanceProvider::create(bundle);
  auto configurator = KSConfigurator::create(provider, {});
  configurator->setUserOptions({{std::string(KSOptionRunWithoutLocationServicesAuthorization), Value(true)}});
  provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                         [configurator](KSInstanceProvider&) { return configurator; });
  auto session = std::make_shared<testsupport::FakeSession>();
  auto hub = KSBeaconManagerInternal::create(provider, {nullptr, nullptr, session});
  hub->startDiscoveringBeacons();

  auto api = scheduler->makeSerialQueue("com.kestrine.apiClient");
  constexpr int kPages = 30;
  std::atomic<int> merged{0};
  for (int page = 0; page < kPages; ++page) {
    api->async([&, page] {
      KSBeaconSyncResult result;
      result.httpStatusCode = 200;
      for (int i = 0; i < 5; ++i) {
        auto b = std::make_shared<KSBeacon>();
        b->setBeaconID("b-" + std::to_string(page) + "-" + std::to_string(i));
        b->setProximityUUIDString(std::string("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"));
        b->setMajor(Value(page + 1));
        b->setMinor(Value(i));
        testsupport::setOwnership(*b, 1);
        result.beacons.push_back(b);
      }
      hub->cacheBeaconsFromSyncResult(result);
      ++merged;
    });
  }
  std::thread radio([&] {
    for (int i = 0; i < 300; ++i) {
      auto ad = testsupport::adDataOfType(
          KSAdDataTypeAppleIBeaconKey,
          {{KSAdDataProximityUUIDStringKey, Value("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0")},
           {KSAdDataMajorKey, Value(1 + i % kPages)},
           {KSAdDataMinorKey, Value(i % 7)}});
      hub->centralManagerClientDidDiscoverPeripheral(*hub->centralManagerClient(),
                                                     platform::Uuid::random(), ad, -60, "scan");
      (void)hub->allCachedBeacons();
    }
  });
  radio.join();
  api->sync([] {});
  hub->workQueue()->sync([] {});
  EXPECT_EQ(merged.load(), kPages);
  // Every synced beacon is in the cache under its key with its cloud ID, whatever the
  // sightings did meanwhile.
  for (int page = 0; page < kPages; ++page) {
    for (int i = 0; i < 5; ++i) {
      auto b = hub->cachedBeaconWithIBeaconKey("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:" + std::to_string(page + 1) +
                                               ":" + std::to_string(i));
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->beaconID(), "b-" + std::to_string(page) + "-" + std::to_string(i));
    }
  }
  hub->stopDiscoveringBeacons();
}

}  // namespace
}  // namespace velmora::kestrine
