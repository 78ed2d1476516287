// The site manager and the visit tracker on real threads: one thread plays the hub's passes
// while host threads read the site cache, ask for states and nearby sites, send region events
// and rerun the start's reload.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

struct PassCounter : KSSiteManagerInternalDelegate {
  void siteManagerInternalDidRangeBeacons(SiteBeacons b) override {
    if (b.size() != expectedSize) ++wrong;
    ++passes;
  }
  void siteManagerInternalDidDetermineStateForSite(unsigned long, std::shared_ptr<KSSite>) override { ++states; }
  std::size_t expectedSize = 0;
  std::atomic<int> passes{0}, states{0}, wrong{0};
};

// Visits are plain; fetches answer on the store's own queue, as a real store's would.
struct QueueStore : KSVisitStorePort {
  explicit QueueStore(std::shared_ptr<platform::dispatch::Queue> q) : queue(std::move(q)) {}
  std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string&) override {
    return std::make_shared<KSBeaconVisit>();
  }
  std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string&) override {
    return std::make_shared<KSBeaconRegionVisit>();
  }
  void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(Date, std::int64_t) override {}
  void fetchUnEndedAndResumableBeaconVisits(Date at, VisitsHandler handler) override {
    queue->async([handler, at] {
      auto v = std::make_shared<KSBeaconVisit>();
      v->setSerialNumber("SN-1");
      v->setBeganAt(at);
      handler({v});
    });
  }
  void fetchUnPostedBeaconVisits(Date, VisitsHandler handler) override {
    queue->async([handler] { handler({}); });
  }
  void saveContext() override {}
  std::shared_ptr<platform::dispatch::Queue> queue;
};

TEST(SitesThreads, PassesHostCallsRegionEventsAndReloadsTogether) {
  auto clock = std::make_shared<platform::ManualClock>(Date::fromUnixSeconds(1'800'000'000));
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>(clock);
  KSSiteManagerInternal::Ports sitePorts;
  sitePorts.scheduler = scheduler;
  sitePorts.location = [] { return platform::location::Location{0.0, 0.0}; };
  auto sites = KSSiteManagerInternal::create(sitePorts);
  auto counter = std::make_shared<PassCounter>();
  sites->addDelegate(counter);

  auto store = std::make_shared<QueueStore>(scheduler->makeSerialQueue("store"));
  std::atomic<int> posts{0};
  KSVisitTracker::Ports trackerPorts;
  trackerPorts.scheduler = scheduler;
  trackerPorts.store = [store] { return store; };
  trackerPorts.postBeaconVisit = [&posts](std::shared_ptr<KSBeaconVisit>) { ++posts; };
  auto tracker = KSVisitTracker::create(trackerPorts);

  std::vector<std::shared_ptr<KSBeacon>> beacons;
  for (int i = 0; i < 6; ++i) {
    auto site = std::make_shared<KSSite>();
    site->setSiteID("S" + std::to_string(i % 3));
    site->setSyncStatus(KSSyncStatusSynced);
    sites->cacheSite(site, true, false);
    auto b = std::make_shared<KSBeacon>();
    b->setSiteID("S" + std::to_string(i % 3));
    b->setSerialNumber("SN-" + std::to_string(i));
    b->setSyncStatus(KSSyncStatusSynced);
    b->setProximity(1 + i % 3);
    b->setAccuracy(1.0 + i);
    beacons.push_back(b);
  }
  counter->expectedSize = beacons.size();

  constexpr int kPasses = 300;
  std::atomic<bool> done{false};
  std::thread hub([&] {
    for (int i = 0; i < kPasses; ++i) {
      const bool seen = (i / 20) % 2 == 0;  // beacons come and go, so visits end and reopen
      sites->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
      tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(
          nullptr, seen ? beacons : std::vector<std::shared_ptr<KSBeacon>>{});
      clock->advance(1.0);
    }
    done = true;
  });
  std::vector<std::thread> hosts;
  for (int h = 0; h < 4; ++h) {
    hosts.emplace_back([&, h] {
      auto region = std::make_shared<KSBeaconRegion>();
      region->setIdentifier("R" + std::to_string(h));
      int round = 0;
      while (!done || round < 50) {
        auto site = sites->cachedSiteWithSiteID("S" + std::to_string(round % 3));
        if (round % 10 == 0) sites->requestStateForSite(site);
        (void)sites->nearbySitesUsingDistanceFilter(3218.69);
        (void)sites->allCachedSites();
        (void)tracker->currentBeaconVisitForSerialNumber("SN-" + std::to_string(round % 6));
        if (round % 2) tracker->locationManagerClientDidEnterBeaconRegion(nullptr, region);
        else tracker->locationManagerClientDidExitBeaconRegion(nullptr, region);
        if (h == 0 && round % 25 == 0) tracker->sdkDidStartRunning();
        ++round;
      }
    });
  }
  hub.join();
  for (auto& t : hosts) t.join();
  // Drain the store's queue, then the main queue (state answers) and the delegate queue.
  store->queue->sync([] {});
  scheduler->mainQueue()->sync([] {});
  sites->delegateQueue()->sync([] {});

  EXPECT_EQ(counter->passes.load(), kPasses);
  EXPECT_EQ(counter->wrong.load(), 0);
  EXPECT_GT(counter->states.load(), 0);
  EXPECT_GT(posts.load(), 0);
  for (int i = 0; i < 3; ++i) {
    auto record = sites->existingSiteActivityMonitorForSiteID("S" + std::to_string(i));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->siteState(), KSSiteStateInside);
  }
}

}  // namespace
}  // namespace velmora::kestrine
