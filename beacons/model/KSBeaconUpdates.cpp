#include "beacons/model/KSBeaconUpdates.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"

namespace velmora::kestrine::beacon_updates {
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

bool hasPending(const KSBeacon& beacon) {
  const auto pending = beacon.pendingVersion();
  return !pending.isAbsent() && !pending.isNull();
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::int64_t availability(const KSBeacon& beacon, std::uint32_t bits) {
  if (!beacon.wasDiscovered() || beacon.syncStatus() != KSSyncStatusSynced) return 0;
  return (beacon.featureBitmask() & bits) != 0 ? 2 : 1;
}

}  // namespace

std::int64_t firmwareUpdateAvailabilityStatus(const KSBeacon& beacon) {
  return availability(beacon, KSFeatureBitmaskLegacyBLEFirmwareUpdate | KSFeatureBitmaskUnencryptedBLEFirmwareUpdate |
                                  KSFeatureBitmaskAES128CMACBLEFirmwareUpdate);
}

bool shouldUpdateFirmware(const KSBeacon& beacon) {
  if (firmwareUpdateAvailabilityStatus(beacon) != 2) return false;
  const std::string latest = beacon.latestFirmwareUID().value_or("");
  if (latest.empty()) return false;
  const auto advertisedValue = beacon.objectFromLatestKestrineAdDataForKey(KSAdDataFirmwareUIDKey);
  const std::string advertised = advertisedValue.string() ? *advertisedValue.string() : "";
  if (advertised.empty()) return false;
  if (!equalIgnoringCase(latest, advertised)) return true;
  // The beacon runs the latest firmware: due only while the record lags behind.
  const std::string recorded = beacon.storedFirmwareUID().value_or("");
  const bool pending = hasPending(beacon);
  if (recorded.empty() && !pending) return true;
  if (equalIgnoringCase(latest, recorded)) return false;
  return !pending;
}

bool shouldUpdate(const KSBeacon& beacon) {
  return shouldUpdateSettingsCrowdSourced(beacon, false) || shouldUpdateFirmware(beacon);
}

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
  if (hasPending(beacon)) return true;
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

}  // namespace velmora::kestrine::beacon_updates
