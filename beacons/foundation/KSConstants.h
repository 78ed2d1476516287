#pragma once

#include <cstdint>
#include <string_view>

namespace velmora::kestrine {

// The SDK's exported numeric constants. Intervals are seconds, counts are minutes or items.
inline constexpr double KSScanOnTimeIntervalInSeconds = 3.0;
inline constexpr double KSShortScanOffTimeIntervalInSeconds = 0.72;
inline constexpr double KSMediumScanOffTimeIntervalInSeconds = 3.6;
inline constexpr double KSLongScanOffTimeIntervalInSeconds = 10.8;
inline constexpr double KSRemainInAppInForegroundScanStateTimeIntervalInSeconds = 60.480000000000004;  // 84 × 0.72
inline constexpr double KSRemainInAppInBackgroundScanStateTimeIntervalInSeconds = 12.96;
inline constexpr double KSMinimumBackgroundSessionTimeIntervalInSeconds = 12.96;
inline constexpr double KSBackgroundSessionTimeIntervalInSeconds = 120.0;
inline constexpr double KSMinimumTimeIntervalBetweenBackgroundSessionsInSeconds = 30.0;
inline constexpr std::int64_t KSMaximumDailyBackgroundUsageInMinutes = 60;
inline constexpr std::int64_t KSDateConstantMinutesInDay = 1440;
inline constexpr double KSCacheRefreshTimeIntervalInSeconds = 3600.0;
inline constexpr double KSCacheRefreshTimeIntervalLowPriorityInSeconds = 86400.0;
inline constexpr double KSMinimumCacheRefreshTimeIntervalInSeconds = 300.0;
inline constexpr double KSCacheExpiryForAccessInSeconds = 259200.0;
inline constexpr double KSCacheExpiryForFullSyncInSeconds = 604800.0;
inline constexpr double KSApiRetryAfterDefaultTimeIntervalInSeconds = 10.0;
inline constexpr std::int64_t KSBeaconVisitsPerPostLimit = 10;
inline constexpr std::int64_t KSEventsPerPostLimit = 10;
inline constexpr std::int64_t KSEventHistoryRetainedForDays = 3;
inline constexpr std::int64_t KSEventHistoryRecordLimit = 2000;
inline constexpr double KSDefaultNearbySitesDistanceFilterInMeters = 3218.69;
inline constexpr double KSDistanceFromSiteInMeters = 3219;
inline constexpr std::int64_t KSSqliteModelVersion = 1;
inline constexpr std::int64_t KSBeaconModeIDSecure = 1;
inline constexpr std::int64_t KSBeaconModeIDIBeacon = 2;
inline constexpr std::int64_t KSBeaconModeIDIBeaconPlusSecure = 3;
inline constexpr std::int64_t KSBeaconModeIDUID = 4;

// The SDK's general error domain (code -1, the message as the localised description).
inline constexpr std::string_view KSErrorDomain = "org.kestrine.KestrineSDK.ErrorDomain";

}  // namespace velmora::kestrine
