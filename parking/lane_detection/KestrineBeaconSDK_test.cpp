// What the default binding reads of the beacon layer's ranged records, and the identifier
// lane detection then gives each kind of beacon.
#include "parking/lane_detection/KestrineBeaconSDK.h"

#include <gtest/gtest.h>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSEddystone.h"
#include "parking/lane_detection/BeaconModel.h"
#include "testing/BeaconFixtures.h"

namespace velmora {
namespace {

using kestrine::KSAdDataTypeEddystoneUIDKey;
using kestrine::KSAdDataTypeEddystoneURLKey;
using kestrine::testsupport::beaconWithAdTypes;

constexpr const char* kUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
constexpr const char* kUid = "EDD1EBEAC04E5DEFA0170000000000A1";

std::shared_ptr<kestrine::KSBeacon> ranged(std::initializer_list<std::string_view> adTypes, bool iBeacon,
                                           std::optional<std::string> uid) {
  auto b = beaconWithAdTypes(adTypes);
  if (iBeacon) {
    b->setProximityUUIDString(std::string(kUuid));
    b->setMajor(platform::Value(100));
    b->setMinor(platform::Value(7));
  }
  if (uid) {
    auto eddystone = std::make_shared<kestrine::KSEddystone>();
    eddystone->setUIDString(uid);
    b->setEddystone(eddystone);
  }
  b->setSerialNumber(std::string("SN-7"));
  b->setName(std::string("Gate 7"));
  b->setRssi(platform::Value(-66));
  b->setAccuracy(1.5);
  b->setProximity(2);
  return b;
}

TEST(KestrineBeaconSDK, EachKindOfRangedRecordGetsTheIdentifierOfItsKind) {
  struct Case {
    const char* what;
    std::shared_ptr<kestrine::KSBeacon> beacon;
    std::optional<std::string> beaconID;  // nullopt: skipped
  };
  const Case cases[] = {
      {"iBeacon", ranged({}, true, std::nullopt), std::string(kUuid) + ":100:7"},
      {"Eddystone UID and iBeacon frames", ranged({KSAdDataTypeEddystoneUIDKey}, true, std::string(kUid)),
       std::string(kUid) + ":100:7"},
      {"Eddystone heard only by URL", ranged({KSAdDataTypeEddystoneURLKey}, false, std::nullopt), std::nullopt},
  };
  for (const auto& c : cases) {
    const RangedBeacon r = KestrineBeaconSDK::rangedBeacon(*c.beacon);
    EXPECT_EQ(r.rssi, -66) << c.what;
    EXPECT_EQ(r.serialNumber, "SN-7") << c.what;
    EXPECT_EQ(r.name, "Gate 7") << c.what;
    EXPECT_EQ(r.proximity, 2u) << c.what;
    EXPECT_EQ(r.accuracy, 1.5) << c.what;
    auto model = BeaconModel::toModel(r);
    if (!c.beaconID) {
      EXPECT_EQ(model, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(model, nullptr) << c.what;
    EXPECT_EQ(model->beaconID(), *c.beaconID) << c.what;
  }
}

}  // namespace
}  // namespace velmora
