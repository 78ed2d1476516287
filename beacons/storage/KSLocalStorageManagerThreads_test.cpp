#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "testing/StorageTestSupport.h"
#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"

#undef major
#undef minor

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Value;

std::shared_ptr<KSBeacon> makeBeacon(int t, int i) {
  auto b = std::make_shared<KSBeacon>();
  const std::string id = std::to_string(t) + "-" + std::to_string(i);
  b->setBeaconID("B" + id);
  b->setSerialNumber("S" + id);
  b->setBluetoothAddress("A" + id);
  auto c = std::make_shared<KSCategory>();
  c->setCategoryID("C" + std::to_string(i % 3));
  auto v = std::make_shared<KSCustomValue>();
  v->setCustomValueID("V" + id);
  v->setKey("k");
  v->setValue("v");
  c->setCustomValues(KSCategory::CustomValues{v});
  b->setCategories(std::vector{c});
  return b;
}

// Eight threads mix upserts, lookups, fetches, counts, bound-visit writes, purges and saves on
// one manager over real threads: every upserted beacon is there afterwards (also after a
// restart), every lookup of a beacon already stored finds it, and the connection is never
// used off its queue.
TEST(KSLocalStorageManagerThreadsTest, MixedCallersLoseNoRowAndStayOnTheStoreQueue) {
  testing::StorageFixture s(std::make_shared<platform::dispatch::ThreadScheduler>());
  auto& m = s.manager();
  constexpr int kThreads = 8;
  constexpr int kPerThread = 60;
  const std::size_t errorsBefore = platform::programmingErrorCount();
  auto missed = std::make_shared<std::atomic<int>>(0);
  auto answered = std::make_shared<std::atomic<int>>(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::shared_ptr<KSBeaconVisit>> visits;
      for (int i = 0; i < kPerThread; ++i) {
        m.storeBeacon(makeBeacon(t, i));
        if (i > 0 && i % 4 == 0) {
          // An upsert queued earlier by this thread runs before this wait.
          const std::string earlier = std::to_string(t) + "-" + std::to_string(i - 1);
          if (!m.fetchBeaconForSerialNumber("S" + earlier)) ++*missed;
          if (!m.fetchBeaconForBluetoothAddress("A" + earlier)) ++*missed;
        }
        switch (i % 6) {
          case 0:
            m.fetchRecordsForEntitiesNamed("KSBeacon", std::nullopt, std::nullopt,
                                           [answered](KSLocalStoragePort::Rows rows) {
                                             for (const auto& r : rows) (void)r->valueForKey("serialNumber");
                                             ++*answered;
                                           },
                                           {});
            break;
          case 1:
            m.countRecordsForEntitiesNamed("KSBeaconVisit", std::nullopt, [answered](std::uint64_t) { ++*answered; }, {});
            break;
          case 2:
            if (auto v = m.managedBeaconVisitForSerialNumber("S" + std::to_string(t) + "-0")) {
              v->setBeganAt(Date::fromUnixSeconds(1000 + i));
              visits.push_back(std::move(v));
            }
            break;
          case 3:
            for (const auto& v : visits) v->setRssiWhenVisitEnded(Value(-60 - i));
            break;
          case 4:
            m.deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(Date::fromUnixSeconds(500), 1000);
            break;
          default:
            m.saveContext();
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  m.saveContext();
  EXPECT_EQ(s.count("KSBeacon"), kThreads * kPerThread);
  EXPECT_EQ(missed->load(), 0);
  EXPECT_EQ(platform::programmingErrorCount(), errorsBefore);

  s.reopen();
  EXPECT_EQ(s.count("KSBeacon"), kThreads * kPerThread) << "every upsert was saved";
  EXPECT_EQ(s.count("KSBeaconCategory"), kThreads * kPerThread);
  EXPECT_EQ(s.count("KSBeaconVisit"), kThreads * (kPerThread / 6));
}

}  // namespace
}  // namespace velmora::kestrine
