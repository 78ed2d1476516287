#include "beacons/foundation/KSEnumUtilities.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace velmora::kestrine {
namespace {

using Table = std::map<std::int64_t, std::string_view>;

// Every listed value gives its text, and the values around the table the fallback.
void expectTable(std::string_view name, const std::function<std::string_view(std::int64_t)>& f, const Table& table,
                 std::string_view fallback, std::initializer_list<std::int64_t> outside) {
  for (const auto& [value, text] : table) EXPECT_EQ(f(value), text) << name << " " << value;
  for (std::int64_t value : outside) EXPECT_EQ(f(value), fallback) << name << " " << value;
}

TEST(KSEnumUtilitiesTest, EveryTableOverItsValuesAndBeyond) {
  using E = KSEnumUtilities;
  expectTable("proximity", [](auto v) { return E::stringForProximity(static_cast<std::uint64_t>(v), false); },
              {{1, "Immediate"}, {2, "Near"}, {3, "Far"}}, "Unknown", {0, 4, -1});
  expectTable("proximity abbreviated", [](auto v) { return E::stringForProximity(static_cast<std::uint64_t>(v), true); },
              {{1, "IMD"}, {2, "NEAR"}, {3, "FAR"}}, "UNK", {0, 4, -1});
  expectTable("site state", [](auto v) { return E::stringForSiteState(static_cast<std::uint64_t>(v)); },
              {{1, "Inside"}, {2, "Outside"}}, "Unknown", {0, 3, -1});
  expectTable("region state", [](auto v) { return E::stringForRegionState(v); }, {{1, "Inside"}, {2, "Outside"}},
              "Unknown", {0, 3, -1});
  expectTable("central state", [](auto v) { return E::stringForCentralManagerState(v); },
              {{1, "Resetting"}, {2, "Unsupported"}, {3, "Unauthorized"}, {4, "Powered Off"}, {5, "Powered On"}},
              "Unknown", {0, 6, -1});
  expectTable("api operation", [](auto v) { return E::stringForApiOperationType(static_cast<std::int32_t>(v)); },
              {{1, "SyncBeaconsInSiteWithSiteID"},
               {2, "SyncBeaconWithIdentifier"},
               {3, "SyncSitesNearbyLocation"},
               {4, "SyncSiteWithSiteID"},
               {5, "PostBeaconVisits"},
               {6, "SyncBeaconRegionsWithAppToken"},
               {7, "SyncBeaconsNearbyBeaconWithIdentifier"},
               {9, "SyncAllBeaconsForApp"},
               {10, "SyncAllSitesForApp"}},
              "Unknown", {0, 8, 11, -1});
  expectTable("identifier type", [](auto v) { return E::stringForBeaconIdentifierType(v); },
              {{1, "SerialNumber"}, {2, "BluetoothAddress"}, {3, "BeaconID"}, {4, "iBeaconKey"}, {5, "EddystoneUID"}},
              "Unknown", {0, 6, -1});
  expectTable("category type", [](auto v) { return E::stringForCategoryType(static_cast<std::uint64_t>(v)); },
              {{1, "Kestrine"}, {2, "Team"}}, "Unknown", {0, 3});
  expectTable("command state", [](auto v) { return E::stringForPeripheralCommandState(static_cast<std::int32_t>(v)); },
              {{1, "Ready"}, {2, "Executing"}, {3, "Finished"}}, "Unknown", {0, 4, -1});
  expectTable("operation state", [](auto v) { return E::stringForBeaconOperationState(static_cast<std::uint32_t>(v)); },
              {{0, "Unknown"}, {1, "Scheduled"}, {2, "Preparing"}, {3, "Connecting"}, {4, "Connected"},
               {5, "Disconnecting"}, {6, "Succeeded"}, {7, "Failed"}, {8, "Canceled"}, {9, "Waiting"}},
              "Not Defined", {10, 0xffffffff});
  expectTable("scan state", [](auto v) { return E::stringForScanState(v); },
              {{1, "Session Began in Foreground"},
               {2, "App in Foreground, Device Not in Site"},
               {3, "App in Foreground, Device in Site"},
               {4, "Session Began in Background"},
               {5, "App in Background, Device Not in Site"},
               {6, "App in Background, Device in Site"},
               {7, "Connected to Peripherals"}},
              "Disabled", {0, 8, -1});
  expectTable("reachability", [](auto v) { return E::stringForNetworkReachabilityStatus(v); },
              {{-1, "Unkonwn"}, {0, "Not Reachable"}, {1, "WWAN"}, {2, "WiFi"}}, "Unknown", {-2, 3});
  for (std::uint64_t type = 1; type <= 6; ++type) {
    EXPECT_NE(E::stringForKestrineAdDataType(type), "Unknown") << type;
    EXPECT_NE(E::stringForKestrineAdDataType(type), E::stringForKestrineAdDataType(type % 6 + 1)) << type;
  }
  EXPECT_EQ(E::stringForKestrineAdDataType(0), "Unknown");
  EXPECT_EQ(E::stringForKestrineAdDataType(7), "Unknown");
}

TEST(KSEnumUtilitiesTest, TablesWithoutAFallbackGiveNoText) {
  using E = KSEnumUtilities;
  const std::map<std::uint32_t, std::string_view> opcodes = {
      {0, "Erase Block 0"}, {1, "Erase Block 1"}, {2, "Erase Pointer"}, {3, "Go DFU"}, {4, "Power On"},
      {11, "Restart"}, {12, "Reset"}, {13, "Write Version Line 1"}, {14, "Write Version Line 2"},
      {15, "Write Version Line 3"}, {16, "Go Secure Mode"}, {17, "Go iBeacon Mode"}, {18, "Go iBeacon+Secure Mode"}};
  for (std::uint32_t op = 0; op <= 20; ++op) {
    const auto it = opcodes.find(op);
    EXPECT_EQ(E::stringForBeaconOpcode(op), it == opcodes.end() ? std::nullopt : std::optional(it->second)) << op;
  }
  EXPECT_EQ(E::stringForBeaconOpcode(0xffffffff), std::nullopt);
  const std::string_view sync[] = {"Not synced", "Unauthorized", "Synced", "Restored", "Expired"};
  for (int s = 0; s < 5; ++s) EXPECT_EQ(E::stringForSyncStatus(s), sync[s]);
  EXPECT_EQ(E::stringForSyncStatus(5), std::nullopt);
  EXPECT_EQ(E::stringForSyncStatus(-1), std::nullopt);
}

TEST(KSEnumUtilitiesTest, ProximityClampAndContainment) {
  using E = KSEnumUtilities;
  for (std::int64_t p : {1, 2, 3}) EXPECT_EQ(E::proximityForProximity(p), static_cast<std::uint64_t>(p));
  for (std::int64_t p : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{4}, INT64_MIN, INT64_MAX}) EXPECT_EQ(E::proximityForProximity(p), 0u) << p;
  // Rows: bound 0 to 4; columns: proximity 0 to 4.
  const bool inside[5][5] = {
      {true, true, true, true, true},
      {false, true, false, false, false},
      {false, true, true, false, false},
      {false, true, true, true, false},
      {false, false, false, false, false},
  };
  for (std::uint64_t bound = 0; bound < 5; ++bound) {
    for (std::uint64_t p = 0; p < 5; ++p) {
      EXPECT_EQ(E::isProximityInsideOfProximity(p, bound), inside[bound][p]) << p << " in " << bound;
    }
  }
}

}  // namespace
}  // namespace velmora::kestrine
