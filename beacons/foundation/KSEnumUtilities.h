#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora::kestrine {

// Display texts of the SDK's enumerations, and two proximity helpers. Every text is a
// constant; a value a table does not list gives the table's fallback text, or no text where
// the table has none.
class KSEnumUtilities {
 public:
  KSEnumUtilities() = delete;

  static std::string_view stringForProximity(std::uint64_t proximity, bool abbreviated);
  static std::string_view stringForSiteState(std::uint64_t state);
  static std::string_view stringForRegionState(std::int64_t state);
  static std::string_view stringForCentralManagerState(std::int64_t state);
  static std::string_view stringForKestrineAdDataType(std::uint64_t type);
  static std::optional<std::string_view> stringForBeaconOpcode(std::uint32_t opcode);
  static std::string_view stringForApiOperationType(std::int32_t type);
  static std::string_view stringForBeaconIdentifierType(std::int64_t type);
  static std::optional<std::string_view> stringForSyncStatus(std::int64_t status);
  static std::string_view stringForCategoryType(std::uint64_t type);
  static std::string_view stringForPeripheralCommandState(std::int32_t state);
  static std::string_view stringForBeaconOperationState(std::uint32_t state);
  static std::string_view stringForScanState(std::int64_t state);
  // A status outside -1 to 2 gives "Unknown".
  static std::string_view stringForNetworkReachabilityStatus(std::int64_t status);

  // 1, 2 and 3 (immediate, near, far) unchanged; any other value 0 (unknown).
  static std::uint64_t proximityForProximity(std::int64_t proximity);
  // Bound 0 takes every proximity; 1 takes 1; 2 takes 1 and 2; 3 takes 1 to 3; above 3 none.
  static bool isProximityInsideOfProximity(std::uint64_t proximity, std::uint64_t bound);
};

}  // namespace velmora::kestrine
