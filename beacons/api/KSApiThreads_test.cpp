// Syncs and posts from many threads at once, on the production scheduler: every call
// completes, every record is posted once, and nothing races (this test runs under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/BeaconCloudFake.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

struct Progress {
  std::mutex mutex;
  std::condition_variable changed;
  int results = 0, visitsPosted = 0, eventsPosted = 0;
  // Notifies under the lock, so the waiter cannot go on (and destroy us) mid-notify.
  void bump(int Progress::*field) {
    std::lock_guard lock(mutex);
    ++(this->*field);
    changed.notify_all();
  }
};

struct Hub : KSApiBeaconCachePort {
  Progress* progress;
  explicit Hub(Progress* p) : progress(p) {}
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult&) override { progress->bump(&Progress::results); }
  bool canCacheRefreshForApp() override { return true; }
  bool canCacheFullSyncForApp() override { return true; }
  bool canCacheRefreshForSiteID(const std::string&) override { return true; }
  bool canCacheFullSyncForSiteID(const std::string&) override { return true; }
  std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string&) override { return nullptr; }
};

struct SDK : KSApiSDKPort {
  int appTokenVerificationStatus() override { return 2; }
  bool isUsingApi() override { return true; }
  void stopRunning() override {}
};

struct Store : KSApiStorePort {
  Progress* progress;
  explicit Store(Progress* p) : progress(p) {}
  void saveContext() override {}
  void updateEventPostedAt(const std::string&, platform::Date) override { progress->bump(&Progress::eventsPosted); }
};

struct Visit : KSApiPostable {
  Progress* progress;
  int n;
  Visit(Progress* p, int n) : progress(p), n(n) {}
  Value toDictionary() const override { return Value::makeDict({{"n", n}}); }
  void setLastPostedAt(platform::Date) override { progress->bump(&Progress::visitsPosted); }
};

struct Event : KSApiPostable {
  int n;
  explicit Event(int n) : n(n) {}
  Value toDictionary() const override { return Value::makeDict({{"n", n}}); }
  std::optional<std::string> eventID() const override { return "E" + std::to_string(n); }
};

TEST(KSApiThreads, EightThreadsSyncingAndPostingAtOnce) {
  constexpr int kThreads = 8, kEach = 10, kTotal = kThreads * kEach;
  // A scheduler of the test's own, so that its threads are joined before the test ends.
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  struct Restore {
    ~Restore() { platform::dispatch::Scheduler::setShared(nullptr); }
  } restore;
  velmora::testing::BeaconCloudFake cloud;
  velmora::testing::TempDir dir;
  Progress progress;
  auto client = KSApiClient::create(cloud.baseUrl(), scheduler);
  auto defaults = std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(dir.path() / "d.plist"));
  auto hub = std::make_shared<Hub>(&progress);
  auto sdk = std::make_shared<SDK>();
  auto store = std::make_shared<Store>(&progress);
  KSApiOperationManagerPorts ports;
  ports.beaconCache = [hub] { return hub; };
  ports.sdk = [sdk] { return sdk; };
  ports.store = [store] { return store; };
  auto center = std::make_shared<platform::NotificationCenter>();
  auto manager = KSApiOperationManager::create(client, defaults, ports, nullptr, center);
  manager->networkReachabilityDidChange(2);

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const int n = t * kEach + i;
        manager->postBeaconVisit(std::make_shared<Visit>(&progress, n));
        manager->postEvent(std::make_shared<Event>(n));
        manager->syncBeaconWithBluetoothAddress("AA:" + std::to_string(n));  // 404: a result, no throttle
        client->setValueForHTTPHeaderField(std::to_string(n), "X-KS-InstallationID");
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::unique_lock lock(progress.mutex);
  const bool finished = progress.changed.wait_for(lock, std::chrono::seconds(60), [&] {
    return progress.results == kTotal && progress.visitsPosted == kTotal && progress.eventsPosted == kTotal;
  });
  EXPECT_TRUE(finished) << progress.results << " results, " << progress.visitsPosted << " visits, "
                        << progress.eventsPosted << " events";
  lock.unlock();
  EXPECT_EQ(manager->pendingBeaconVisitCount(), 0u);
  EXPECT_EQ(manager->pendingEventCount(), 0u);
  EXPECT_EQ(cloud.hits("GET", "beacons/AA:0"), 1u);
  manager->cancelAllOperations();
  manager.reset();
  client.reset();
  platform::dispatch::Scheduler::setShared(nullptr);
  scheduler.reset();  // joins its threads
}

}  // namespace
}  // namespace velmora::kestrine
