#include "beacons/foundation/KSEnumUtilities.h"

#include <array>

namespace velmora::kestrine {

namespace {

// The text at index value of a table starting at `first`, or the fallback.
template <std::size_t N>
std::string_view lookup(const std::array<std::string_view, N>& table, std::int64_t first, std::int64_t value,
                        std::string_view fallback) {
  const std::int64_t i = value - first;
  if (i < 0 || i >= static_cast<std::int64_t>(N) || table[static_cast<std::size_t>(i)].empty()) return fallback;
  return table[static_cast<std::size_t>(i)];
}

// Unsigned values above the signed range are out of every table.
std::int64_t asSigned(std::uint64_t v) { return v > INT64_MAX ? -1 : static_cast<std::int64_t>(v); }

}  // namespace

std::string_view KSEnumUtilities::stringForProximity(std::uint64_t proximity, bool abbreviated) {
  static constexpr std::array<std::string_view, 3> kFull = {"Immediate", "Near", "Far"};
  static constexpr std::array<std::string_view, 3> kShort = {"IMD", "NEAR", "FAR"};
  return abbreviated ? lookup(kShort, 1, asSigned(proximity), "UNK") : lookup(kFull, 1, asSigned(proximity), "Unknown");
}

std::string_view KSEnumUtilities::stringForSiteState(std::uint64_t state) { return stringForRegionState(asSigned(state)); }

std::string_view KSEnumUtilities::stringForRegionState(std::int64_t state) {
  static constexpr std::array<std::string_view, 2> kTable = {"Inside", "Outside"};
  return lookup(kTable, 1, state, "Unknown");
}

std::string_view KSEnumUtilities::stringForCentralManagerState(std::int64_t state) {
  static constexpr std::array<std::string_view, 5> kTable = {"Resetting", "Unsupported", "Unauthorized", "Powered Off",
                                                             "Powered On"};
  return lookup(kTable, 1, state, "Unknown");
}

std::string_view KSEnumUtilities::stringForKestrineAdDataType(std::uint64_t type) {
  static constexpr std::array<std::string_view, 6> kTable = {"IBeacon 1",   "Secure 1",    "Secure 2",
                                                             "BlockData 1", "BlockData 2", "NewBorn 1"};
  return lookup(kTable, 1, asSigned(type), "Unknown");
}

std::optional<std::string_view> KSEnumUtilities::stringForBeaconOpcode(std::uint32_t opcode) {
  static constexpr std::array<std::string_view, 19> kTable = {
      "Erase Block 0", "Erase Block 1", "Erase Pointer", "Go DFU", "Power On", "", "", "", "", "", "",
      "Restart", "Reset", "Write Version Line 1", "Write Version Line 2", "Write Version Line 3",
      "Go Secure Mode", "Go iBeacon Mode", "Go iBeacon+Secure Mode"};
  const std::string_view text = lookup(kTable, 0, opcode, "");
  if (text.empty()) return std::nullopt;
  return text;
}

std::string_view KSEnumUtilities::stringForApiOperationType(std::int32_t type) {
  static constexpr std::array<std::string_view, 10> kTable = {
      "SyncBeaconsInSiteWithSiteID", "SyncBeaconWithIdentifier", "SyncSitesNearbyLocation", "SyncSiteWithSiteID",
      "PostBeaconVisits", "SyncBeaconRegionsWithAppToken", "SyncBeaconsNearbyBeaconWithIdentifier", "",
      "SyncAllBeaconsForApp", "SyncAllSitesForApp"};
  return lookup(kTable, 1, type, "Unknown");
}

std::string_view KSEnumUtilities::stringForBeaconIdentifierType(std::int64_t type) {
  static constexpr std::array<std::string_view, 5> kTable = {"SerialNumber", "BluetoothAddress", "BeaconID",
                                                             "iBeaconKey", "EddystoneUID"};
  return lookup(kTable, 1, type, "Unknown");
}

std::optional<std::string_view> KSEnumUtilities::stringForSyncStatus(std::int64_t status) {
  static constexpr std::array<std::string_view, 5> kTable = {"Not synced", "Unauthorized", "Synced", "Restored",
                                                             "Expired"};
  const std::string_view text = lookup(kTable, 0, status, "");
  if (text.empty()) return std::nullopt;
  return text;
}

std::string_view KSEnumUtilities::stringForCategoryType(std::uint64_t type) {
  static constexpr std::array<std::string_view, 2> kTable = {"Kestrine", "Team"};
  return lookup(kTable, 1, asSigned(type), "Unknown");
}

std::string_view KSEnumUtilities::stringForPeripheralCommandState(std::int32_t state) {
  static constexpr std::array<std::string_view, 3> kTable = {"Ready", "Executing", "Finished"};
  return lookup(kTable, 1, state, "Unknown");
}

std::string_view KSEnumUtilities::stringForBeaconOperationState(std::uint32_t state) {
  static constexpr std::array<std::string_view, 10> kTable = {"Unknown",    "Scheduled",     "Preparing", "Connecting",
                                                              "Connected",  "Disconnecting", "Succeeded", "Failed",
                                                              "Canceled",   "Waiting"};
  return lookup(kTable, 0, state, "Not Defined");
}

std::string_view KSEnumUtilities::stringForScanState(std::int64_t state) {
  static constexpr std::array<std::string_view, 7> kTable = {
      "Session Began in Foreground", "App in Foreground, Device Not in Site", "App in Foreground, Device in Site",
      "Session Began in Background", "App in Background, Device Not in Site", "App in Background, Device in Site",
      "Connected to Peripherals"};
  return lookup(kTable, 1, state, "Disabled");
}

std::string_view KSEnumUtilities::stringForNetworkReachabilityStatus(std::int64_t status) {
  // "Unkonwn" is the status's own display text, kept as it is.
  static constexpr std::array<std::string_view, 4> kTable = {"Unkonwn", "Not Reachable", "WWAN", "WiFi"};
  return lookup(kTable, -1, status, "Unknown");
}

std::uint64_t KSEnumUtilities::proximityForProximity(std::int64_t proximity) {
  return proximity >= 1 && proximity <= 3 ? static_cast<std::uint64_t>(proximity) : 0;
}

bool KSEnumUtilities::isProximityInsideOfProximity(std::uint64_t proximity, std::uint64_t bound) {
  if (bound == 0) return true;
  if (bound > 3) return false;
  return proximity >= 1 && proximity <= bound;
}

}  // namespace velmora::kestrine
