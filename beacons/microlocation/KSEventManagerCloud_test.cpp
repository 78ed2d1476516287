// Logged events through the real operation manager and API client to the cloud fake over
// loopback, stored in a real store file: what is posted, when, and the rows marked posted.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSEventManagerAdapters.h"
#include "beacons/model/KSEvent.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/sim/SimReachability.h"
#include "testing/ApiTestSupport.h"
#include "testing/StorageTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

struct CloudSDK : KSApiSDKPort {
  int appTokenVerificationStatus() override { return 2; }
  bool isUsingApi() override { return true; }
  void stopRunning() override {}
};

struct FixedIdentity : KSEventIdentitySource {
  std::optional<std::string> deviceIdentifier() override { return "device-1"; }
  std::optional<std::string> sessionIdentifier() override { return "session-1"; }
};

class EventManagerCloudTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reachability->startMonitoring();
    api.drain();
    KSApiOperationManagerPorts ports;
    ports.sdk = [s = std::make_shared<CloudSDK>()] { return s; };
    ports.store = [s = std::make_shared<KSStoreAdapter>(storage.managerPtr())] { return s; };
    operations = KSApiOperationManager::create(api.client, defaults, std::move(ports), reachability, center);
    manager = KSEventManager::create({.identity = std::make_shared<FixedIdentity>(),
                                      .store = std::make_shared<KSEventStorageAdapter>(storage.managerPtr()),
                                      .poster = std::make_shared<KSEventOperationPoster>([m = operations] { return m; }),
                                      .scheduler = api.scheduler,
                                      .notificationCenter = center.get()});
  }
  void TearDown() override {
    manager.reset();
    operations.reset();
    api.drain();
  }

  // Runs posted work and waits for the loopback replies until the event queue stays empty.
  bool settle() {
    for (int round = 0; round < 100; ++round) {
      api.drain();
      if (!api.drainUntil([&] { return operations->eventApiOperationQueue()->operationCount() == 0; })) return false;
      api.drain();
      if (operations->eventApiOperationQueue()->operationCount() == 0) return true;
    }
    return false;
  }
  void log(const std::string& id, std::int32_t priority) {
    auto e = std::make_shared<KSEvent>();
    e->setEventID(id);
    e->setEventIdentifier("tap-" + id);
    e->setBeganAt(api.now());
    e->setEndedAt(api.now());
    manager->logEvent(e, priority);
    ASSERT_TRUE(settle());
  }
  // Moves the clock to that many seconds after `from`.
  void advanceTo(platform::Date from, double seconds) {
    const double elapsed = api.now().timeIntervalSince(from);
    ASSERT_LE(elapsed, seconds) << "the clock ran past the step";
    api.scheduler->advanceBy(seconds - elapsed);
  }
  // The event IDs of each posted batch, in arrival order.
  std::vector<std::vector<std::string>> batches() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& request : api.cloud.log()) {
      EXPECT_EQ(request.method, "POST");
      EXPECT_EQ(request.path, "/api/events");
      std::vector<std::string> ids;
      const Value& events = request.json["events"];
      for (std::size_t i = 0; i < events.size(); ++i) {
        const Value& e = events[i];
        ids.push_back(e["id"].string() ? *e["id"].string() : "?");
        EXPECT_EQ(e["deviceUUID"], Value("device-1"));
        EXPECT_EQ(e["eventIdentifier"], Value("tap-" + ids.back()));
      }
      out.push_back(std::move(ids));
    }
    return out;
  }

  velmora::testing::ApiTestWorld api{2};
  testing::StorageFixture storage{api.scheduler};
  velmora::testing::TempDir dir;
  std::shared_ptr<KSUserDefaultsManager> defaults =
      std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(dir.path() / "defaults.plist"));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<platform::sim::SimReachability> sim = platform::sim::SimReachability::create(api.scheduler);
  std::shared_ptr<KSNetworkReachabilityManager> reachability =
      KSNetworkReachabilityManager::initWithReachability(sim->forInternet(), api.scheduler, center);
  std::shared_ptr<KSApiOperationManager> operations;
  std::shared_ptr<KSEventManager> manager;
};

// The first event goes at once. A priority-0 event waits until more than 60 s have passed
// since the last post, a priority-1 one until more than 10 s have, and then goes first with
// everything waiting. Every posted row ends marked posted.
TEST_F(EventManagerCloudTest, LoggedEventsArePostedSpacedInOrderAndMarkedPosted) {
  using Batches = std::vector<std::vector<std::string>>;
  const platform::Date start = api.now();
  log("e1", 0);
  EXPECT_EQ(batches(), (Batches{{"e1"}}));

  advanceTo(start, 60.0);
  log("e2", 0);
  EXPECT_EQ(batches().size(), 1u) << "60.0 s after the post: waits";
  advanceTo(start, 60.001);
  const platform::Date second = api.now();
  log("e3", 0);
  EXPECT_EQ(batches(), (Batches{{"e1"}, {"e2", "e3"}}));

  advanceTo(second, 10.0);
  log("e4", 1);
  EXPECT_EQ(batches().size(), 2u) << "10.0 s after the post: waits";
  advanceTo(second, 10.001);
  log("e5", 1);
  EXPECT_EQ(batches(), (Batches{{"e1"}, {"e2", "e3"}, {"e5", "e4"}}));
  EXPECT_EQ(operations->pendingEventCount(), 0u);

  storage.save();
  EXPECT_EQ(storage.count(std::string(KSEventEntityName)), 5);
  EXPECT_EQ(storage.count(std::string(KSEventEntityName),
                          platform::store::Predicate::eq("lastPostedAt", Value())),
            0);
}

}  // namespace
}  // namespace velmora::kestrine
