#include "beacons/model/KSBeacon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSModelClock.h"
#include "platform/core/Json.h"
#include "testing/FakeBeaconHub.h"
#include "testing/FakeLocalStorage.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Date;
using platform::Value;
using testing::FakeLocalStorage;
using testing::FakeStoredRow;

constexpr const char* kCloudBeacon = R"({
  "id": "b1", "name": "Level 2 entry", "serialNumber": "SN-0042", "modelNumber": "K1",
  "proximityUUID": "f7826da6-4fa2-4e98-8024-bc5b71e0893e", "major": 100, "minor": 7,
  "bluetoothAddress": "c4:7c:8d:6a:11:22", "version": 12, "pendingVersion": 13,
  "firmwareVersion": "4.1", "firmwareUID": "abc123", "upgradableOTA": true,
  "lastKnownBatteryLevel": 88, "privacyDuration": 0, "measuredPowerAt1Meter": -59,
  "featureBitmask": 98304, "siteID": "s9", "siteName": "North car park", "teamID": "t3",
  "wireframeUrl": "https://img.example/w.png",
  "beaconMode": {"id": 2, "name": "iBeacon"},
  "beaconLoudness": {"id": 4, "name": "Loud", "measuredPowerAt1Meter": -59},
  "targetSpeed": {"id": 3, "name": "Fast", "milliseconds": 100},
  "batteryStatus": {"id": 1, "name": "Good"},
  "beaconRegion": {"id": "r1", "name": "Car park", "regionIdentifier": "north", "major": 100},
  "eddystone": {"uid": "00112233445566778899aabbccddeeff", "url": "https://car.example"},
  "mapPoint": {"id": "m1", "mapID": "level2", "point": {"x": 12.5, "y": 3}},
  "networkAccess": {"maxSecondsBeforeRevalidation": 3600, "permittedRoles": []},
  "site": {"id": "s9", "name": "North car park"},
  "categories": [
    {"id": "c1", "name": "Entry", "customValues": [{"id": "v1", "key": "lane", "value": "in"}]},
    {"id": "c2", "name": "Exit", "customValues": [{"id": "v2", "key": "lane", "value": "out"}]}
  ],
  "customValues": [{"id": "v3", "key": "floor", "value": "2"}, {"id": "v4", "key": "floor", "value": "3"}],
  "rssi": -40, "accuracy": 0.5, "proximity": 1, "firstDiscoveredAt": 700000000, "latestAdData": {"x": 1},
  "measurementsByType": {}, "rawMeasurementData": "AAE=", "delegate": "x", "identifierDataString": "FF"
})";

class KSBeaconTest : public ::testing::Test {
 protected:
  void SetUp() override { KSModelClock::setClock(clock_); }
  void TearDown() override { KSModelClock::setClock(nullptr); }

  static std::shared_ptr<KSBeacon> import(const std::string& text) {
    platform::Error error;
    auto beacon = KSBeacon::initWithString(text, &error);
    EXPECT_TRUE(beacon) << error.localizedDescription;
    return beacon;
  }

  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(Date::fromReferenceSeconds(800'000'000));
};

Value adData(std::string_view type, double at, platform::Dict fields = {}) {
  fields[std::string(KSAdDataTypeKey)] = Value(type);
  fields[std::string(KSAdDataTimestampKey)] = Value(Date::fromReferenceSeconds(at));
  return Value(std::move(fields));
}

