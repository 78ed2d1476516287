#pragma once

#include <string_view>

namespace velmora::kestrine {

// Option keys; each value equals its name.
inline constexpr std::string_view KSOptionAutoTrackStandardEvents = "KSOptionAutoTrackStandardEvents";
inline constexpr std::string_view KSOptionCacheAllBeaconsForApp = "KSOptionCacheAllBeaconsForApp";
inline constexpr std::string_view KSOptionCacheAllBeaconsForSite = "KSOptionCacheAllBeaconsForSite";
inline constexpr std::string_view KSOptionCacheSitesNearbyByLocation = "KSOptionCacheSitesNearbyByLocation";
inline constexpr std::string_view KSOptionCrowdSourceBeaconUpdates = "KSOptionCrowdSourceBeaconUpdates";
inline constexpr std::string_view KSOptionDiscoverBeaconsNearby = "KSOptionDiscoverBeaconsNearby";
inline constexpr std::string_view KSOptionTargetRegionPrefix = "KSOptionTargetRegionPrefix";
inline constexpr std::string_view KSOptionUseApi = "KSOptionUseApi";
inline constexpr std::string_view KSOptionMonitorAllAvailableRegionsOnStartup =
    "KSOptionMonitorAllAvailableRegionsOnStartup";
inline constexpr std::string_view KSOptionMonitorKestrineRegionOnStartup = "KSOptionMonitorKestrineRegionOnStartup";
inline constexpr std::string_view KSOptionRemoteConfigurationExpirationTimeIntervalInSeconds =
    "KSOptionRemoteConfigurationExpirationTimeIntervalInSeconds";
inline constexpr std::string_view KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds =
    "KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds";
inline constexpr std::string_view KSOptionScanInBackground = "KSOptionScanInBackground";
inline constexpr std::string_view KSOptionShowBluetoothPowerWarningMessage = "KSOptionShowBluetoothPowerWarningMessage";
inline constexpr std::string_view KSOptionTrackBeaconVisits = "KSOptionTrackBeaconVisits";
inline constexpr std::string_view KSOptionUseEnergySaverScanStrategy = "KSOptionUseEnergySaverScanStrategy";
inline constexpr std::string_view KSOptionUseLocalStorage = "KSOptionUseLocalStorage";
inline constexpr std::string_view KSOptionRunWithoutLocationServicesAuthorization =
    "KSOptionRunWithoutLocationServicesAuthorization";
inline constexpr std::string_view KSOptionApiBaseURL = "KSOptionApiBaseURL";
inline constexpr std::string_view KSOptionBackgroundSessionTimeIntervalInSeconds =
    "KSOptionBackgroundSessionTimeIntervalInSeconds";
inline constexpr std::string_view KSOptionCacheRefreshTimeIntervalInSeconds = "KSOptionCacheRefreshTimeIntervalInSeconds";
inline constexpr std::string_view KSOptionMaximumDailyBackgroundUsageInMinutes =
    "KSOptionMaximumDailyBackgroundUsageInMinutes";

// The beacon platform's API base URL, used unless the host sets an http(s) one.
inline constexpr std::string_view KSApiBaseURL = "https://api.kestrine.example/v3/";

}  // namespace velmora::kestrine
