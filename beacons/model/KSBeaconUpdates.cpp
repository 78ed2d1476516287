#include "beacons/model/KSBeaconUpdates.h"

#include <array>
#include <string_view>
#include <utility>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"

namespace kestrine::beacon_updates {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 16> kFeatureNames = {{
    {0, "KSFeatureTripleKey "},
    {1, "KSFeatureSecureMode "},
    {2, "KSFeatureiBeaconMode "},
    {3, "KSFeatureiBeaconPlusSecureMode "},
    {4, "KSFeatureUIDMode "},
    {5, "KSFeatureUrlMode "},
    {6, "KSFeatureNewbornMode "},
    {7, "KSFeatureTargetSpeedChangeable "},
    {8, "KSFeatureSettingsUpdateBLEFuture "},
    {9, "KSFeatureStatusSupported "},
    {10, "KSFeatureSettingsUpdateBLELegacy "},
    {12, "KSFeatureSettingsUpdateBLEAES128CMAC "},
    {13, "KSFeatureFirmwareUpdateBLELegacy "},
    {14, "KSFeatureFirmwareUpdateBLEUnencrypted "},
    {15, "KSFeatureFirmwareUpdateBLEAES128CMAC "},
    {16, "KSFeatureBLERequestSupported "},
}};

}  // namespace

std::int64_t settingsUpdateAvailabilityStatus(const KSBeacon& beacon) {
  if (!beacon.wasDiscovered() || beacon.syncStatus() != KSSyncStatusSynced) return 0;
  const std::uint32_t mask = beacon.featureBitmask();
  constexpr std::uint32_t kSettingsBits = KSFeatureBitmaskLegacyBLESettingsUpdate |
                                          KSFeatureBitmaskUnencryptedBLESettingsUpdate |
                                          KSFeatureBitmaskAES128CMACBLESettingsUpdate;
  return (mask & kSettingsBits) != 0 ? 2 : 1;
}

bool shouldUpdateSettingsCrowdSourced(const KSBeacon& beacon, bool) {
  if (settingsUpdateAvailabilityStatus(beacon) != 2) return false;
  if (!beacon.pendingVersion().isAbsent() && !beacon.pendingVersion().isNull()) return true;
  const auto advertised = beacon.objectFromLatestKestrineAdDataForKey(KSAdDataSettingsVersionKey).toInt64();
  if (!advertised) return false;
  return advertised != beacon.version().toInt64();
}

std::string featureSupportDebug(std::uint32_t featureBitmask) {
  std::string out;
  for (const auto& [bit, name] : kFeatureNames) {
    if (featureBitmask & (1u << bit)) out += name;
  }
  return out;
}

std::string featureSupportDebug(const KSBeacon& beacon) { return featureSupportDebug(beacon.featureBitmask()); }

}  // namespace kestrine::beacon_updates
