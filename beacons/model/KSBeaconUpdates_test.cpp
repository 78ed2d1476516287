#include "beacons/model/KSBeaconUpdates.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "testing/BeaconFixtures.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

// A beacon heard over Bluetooth with a synced record and the given feature bits.
std::shared_ptr<KSBeacon> heardBeacon(std::uint32_t mask) {
  auto b = std::make_shared<KSBeacon>();
  b->setFirstDiscoveredAt(platform::Date::fromUnixSeconds(1));
  b->setSyncStatus(KSSyncStatusSynced);
  b->setFeatureBitmask(mask);
  return b;
}

void advertise(KSBeacon& b, std::string_view key, Value value) {
  b.setAdData(testsupport::adDataOfType(KSAdDataTypeKestrineIBeaconKey, {{key, std::move(value)}}),
              KSAdDataTypeKestrineIBeaconKey);
}

TEST(BeaconUpdateAvailability, FollowsDiscoverySyncAndFeatureBits) {
  struct Row {
    const char* name;
    bool discovered;
    std::int64_t sync;
    std::uint32_t mask;
    std::int64_t settings, firmware;
  };
  const Row rows[] = {
      {"not discovered, every bit", false, KSSyncStatusSynced, 0xFFFFFFFFu, 0, 0},
      {"not synced", true, 3, 0xFFFFFFFFu, 0, 0},
      {"bits 10 and 12", true, KSSyncStatusSynced, (1u << 10) | (1u << 12), 2, 1},
      {"bit 11 alone", true, KSSyncStatusSynced, 1u << 11, 2, 1},
      {"only bit 8", true, KSSyncStatusSynced, 1u << 8, 1, 1},
      {"bit 13", true, KSSyncStatusSynced, 1u << 13, 1, 2},
      {"bit 14", true, KSSyncStatusSynced, 1u << 14, 1, 2},
      {"bit 15", true, KSSyncStatusSynced, 1u << 15, 1, 2},
  };
  for (const auto& row : rows) {
    auto b = std::make_shared<KSBeacon>();
    if (row.discovered) b->setFirstDiscoveredAt(platform::Date::fromUnixSeconds(1));
    b->setSyncStatus(row.sync);
    b->setFeatureBitmask(row.mask);
    EXPECT_EQ(beacon_updates::settingsUpdateAvailabilityStatus(*b), row.settings) << row.name;
    EXPECT_EQ(beacon_updates::firmwareUpdateAvailabilityStatus(*b), row.firmware) << row.name;
  }
}

TEST(BeaconUpdateAvailability, CrowdSourcedSettingsFollowAdvertisedVersionOrPending) {
  auto b = heardBeacon(1u << 12);
  b->setVersion(Value(4));
  advertise(*b, KSAdDataSettingsVersionKey, Value(5));
  EXPECT_TRUE(beacon_updates::shouldUpdateSettingsCrowdSourced(*b, false));
  EXPECT_TRUE(beacon_updates::shouldUpdate(*b));
  b->setVersion(Value(5));
  EXPECT_FALSE(beacon_updates::shouldUpdateSettingsCrowdSourced(*b, false));
  b->setPendingVersion(Value(6));
  EXPECT_TRUE(beacon_updates::shouldUpdateSettingsCrowdSourced(*b, false));
}

TEST(BeaconUpdateAvailability, ShouldUpdateFirmwareStepByStep) {
  struct Row {
    const char* name;
    std::uint32_t mask;
    std::optional<std::string> latest, advertised, recorded;
    bool pending;
    bool expected;
  };
  constexpr std::uint32_t kFw = 1u << 14;
  const Row rows[] = {
      {"no firmware bit", 1u << 12, "A2", "a1", "", false, false},
      {"other firmware advertised", kFw, "A2", "a1", std::nullopt, false, true},
      {"latest advertised, record empty, nothing pending", kFw, "A2", "a2", "", false, true},
      {"latest advertised, record has no id, nothing pending", kFw, "A2", "a2", std::nullopt, false, true},
      {"latest advertised, record says latest", kFw, "A2", "a2", "a2", false, false},
      {"latest advertised, record lags, nothing pending", kFw, "A2", "a2", "A1", false, true},
      {"latest advertised, record lags, pending", kFw, "A2", "a2", "A1", true, false},
      {"latest advertised, record empty, pending", kFw, "A2", "a2", "", true, false},
      {"empty latest", kFw, "", "a1", "", false, false},
      {"no latest", kFw, std::nullopt, "a1", "", false, false},
      {"nothing advertised", kFw, "A2", std::nullopt, "", false, false},
      {"empty advertised", kFw, "A2", "", "", false, false},
  };
  for (const auto& row : rows) {
    auto b = heardBeacon(row.mask);
    b->setLatestFirmwareUID(row.latest);
    b->setFirmwareUID(row.recorded);
    if (row.advertised) advertise(*b, KSAdDataFirmwareUIDKey, Value(*row.advertised));
    if (row.pending) b->setPendingVersion(Value(9));
    EXPECT_EQ(beacon_updates::shouldUpdateFirmware(*b), row.expected) << row.name;
    // With no settings update possible, shouldUpdate is the firmware answer.
    EXPECT_EQ(beacon_updates::shouldUpdate(*b), row.expected) << row.name;
  }
}

TEST(BeaconUpdateAvailability, ShouldUpdatePrefersSettingsThenFirmware) {
  auto b = heardBeacon((1u << 12) | (1u << 14));
  b->setVersion(Value(5));
  advertise(*b, KSAdDataSettingsVersionKey, Value(5));
  EXPECT_FALSE(beacon_updates::shouldUpdate(*b));
  b->setLatestFirmwareUID("F2");
  b->setAdData(testsupport::adDataOfType(KSAdDataTypeKestrineIBeaconKey,
                                         {{KSAdDataSettingsVersionKey, Value(5)}, {KSAdDataFirmwareUIDKey, Value("f1")}}),
               KSAdDataTypeKestrineIBeaconKey);
  EXPECT_TRUE(beacon_updates::shouldUpdate(*b));
}

}  // namespace
}  // namespace velmora::kestrine
