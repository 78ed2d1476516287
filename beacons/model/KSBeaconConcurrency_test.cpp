#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconFilter.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Date;
using platform::Value;

class CountingDelegate : public KSBeaconDelegate {
 public:
  Taken beaconDidUpdateMeasurements(const std::shared_ptr<KSBeacon>& beacon,
                                    const std::vector<std::shared_ptr<KSMeasurement>>& measurements) override {
    (void)beacon->measurementsOfType(0);  // re-enters the beacon from the callback
    calls += measurements.empty() ? 0 : 1;
    return std::monostate{};
  }
  std::atomic<int> calls{0};
};

// One writer plays the ranging hub (advertisements, signal, cloud updates) while four readers
// use the record as the app and the filters would.
TEST(KSBeaconConcurrency, OneWriterFourReaders) {
  auto beacon = std::make_shared<KSBeacon>();
  auto delegate = std::make_shared<CountingDelegate>();
  beacon->setDelegate(delegate);
  beacon->setProximityUUIDString("f7826da6-4fa2-4e98-8024-bc5b71e0893e");
  constexpr int kRounds = 2000;
  std::atomic<bool> done{false};

  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) {
      double at = i;
      auto stamp = Value(Date::fromReferenceSeconds(at));
      beacon->setAdData(Value(platform::Dict{{std::string(KSAdDataTypeKey), Value(KSAdDataTypeKestrineIBeaconKey)},
                                             {std::string(KSAdDataTimestampKey), stamp},
                                             {std::string(KSAdDataMajorKey), Value(i % 100)}}),
                        KSAdDataTypeKestrineIBeaconKey);
      beacon->setAdData(Value(platform::Dict{{std::string(KSAdDataTypeKey), Value(KSAdDataTypeKestrineBlockDataKey)},
                                             {std::string(KSAdDataTimestampKey), stamp},
                                             {std::string(KSBlockDataIdentifierKey), Value(i % 16)},
                                             {std::string(KSBlockDataIndexKey), Value(0)},
                                             {std::string(KSBlockDataCountKey), Value(1)},
                                             {std::string(KSBlockDataDataKey), Value(Bytes{1, 2})}}),
                        KSAdDataTypeKestrineBlockDataKey);
      beacon->setAdData(Value(platform::Dict{{std::string(KSAdDataTypeKey), Value(KSAdDataTypeKestrineMeasurementKey)},
                                             {std::string(KSAdDataTimestampKey), stamp},
                                             {std::string(KSAdDataMeasurementDataKey),
                                              Value(Bytes{0x00, static_cast<std::uint8_t>(i % 3), 0x00})}}),
                        KSAdDataTypeKestrineMeasurementKey);
      beacon->setRssi(Value(-40 - i % 30));
      beacon->setAccuracy(i % 7);
      beacon->setProximity(static_cast<std::uint64_t>(i % 4));
      beacon->setMinor(Value(i));
      if (i % 50 == 0) {
        auto cv = std::make_shared<KSCustomValue>();
        cv->setKey("k");
        cv->setValue(std::to_string(i));
        beacon->setCustomValues(std::vector{cv});
        beacon->setBeaconID("b" + std::to_string(i));
      }
    }
    done = true;
  });

  std::vector<std::thread> readers;
  std::atomic<int> reads{0};
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&, r] {
      auto near = KSBeaconFilter::predicateForProximity(2);
      auto valued = KSBeaconFilter::predicateForCustomValueKey("k");
      while (!done) {
        switch (r) {
          case 0:
            (void)beacon->major();
            (void)beacon->iBeaconKey();
            (void)beacon->isKestrine();
            break;
          case 1:
            EXPECT_LE(beacon->reassembledBlockData().size(), 20u);
            (void)beacon->partialBlockData();
            (void)beacon->latestAdData();
            break;
          case 2:
            if (auto m = beacon->measurementsOfType(0)) {
              EXPECT_LE(m->size(), 10u);
            }
            (void)beacon->availableMeasurementTypes();
            (void)beacon->rawMeasurementData();
            break;
          default:
            (void)beacon->copy();
            (void)beacon->toDictionary();
            (void)near(*beacon);
            (void)valued(*beacon);
            break;
        }
        ++reads;
      }
    });
  }
  writer.join();
  for (auto& t : readers) t.join();

  EXPECT_EQ(beacon->major(), Value((kRounds - 1) % 100));
  EXPECT_EQ(beacon->reassembledBlockData().size(), 20u);
  EXPECT_EQ(beacon->measurementsOfType(0)->size(), 10u);
  EXPECT_GT(delegate->calls.load(), 0);
  EXPECT_EQ(beacon->syncStatus(), KSSyncStatusSynced);
}

}  // namespace
}  // namespace velmora::kestrine