TEST_F(KSBeaconTest, ImportsACloudRecordWithItsNestedRecords) {
  auto b = import(kCloudBeacon);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->beaconID(), "b1");
  EXPECT_EQ(b->syncStatus(), KSSyncStatusSynced);
  EXPECT_EQ(b->syncedAt(), clock_->now());
  EXPECT_EQ(b->name(), "Level 2 entry");
  EXPECT_EQ(b->proximityUUIDString(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  EXPECT_EQ(b->iBeaconKey(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:100:7");
  EXPECT_EQ(b->bluetoothAddress(), "C4:7C:8D:6A:11:22");
  EXPECT_EQ(b->major(), Value(100));
  EXPECT_EQ(b->lastKnownBatteryLevel(), Value(88));
  EXPECT_EQ(b->wireframeURLString(), "https://img.example/w.png");
  EXPECT_TRUE(b->upgradableOTA());
  EXPECT_EQ(b->featureBitmask(), 98304u);
  ASSERT_TRUE(b->beaconMode() && b->beaconLoudness() && b->targetSpeed() && b->batteryStatus() && b->beaconRegion() &&
              b->eddystone() && b->mapPoint() && b->networkAccess() && b->site());
  EXPECT_EQ(b->beaconMode()->beaconModeID(), 2);
  EXPECT_EQ(b->beaconLoudness()->beaconLoudnessID(), 4);
  EXPECT_EQ(b->beaconLoudness()->measuredPowerAt1Meter(), -59);
  EXPECT_EQ(b->targetSpeed()->milliseconds(), 100);
  EXPECT_EQ(b->batteryStatus()->name(), "Good");
  EXPECT_EQ(b->beaconRegion()->beaconRegionID(), "r1");
  EXPECT_EQ(b->beaconRegion()->identifier(), "north");
  EXPECT_EQ(b->eddystone()->UIDString(), "00112233445566778899aabbccddeeff");
  EXPECT_EQ(b->eddystone()->URLString(), "https://car.example");
  EXPECT_EQ(b->mapPoint()->mapID(), "level2");
  ASSERT_TRUE(b->mapPoint()->point());
  EXPECT_EQ(b->networkAccess()->maxSecondsBeforeRevalidation(), 3600.0);
  EXPECT_EQ(b->site()->name(), "North car park");
  auto categories = b->categories();
  ASSERT_TRUE(categories);
  ASSERT_EQ(categories->size(), 2u);
  EXPECT_EQ((*categories)[1]->name(), "Exit");
  EXPECT_EQ((*categories)[1]->customValueForKey()->at("lane"), "out");
  EXPECT_EQ(b->customValueForKey(), (KSBeacon::CustomValueMap{{"floor", "3"}}));

  // Live state is never written from JSON.
  EXPECT_FALSE(b->rssi().isNumber());
  EXPECT_EQ(b->accuracy(), -1.0);
  EXPECT_EQ(b->proximity(), 0u);
  EXPECT_FALSE(b->firstDiscoveredAt());
  EXPECT_TRUE(b->latestAdData().empty());
  EXPECT_FALSE(b->rawMeasurementData());
  EXPECT_FALSE(b->delegate());
  EXPECT_FALSE(b->hasIdentifierData());
}

// A major or minor outside 16 bits is an import error, as for regions: wrapped, the cloud's
// {"major":70000,"minor":-1} would take the key ...:4464:65535 of another beacon.
TEST_F(KSBeaconTest, MajorAndMinorOutsideSixteenBitsFailTheImport) {
  const std::pair<const char*, bool> rows[] = {
      {R"({"major":70000,"minor":-1})", false}, {R"({"major":65536,"minor":1})", false},
      {R"({"major":1,"minor":-1})", false},      {R"({"major":1,"minor":65536})", false},
      {R"({"major":"70000","minor":1})", false}, {R"({"major":-0.5e10,"minor":1})", false},
      {R"({"major":1e26,"minor":1})", false},    {R"({"major":0,"minor":65535})", true},
      {R"({"major":"12","minor":7.0})", true},
  };
  for (const auto& [fields, imports] : rows) {
    std::string text = std::string(R"({"id":"b9","proximityUUID":"f7826da6-4fa2-4e98-8024-bc5b71e0893e",)") + (fields + 1);
    platform::Error error;
    auto beacon = KSBeacon::initWithString(text, &error);
    EXPECT_EQ(beacon != nullptr, imports) << fields;
    if (!imports) {
      EXPECT_EQ(error.domain, "KSJSONModelErrorDomain") << fields;
    }
  }
  auto edge = import(R"({"proximityUUID":"f7826da6-4fa2-4e98-8024-bc5b71e0893e","major":0,"minor":65535})");
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->iBeaconKey(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:0:65535");
}

TEST_F(KSBeaconTest, IdentifierMarksSyncedOnlyWhenNotEmpty) {
  auto empty = import(R"({"id": ""})");
  EXPECT_EQ(empty->syncStatus(), KSSyncStatusNotSynced);
  EXPECT_FALSE(empty->syncedAt());
  auto none = import(R"({"name": "n"})");
  EXPECT_EQ(none->syncStatus(), KSSyncStatusNotSynced);
}

TEST_F(KSBeaconTest, ExportsExactlyTheMappedKeysAndNoLiveState) {
  auto b = import(kCloudBeacon);
  b->setRssi(Value(-50));
  b->setAccuracy(1.5);
  b->setFirstDiscoveredAt(clock_->now());
  b->setAdData(adData(KSAdDataTypeKestrineIBeaconKey, 1, {{std::string(KSAdDataMajorKey), Value(5)}}),
               KSAdDataTypeKestrineIBeaconKey);
  auto out = b->toDictionary();
  std::set<std::string> keys;
  for (const auto& [k, v] : out) keys.insert(k);
  const std::set<std::string> expected{"name", "proximityUUID", "major", "minor", "beaconLoudness", "categories",
                                       "customValues", "mapPoint", "networkAccess", "targetSpeed", "beaconMode",
                                       "beaconRegion", "version", "serialNumber", "bluetoothAddress", "siteID",
                                       "teamID", "id", "privacyDuration", "measuredPowerAt1Meter", "eddystone",
                                       "featureBitmask", "wireframeUrl"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(out["id"], Value("b1"));
  EXPECT_EQ(out["major"], Value(5)) << "the advertised major, as its getter reads it";
  EXPECT_EQ(out["minor"], Value(7)) << "nothing advertised: the stored minor";
  EXPECT_EQ(out["beaconMode"], Value::makeDict({{"id", 2}}));
  EXPECT_EQ(out["beaconLoudness"], Value::makeDict({{"id", 4}}));
  EXPECT_EQ(out["mapPoint"]["mapID"], Value("level2"));
  EXPECT_EQ(out["eddystone"]["uid"], Value("00112233445566778899aabbccddeeff"));
  EXPECT_EQ(out["categories"][0]["name"], Value("Entry"));
}

// Every export reads through the getters: what the latest maker advertisement carries wins
// over the cloud's values, in the whitelisted export and in the export of all properties alike.
TEST_F(KSBeaconTest, ExportsTheAdvertisedIdentityFirmwareAndBattery) {
  auto b = import(kCloudBeacon);
  b->setFirmwareUID("cloud-fw");
  b->setLastKnownBatteryLevel(Value(90));
  b->setAdData(adData(KSAdDataTypeKestrineSecureKey, 2,
                      {{std::string(KSAdDataMajorKey), Value(11)},
                       {std::string(KSAdDataMinorKey), Value(12)},
                       {std::string(KSAdDataFirmwareUIDKey), Value("ad-fw")},
                       {std::string(KSAdDataBatteryLevelKey), Value(33)}}),
               KSAdDataTypeKestrineSecureKey);
  auto all = b->toDictionaryWithKeys(std::nullopt);
  EXPECT_EQ(all["major"], Value(11));
  EXPECT_EQ(all["minor"], Value(12));
  EXPECT_EQ(all["firmwareUID"], Value("ad-fw"));
  EXPECT_EQ(all["lastKnownBatteryLevel"], Value(33));
  auto whitelisted = b->toDictionary();
  EXPECT_EQ(whitelisted["major"], Value(11));
  EXPECT_EQ(whitelisted["minor"], Value(12));
  // The stored identity is untouched: the cache key is still the cloud's.
  EXPECT_EQ(b->iBeaconKey(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:100:7");
}

TEST_F(KSBeaconTest, SetterRules) {
  auto b = std::make_shared<KSBeacon>();
  EXPECT_EQ(b->accuracy(), -1.0);
  EXPECT_EQ(b->syncStatus(), 0);
  b->setProximityUUIDString("f7826da6-4fa2-4e98-8024-bc5b71e0893e");
  EXPECT_EQ(b->proximityUUIDString(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  EXPECT_FALSE(b->iBeaconKey());
  b->setMajor(Value(1));
  EXPECT_FALSE(b->iBeaconKey());
  b->setMinor(Value(2));
  EXPECT_EQ(b->iBeaconKey(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:1:2");
  // A number beyond every integer (a cloud reply's 1e26) or not finite makes no key.
  // Nor does one outside 16 bits set in code: no wrap onto another beacon's key.
  for (double far : {1e26, -1e26, std::numeric_limits<double>::infinity(), std::nan(""), 65536.0, -1.0}) {
    b->setMinor(Value(far));
    EXPECT_FALSE(b->iBeaconKey()) << far;
  }
  for (const Value& far : {Value(std::int64_t{-1}), Value(std::int64_t{70000}), Value(std::uint64_t{1} << 63)}) {
    b->setMinor(far);
    EXPECT_FALSE(b->iBeaconKey());
  }
  b->setMinor(Value(2));
  b->setBluetoothAddress("ab:cd");
  EXPECT_EQ(b->bluetoothAddress(), "AB:CD");

  // An advertised major wins over the stored one; the key keeps the stored value.
  b->setAdData(adData(KSAdDataTypeKestrineSecureKey, 5, {{std::string(KSAdDataMajorKey), Value(9)}}),
               KSAdDataTypeKestrineSecureKey);
  b->setMajor(Value(3));
  EXPECT_EQ(b->major(), Value(9));
  EXPECT_EQ(b->iBeaconKey(), "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:3:2");

  b->setCustomValues(std::vector<std::shared_ptr<KSCustomValue>>{});
  EXPECT_FALSE(b->customValueForKey());
  b->setIdentifierDataStringWithData(Bytes{0x0a, 0xff});
  EXPECT_EQ(b->identifierDataString(), "0AFF");
  b->setIdentifierDataStringWithData(Bytes{});
  EXPECT_EQ(b->identifierDataString(), "");
  EXPECT_TRUE(b->hasIdentifierData());
}

TEST_F(KSBeaconTest, FeatureBitsAnswerOneQueryEach) {
  using Query = bool (KSBeacon::*)() const;
  const std::vector<std::pair<int, Query>> table = {
      {7, &KSBeacon::supportsTargetSpeedChange},
      {10, &KSBeacon::supportsLegacyBLESettingsUpdate},
      {11, &KSBeacon::supportsUnencryptedBLESettingsUpdate},
      {12, &KSBeacon::supportsAES128CMACBLESettingsUpdate},
      {13, &KSBeacon::supportsLegacyBLEFirmwareUpdate},
      {14, &KSBeacon::supportsUnencryptedBLEFirmwareUpdate},
      {15, &KSBeacon::supportsAES128CMACBLEFirmwareUpdate},
      {16, &KSBeacon::supportsTwoWayDataTransfer},
      {18, &KSBeacon::supportsTemperatureData},
  };
  KSBeacon b;
  for (const auto& [bit, _] : table) {
    b.setFeatureBitmask(1u << bit);
    for (const auto& [other, query] : table) EXPECT_EQ((b.*query)(), other == bit) << bit << " asks " << other;
  }
}

TEST_F(KSBeaconTest, AdvertisementKindTests) {
  struct Case {
    std::string_view type;
    bool iBeacon, eddystone, kestrine, measurement;
  };
  const std::vector<Case> cases = {
      {KSAdDataTypeAppleIBeaconKey, true, false, false, false},
      {KSAdDataTypeKestrineIBeaconKey, true, false, true, false},
      {KSAdDataTypeEddystoneTelKey, false, false, false, true},
      {KSAdDataTypeEddystoneUIDKey, false, true, false, false},
      {KSAdDataTypeKestrineBlockDataKey, false, false, true, false},
      {KSAdDataTypeKestrineMeasurementKey, false, false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    KSBeacon b;
    b.setAdData(adData(c.type, 1), c.type);
    EXPECT_EQ(b.isIBeacon(), c.iBeacon);
    EXPECT_EQ(b.isEddystone(), c.eddystone);
    EXPECT_EQ(b.isKestrine(), c.kestrine);
    EXPECT_EQ(b.supportsMeasurement(), c.measurement);
  }
}

TEST_F(KSBeaconTest, CopyFollowsItsRules) {
  auto b = import(kCloudBeacon);
  b->setSyncStatus(KSSyncStatusRestored);
  b->setCacheIdentifier("cache-1");
  b->setIdentifierDataStringWithData(Bytes{1});
  b->setAdData(adData(KSAdDataTypeKestrineSecureKey, 5, {{std::string(KSAdDataBatteryLevelKey), Value(41)}}),
               KSAdDataTypeKestrineSecureKey);
  b->setAdData(adData(KSAdDataTypeKestrineBlockDataKey, 6,
                      {{std::string(KSBlockDataIdentifierKey), Value(1)}, {std::string(KSBlockDataIndexKey), Value(0)},
                       {std::string(KSBlockDataCountKey), Value(2)}, {std::string(KSBlockDataDataKey), Value(Bytes{1})}}),
               KSAdDataTypeKestrineBlockDataKey);
  b->setAdData(adData(KSAdDataTypeKestrineMeasurementKey, 4,
                      {{std::string(KSAdDataMeasurementDataKey), Value(Bytes{0x00, 0x19, 0x00})}}),
               KSAdDataTypeKestrineMeasurementKey);
  ASSERT_TRUE(b->partialBlockData());

  clock_->advance(60.0);
  auto c = b->copy();
  EXPECT_EQ(c->syncStatus(), KSSyncStatusRestored) << "status 3 survives the identifier's side effect";
  EXPECT_EQ(c->syncedAt(), b->syncedAt());
  EXPECT_EQ(c->cacheIdentifier(), "cache-1");
  EXPECT_EQ(c->lastKnownBatteryLevel(), Value(41));
  c->removeAllAdData();
  EXPECT_EQ(c->lastKnownBatteryLevel(), Value(41)) << "the advertised level became the stored one";
  EXPECT_FALSE(c->identifierDataString());
  EXPECT_FALSE(c->partialBlockData());
  EXPECT_TRUE(c->availableMeasurementTypes().empty());
  EXPECT_EQ(c->rawMeasurementData(), b->rawMeasurementData());
  EXPECT_EQ(b->latestAdData().size(), 3u);
  // Category records are copies, not the same objects.
  EXPECT_NE((*c->categories())[0], (*b->categories())[0]);
  EXPECT_EQ((*c->categories())[0]->name(), "Entry");

  auto bare = std::make_shared<KSBeacon>()->copy();
  ASSERT_TRUE(bare->categories());
  EXPECT_TRUE(bare->categories()->empty());
}

// What a copy is, written with the public setters one field at a time: the direct copy must
// give the same record, field for field, live state included.
std::shared_ptr<KSBeacon> setterCopy(const KSBeacon& b) {
  auto c = std::make_shared<KSBeacon>();
  c->setBeaconID(b.beaconID());
  c->setCacheIdentifier(b.cacheIdentifier());
  c->setName(b.name());
  c->setPrivacyDuration(b.privacyDuration());
  c->setTeamID(b.teamID());
  c->setSiteID(b.siteID());
  c->setSiteName(b.siteName());
  c->setSite(b.site());
  c->setCreatedAt(b.createdAt());
  c->setModifiedAt(b.modifiedAt());
  std::vector<std::shared_ptr<KSCategory>> categories;
  for (const auto& cat : b.categories().value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
    categories.push_back(cat ? cat->copy() : nullptr);  // a category's own copy keeps its type id
  }
  c->setCategories(categories);
  std::vector<std::shared_ptr<KSCustomValue>> values;
  for (const auto& v : b.customValues().value_or(std::vector<std::shared_ptr<KSCustomValue>>{})) {
    values.push_back(v ? std::static_pointer_cast<KSCustomValue>(v->copyModel()) : nullptr);
  }
  c->setCustomValues(values);
  c->setBluetoothAddress(b.bluetoothAddress());
  c->setBatteryStatus(b.batteryStatus());
  c->setBeaconLoudness(b.beaconLoudness());
  c->setTargetSpeed(b.targetSpeed());
  c->setBeaconMode(b.beaconMode());
  c->setBeaconRegion(b.beaconRegion());
  c->setMapPoint(b.mapPoint());
  c->setNetworkAccess(b.networkAccess());
  c->setPeripheralIdentifier(b.peripheralIdentifier());
  c->setFirstDiscoveredAt(b.firstDiscoveredAt());
  c->setLastDiscoveredAt(b.lastDiscoveredAt());
  c->setLatestAdData(b.latestAdData());
  c->setReassembledBlockData(b.reassembledBlockData());
  c->setProximityUUIDString(b.proximityUUIDString());
  c->setMajor(b.major());
  c->setMinor(b.minor());
  c->setAccuracy(b.accuracy());
  c->setRssi(b.rssi());
  c->setProximity(b.proximity());
  c->setCachedAt(b.cachedAt());
  c->setSyncedAt(b.syncedAt());
  c->setSyncStatus(b.syncStatus());
  c->setVersion(b.version());
  c->setPendingVersion(b.pendingVersion());
  c->setMeasuredPowerAt1Meter(b.measuredPowerAt1Meter());
  c->setLastRangedAt(b.lastRangedAt());
  c->setFirstRangedAt(b.firstRangedAt());
  c->setFirmwareVersion(b.firmwareVersion());
  c->setFirmwareUID(b.firmwareUID());
  c->setLatestFirmwareVersion(b.latestFirmwareVersion());
  c->setLatestFirmwareUID(b.latestFirmwareUID());
  c->setModelNumber(b.modelNumber());
  c->setSerialNumber(b.serialNumber());
  c->setUpgradableOTA(b.upgradableOTA());
  c->setLastKnownBatteryLevel(b.lastKnownBatteryLevel());
  c->setEddystone(b.eddystone());
  c->setFeatureBitmask(b.featureBitmask());
  c->setWireframeURLString(b.wireframeURLString());
  c->setRawMeasurementData(b.rawMeasurementData());
  return c;
}

void expectSameRecord(const KSBeacon& a, const KSBeacon& b) {
  EXPECT_EQ(platform::json::write(Value(a.toDictionary())), platform::json::write(Value(b.toDictionary())));
  EXPECT_EQ(a.iBeaconKey(), b.iBeaconKey());
  EXPECT_EQ(a.major(), b.major());
  EXPECT_EQ(a.minor(), b.minor());
  EXPECT_EQ(a.firmwareUID(), b.firmwareUID());
  EXPECT_EQ(a.storedFirmwareUID(), b.storedFirmwareUID());
  EXPECT_EQ(a.lastKnownBatteryLevel(), b.lastKnownBatteryLevel());
  EXPECT_EQ(a.syncStatus(), b.syncStatus());
  EXPECT_EQ(a.syncedAt(), b.syncedAt());
  EXPECT_EQ(a.cacheIdentifier(), b.cacheIdentifier());
  EXPECT_EQ(a.customValueForKey(), b.customValueForKey());
  EXPECT_EQ(a.rssi(), b.rssi());
  EXPECT_EQ(a.accuracy(), b.accuracy());
  EXPECT_EQ(a.proximity(), b.proximity());
  EXPECT_EQ(a.firstDiscoveredAt(), b.firstDiscoveredAt());
  EXPECT_EQ(a.lastDiscoveredAt(), b.lastDiscoveredAt());
  EXPECT_EQ(a.firstRangedAt(), b.firstRangedAt());
  EXPECT_EQ(a.lastRangedAt(), b.lastRangedAt());
  EXPECT_EQ(a.peripheralIdentifier(), b.peripheralIdentifier());
  EXPECT_EQ(a.identifierDataString(), b.identifierDataString());
  EXPECT_EQ(a.rawMeasurementData(), b.rawMeasurementData());
  EXPECT_EQ(a.partialBlockData().has_value(), b.partialBlockData().has_value());
  EXPECT_EQ(a.availableMeasurementTypes(), b.availableMeasurementTypes());
  EXPECT_EQ(a.latestAdData().size(), b.latestAdData().size());
  for (const auto& [key, ad] : a.latestAdData()) {
    auto other = b.adDataForAdDataTypeKey(key);
    ASSERT_TRUE(ad && other) << key;
    EXPECT_EQ(*ad, *other) << key;
  }
  const auto blocksA = a.reassembledBlockData(), blocksB = b.reassembledBlockData();
  ASSERT_EQ(blocksA.size(), blocksB.size());
  for (std::size_t i = 0; i < blocksA.size(); ++i) EXPECT_EQ(*blocksA[i], *blocksB[i]) << i;
  const auto catsA = a.categories(), catsB = b.categories();
  ASSERT_EQ(catsA.has_value(), catsB.has_value());
  if (catsA) {
    ASSERT_EQ(catsA->size(), catsB->size());
    for (std::size_t i = 0; i < catsA->size(); ++i) {
      EXPECT_EQ(platform::json::write(Value((*catsA)[i]->toDictionary())),
                platform::json::write(Value((*catsB)[i]->toDictionary())))
          << i;
    }
  }
}

TEST_F(KSBeaconTest, CopyIsTheSetterCopy) {
  auto bare = std::make_shared<KSBeacon>();
  auto cloud = import(kCloudBeacon);
  auto live = import(kCloudBeacon);
  live->setSyncStatus(KSSyncStatusRestored);
  live->setCacheIdentifier("cache-1");
  live->setBluetoothAddress("aa:bb");
  live->setRssi(Value(-71));
  live->setAccuracy(3.25);
  live->setProximity(2);
  live->setFirstRangedAt(platform::Date::fromUnixSeconds(1'700'000'000));
  live->setLastRangedAt(platform::Date::fromUnixSeconds(1'700'000'060));
  live->setRawMeasurementData(Bytes{7, 8});
  live->setAdData(adData(KSAdDataTypeKestrineSecureKey, 5,
                         {{std::string(KSAdDataBatteryLevelKey), Value(41)}, {std::string(KSAdDataMajorKey), Value(9)}}),
                  KSAdDataTypeKestrineSecureKey);
  live->setAdData(adData(KSAdDataTypeKestrineBlockDataKey, 6,
                         {{std::string(KSBlockDataIdentifierKey), Value(1)}, {std::string(KSBlockDataIndexKey), Value(0)},
                          {std::string(KSBlockDataCountKey), Value(1)}, {std::string(KSBlockDataDataKey), Value(Bytes{1})}}),
                  KSAdDataTypeKestrineBlockDataKey);
  for (const auto& b : {bare, cloud, live}) {
    clock_->advance(60.0);  // the identifier's side effect would stamp a new sync date
    auto direct = b->copy();
    expectSameRecord(*direct, *setterCopy(*b));
  }
  EXPECT_FALSE(live->reassembledBlockData().empty()) << "the fixture carries reassembled block data";
}

class RecordingDelegate : public KSBeaconDelegate {
 public:
  Taken beaconDidUpdateMeasurements(const std::shared_ptr<KSBeacon>& beacon,
                                    const std::vector<std::shared_ptr<KSMeasurement>>& measurements) override {
    // The beacon is not locked while we run: reading it from here must not deadlock.
    lastMajor = beacon->major();
    calls.push_back(measurements);
    return std::monostate{};
  }
  Value lastMajor;
  std::vector<std::vector<std::shared_ptr<KSMeasurement>>> calls;
};

class SilentDelegate : public KSBeaconDelegate {};

TEST_F(KSBeaconTest, MeasurementsReachTheDelegateWhenTheyChange) {
  auto b = std::make_shared<KSBeacon>();
  auto delegate = std::make_shared<RecordingDelegate>();
  b->setDelegate(delegate);
  auto frame = [&](Bytes payload) {
    b->setAdData(adData(KSAdDataTypeKestrineMeasurementKey, 1, {{std::string(KSAdDataMeasurementDataKey), Value(payload)}}),
                 KSAdDataTypeKestrineMeasurementKey);
  };
  frame({0x00, 0x19, 0x00});
  frame({0x00, 0x19, 0x00});
  frame({0x00, 0x1A, 0x00});
  ASSERT_EQ(delegate->calls.size(), 2u);
  EXPECT_DOUBLE_EQ(delegate->calls[1][0]->values()[0], 26.0);
  EXPECT_EQ(b->rawMeasurementData(), (Bytes{0x00, 0x1A, 0x00}));
  auto history = b->measurementsOfType(0);
  ASSERT_TRUE(history);
  EXPECT_EQ(history->size(), 3u);
  EXPECT_DOUBLE_EQ(history->front()->values()[0], 26.0);

  // A delegate without the callback is not called, and the news stays pending for one that has it.
  auto quiet = std::make_shared<KSBeacon>();
  quiet->setDelegate(std::make_shared<SilentDelegate>());
  quiet->setAdData(adData(KSAdDataTypeKestrineMeasurementKey, 1, {{std::string(KSAdDataMeasurementDataKey), Value(Bytes{0x00, 1, 0})}}),
                   KSAdDataTypeKestrineMeasurementKey);
  auto late = std::make_shared<RecordingDelegate>();
  quiet->setDelegate(late);
  quiet->setAdData(adData(KSAdDataTypeKestrineMeasurementKey, 2, {{std::string(KSAdDataMeasurementDataKey), Value(Bytes{0x00, 1, 0})}}),
                   KSAdDataTypeKestrineMeasurementKey);
  EXPECT_EQ(late->calls.size(), 1u);
}

// A delegate held through the protocol type hears what its class overrides and takes the news.
TEST_F(KSBeaconTest, ADelegateSetThroughItsProtocolTypeHearsMeasurements) {
  auto b = std::make_shared<KSBeacon>();
  auto delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<KSBeaconDelegate> asProtocol = delegate;
  b->setDelegate(asProtocol);
  for (std::uint8_t value : {0x19, 0x19, 0x1A}) {
    b->setAdData(adData(KSAdDataTypeKestrineMeasurementKey, 1,
                        {{std::string(KSAdDataMeasurementDataKey), Value(Bytes{0x00, value, 0x00})}}),
                 KSAdDataTypeKestrineMeasurementKey);
  }
  EXPECT_EQ(delegate->calls.size(), 2u) << "the unchanged frame was taken already";
}

TEST_F(KSBeaconTest, TelemetryFrameGivesTemperatureVoltageAndUptime) {
  auto b = std::make_shared<KSBeacon>();
  auto delegate = std::make_shared<RecordingDelegate>();
  b->setDelegate(delegate);
  b->setAdData(adData(KSAdDataTypeEddystoneTelKey, 1,
                      {{std::string(KSAdDataTempDataKey), Value(Bytes{0xFF, 0x80})},
                       {std::string(KSAdDataBatteryVoltageDataKey), Value(Bytes{0x0B, 0xB8})},
                       {std::string(KSAdDataUptimeDataKey), Value(Bytes{0x00, 0x00, 0x03, 0xE8})}}),
               KSAdDataTypeEddystoneTelKey);
  ASSERT_EQ(delegate->calls.size(), 1u);
  const auto& m = delegate->calls[0];
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0]->measurementType(), 0);
  EXPECT_DOUBLE_EQ(m[0]->values()[0], -0.5);
  EXPECT_DOUBLE_EQ(m[1]->values()[0], 3.0);
  EXPECT_DOUBLE_EQ(m[2]->values()[0], 100.0);
  EXPECT_FALSE(b->rawMeasurementData());
  EXPECT_TRUE(b->hasDiscoveredEddystoneTelemetryFrame());
  EXPECT_FALSE(b->isEddystone());
}

TEST_F(KSBeaconTest, AverageAdsPerMinute) {
  KSBeacon b;
  EXPECT_EQ(b.averageAdsPerMinuteForAdDataType(KSAdDataTypeAppleIBeaconKey), 0.0);
  auto now = clock_->now();
  auto seen = [&](double minutesAgo, int count) {
    b.setAdData(Value(platform::Dict{{std::string(KSAdDataTypeKey), Value(KSAdDataTypeAppleIBeaconKey)},
                                     {std::string(KSAdDataFirstDiscoveredAtKey), Value(now.addingTimeInterval(-60 * minutesAgo))},
                                     {std::string(KSAdDataDiscoveredCountKey), Value(count)}}),
                KSAdDataTypeAppleIBeaconKey);
  };
  seen(2, 30);
  EXPECT_DOUBLE_EQ(b.averageAdsPerMinuteForAdDataType(KSAdDataTypeAppleIBeaconKey), 15.0);
  seen(0, 30);
  EXPECT_EQ(b.averageAdsPerMinuteForAdDataType(KSAdDataTypeAppleIBeaconKey), 0.0);
}

// --- the store and hub ports -----------------------------------------------------------------

class KSBeaconStoreTest : public KSBeaconTest {
 protected:
  void SetUp() override {
    KSBeaconTest::SetUp();
    for (auto [serial, status] : std::vector<std::pair<const char*, int>>{{"A", 2}, {"B", 1}, {"C", 0}, {"D", 2}}) {
      store_->rows["KSBeacon"].push_back(
          std::make_shared<FakeStoredRow>("KSBeacon", platform::Dict{{"serialNumber", serial}, {"syncStatus", Value(status)}}));
    }
    store_->rows["KSBeacon"].push_back(
        std::make_shared<FakeStoredRow>("KSBeacon", platform::Dict{{"syncStatus", Value(2)}}));  // does not convert
    KSLocalStoragePort::setShared(store_);
  }
  void TearDown() override {
    KSLocalStoragePort::setShared(nullptr);
    KSBeaconTest::TearDown();
  }
  std::vector<std::string> fetchSerials(const std::optional<KSStorePredicate>& predicate) {
    std::vector<std::string> serials;
    KSBeacon::storedBeaconsWithPredicate(predicate, std::vector<KSSortDescriptor>{{"serialNumber", false}},
                                         [&](std::vector<std::shared_ptr<KSBeacon>> beacons) {
                                           for (const auto& b : beacons) serials.push_back(*b->serialNumber());
                                         });
    return serials;
  }
  std::shared_ptr<FakeLocalStorage> store_ = std::make_shared<FakeLocalStorage>();
};

TEST_F(KSBeaconStoreTest, QueriesNeverReturnUnauthorisedBeacons) {
  EXPECT_EQ(fetchSerials(std::nullopt), (std::vector<std::string>{"A", "C", "D"}));
  KSStorePredicate synced{{{"syncStatus", KSStoreCondition::Op::Equal, Value(std::int64_t{2})}}};
  EXPECT_EQ(fetchSerials(synced), (std::vector<std::string>{"A", "D"}));
  EXPECT_EQ(store_->entities.front(), "KSBeacon");
  EXPECT_EQ(store_->sorts.front()->front().key, "serialNumber");
  EXPECT_EQ(store_->predicates[1]->conditions.size(), 2u);

  std::optional<std::uint64_t> count;
  KSBeacon::numberOfBeaconsWithPredicate(std::nullopt, [&](std::uint64_t n) { count = n; });
  EXPECT_EQ(count, 4u) << "counts rows, authorised ones only";
}

TEST_F(KSBeaconStoreTest, StoreFailuresReachOnlyTheGivenHandlers) {
  store_->error = platform::Error{"com.kestrine.KSLocalStorageManager", -1, "Unable to fetch entities from local storage", {}};
  bool succeeded = false;
  std::optional<platform::Error> failed;
  KSBeacon::storedBeaconsWithPredicate(std::nullopt, std::nullopt, [&](auto) { succeeded = true; },
                                       [&](platform::Error e) { failed = e; });
  EXPECT_FALSE(succeeded);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code, -1);
  KSBeacon::storedBeaconsWithPredicate(std::nullopt, std::nullopt, [&](auto) { succeeded = true; });  // no failure handler
  KSBeacon::numberOfBeaconsWithPredicate(std::nullopt, {}, {});
  EXPECT_FALSE(succeeded);
}

class FakeHub : public testing::FakeBeaconHub {
 public:
  void sendDataRequest(const Bytes& r, const std::shared_ptr<KSBeacon>& b, std::uint64_t e, Success s, Status st,
                       Failure f) override {
    record("sendDataRequest", b, e);
    requests = {r};
    st(Value("status"));
    s(Value("reply"));
    (void)f;
  }
  void sendDataRequests(const std::vector<Bytes>& r, const std::shared_ptr<KSBeacon>& b, std::uint64_t e, Success s,
                        Status, Failure) override {
    record("sendDataRequests", b, e);
    requests = r;
    s(Value("ignored"));
  }
  void transportDataRequest(const Bytes& r, const std::shared_ptr<KSBeacon>& b, std::uint64_t e, Success, Status,
                            Failure f) override {
    record("transportDataRequest", b, e);
    requests = {r};
    f(platform::Error{"hub", 7, "refused", {}});
  }
  void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& b, const platform::Dict& settings, Success s, Status,
                              Failure) override {
    record("updateSettingsInBeacon", b, 0);
    lastSettings = settings;
    s(Value());
  }
  void sendOpcode(std::int32_t opcode, const std::optional<Bytes>& data, const std::shared_ptr<KSBeacon>& b, Success s,
                  Failure) override {
    record("sendOpcode", b, static_cast<std::uint64_t>(opcode));
    opcodeData = data;
    s(Value(opcode));
  }
  void record(const char* call, const std::shared_ptr<KSBeacon>& b, std::uint64_t arg) {
    calls.push_back(call);
    beacons.push_back(b);
    args.push_back(arg);
  }
  std::vector<std::string> calls;
  std::vector<std::shared_ptr<KSBeacon>> beacons;
  std::vector<std::uint64_t> args;
  std::vector<Bytes> requests;
  platform::Dict lastSettings;
  std::optional<Bytes> opcodeData;
  std::shared_ptr<KSBeacon> cached;
  std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& id) override {
    return cached && cached->cacheIdentifier() == id ? cached : nullptr;
  }
};

TEST_F(KSBeaconTest, RediscoveringForgetsThePeripheralOnTheCachedRecordToo) {
  auto hub = std::make_shared<FakeHub>();
  KSBeaconHubPort::setShared(hub);
  auto heard = [](KSBeacon& b) {
    b.setCacheIdentifier("c-1");
    b.setPeripheralIdentifier(platform::Uuid::random());
    b.setFirstDiscoveredAt(Date::fromUnixSeconds(1));
    b.setLastDiscoveredAt(Date::fromUnixSeconds(2));
    b.setAdData(adData(KSAdDataTypeAppleIBeaconKey, 1), KSAdDataTypeAppleIBeaconKey);
  };
  hub->cached = std::make_shared<KSBeacon>();
  heard(*hub->cached);
  auto copy = std::make_shared<KSBeacon>();
  heard(*copy);
  copy->needsToRediscoverPeripheral();
  for (const auto& b : {copy, hub->cached}) {
    EXPECT_FALSE(b->peripheralIdentifier());
    EXPECT_FALSE(b->firstDiscoveredAt());
    EXPECT_FALSE(b->lastDiscoveredAt());
    EXPECT_FALSE(b->isIBeacon());
    EXPECT_EQ(b->cacheIdentifier(), "c-1");
  }
  KSBeaconHubPort::setShared(nullptr);
}

TEST_F(KSBeaconTest, BluetoothRequestsGoToTheHubWithThisBeacon) {
  auto hub = std::make_shared<FakeHub>();
  KSBeaconHubPort::setShared(hub);
  auto b = std::make_shared<KSBeacon>();
  std::vector<std::string> seen;
  auto ok = [&](Value v) { seen.push_back(v.string() ? *v.string() : "<" + std::string(Value::kindName(v.kind())) + ">"); };
  auto fail = [&](platform::Error e) { seen.push_back("error " + std::to_string(e.code)); };

  b->sendDataRequest(Bytes{1}, 0, ok, ok, fail);
  b->sendDataRequests({Bytes{1}, Bytes{2}}, 0,
                      [&](std::vector<Bytes> sent) { seen.push_back("sent " + std::to_string(sent.size())); }, ok, fail);
  b->transportDataRequest(Bytes{3}, 0, ok, ok, fail);
  b->updateSettingsOffPlatformWithSettings({{"name", "x"}}, ok, ok, fail);
  b->sendOpcode(0x42, ok, fail);
  b->sendOpcode(0x43, Bytes{9}, ok, fail);

  EXPECT_EQ(hub->calls, (std::vector<std::string>{"sendDataRequest", "sendDataRequests", "transportDataRequest",
                                                  "updateSettingsInBeacon", "sendOpcode", "sendOpcode"}));
  for (const auto& passed : hub->beacons) EXPECT_EQ(passed, b);
  EXPECT_EQ(hub->args[5], 0x43u);
  EXPECT_EQ(hub->opcodeData, Bytes{9});
  EXPECT_EQ(hub->lastSettings.at("name"), Value("x"));
  EXPECT_EQ(seen, (std::vector<std::string>{"status", "reply", "sent 2", "error 7", "<absent>", "<int>", "<int>"}));

  KSBeaconHubPort::setShared(nullptr);
  std::optional<platform::Error> noHub;
  b->sendOpcode(1, ok, [&](platform::Error e) { noHub = e; });
  EXPECT_TRUE(noHub);
}

}  // namespace
}  // namespace velmora::kestrine
