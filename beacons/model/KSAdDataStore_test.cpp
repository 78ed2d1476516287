#include "beacons/model/KSAdDataStore.h"

#include <gtest/gtest.h>

#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Value;

KSAdDataRef ad(std::string_view type, double at, std::optional<int> major) {
  platform::Dict d{{std::string(KSAdDataTypeKey), Value(type)},
                   {std::string(KSAdDataTimestampKey), Value(Date::fromReferenceSeconds(at))}};
  if (major) d[std::string(KSAdDataMajorKey)] = Value(*major);
  return std::make_shared<const Value>(std::move(d));
}

TEST(KSAdDataStore, NewestOfAFamilyAnswersAndTiesGoToTheEarlierType) {
  struct Case {
    const char* name;
    std::vector<std::tuple<std::string_view, double, std::optional<int>>> stored;
    Value expected;
  };
  const std::vector<Case> cases = {
      {"strictly newer wins", {{KSAdDataTypeKestrineSecureKey, 10, 1}, {KSAdDataTypeKestrineIBeaconKey, 11, 2}}, Value(2)},
      {"older later type loses", {{KSAdDataTypeKestrineSecureKey, 11, 1}, {KSAdDataTypeKestrineIBeaconKey, 10, 2}}, Value(1)},
      {"tie: secure before iBeacon", {{KSAdDataTypeKestrineIBeaconKey, 10, 2}, {KSAdDataTypeKestrineSecureKey, 10, 1}}, Value(1)},
      {"tie: iBeacon before newborn", {{KSAdDataTypeKestrineNewbornKey, 10, 3}, {KSAdDataTypeKestrineIBeaconKey, 10, 2}}, Value(2)},
      {"newest without the field hides older", {{KSAdDataTypeKestrineSecureKey, 10, 1}, {KSAdDataTypeKestrineNewbornKey, 12, std::nullopt}}, Value()},
      {"types outside the family are not read", {{KSAdDataTypeAppleIBeaconKey, 20, 9}, {KSAdDataTypeKestrineSecureKey, 10, 1}}, Value(1)},
      {"nothing stored", {}, Value()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KSAdDataStore store;
    for (const auto& [type, at, major] : c.stored) store.set(type, ad(type, at, major));
    EXPECT_EQ(store.objectFromLatest(KSAdDataMajorKey, KSAdDataStore::kestrineAdDataTypes()), c.expected);
  }
}

TEST(KSAdDataStore, ReplacesPerTypeAndRemoves) {
  KSAdDataStore store;
  store.set(KSAdDataTypeEddystoneUIDKey, ad(KSAdDataTypeEddystoneUIDKey, 1, 1));
  store.set(KSAdDataTypeEddystoneUIDKey, ad(KSAdDataTypeEddystoneUIDKey, 2, 2));
  store.set(KSAdDataTypeEddystoneURLKey, ad(KSAdDataTypeEddystoneURLKey, 1, 3));
  EXPECT_EQ(store.all().size(), 2u);
  EXPECT_EQ((*store.get(KSAdDataTypeEddystoneUIDKey))[KSAdDataMajorKey], Value(2));
  store.remove(KSAdDataTypeEddystoneUIDKey);
  EXPECT_FALSE(store.has(KSAdDataTypeEddystoneUIDKey));
  store.removeAll();
  EXPECT_TRUE(store.all().empty());
}

TEST(KSAdDataStore, FamiliesInTheirFixedOrder) {
  auto all = KSAdDataStore::allAdDataTypes();
  ASSERT_EQ(all.size(), 11u);
  EXPECT_EQ(all[0], KSAdDataTypeKestrineSecureKey);
  EXPECT_EQ(all[6], KSAdDataTypeAppleIBeaconKey);
  EXPECT_EQ(all[7], KSAdDataTypeKestrineIBeaconKey);
  EXPECT_EQ(all[8], KSAdDataTypeEddystoneTelKey);
  EXPECT_EQ(KSAdDataStore::eddystoneAdDataTypes().size(), 3u);
}

}  // namespace
}  // namespace velmora::kestrine
