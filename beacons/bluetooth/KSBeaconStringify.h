#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::kestrine {

class KSBeacon;

// The maker frame type of a beacon's newest maker advertisement.
namespace beacon_kestrine_ad_data {

// The integer under KSKestrineAdDataTypeKey in the newest maker advertisement, or -1 when the
// beacon has heard none (or the value is not an integer).
std::int64_t adDataTypeFromKestrineAdData(const KSBeacon& beacon);

}  // namespace beacon_kestrine_ad_data

// Display texts of a beacon's settings and live values for host apps. Each is built from a
// beacon property or from a field of the newest maker advertisement; a missing value gives
// no text unless noted.
namespace beacon_stringify {

std::optional<std::string> privacyDurationString(const KSBeacon& beacon);  // "15 mins"
std::optional<std::string> syncStatusString(const KSBeacon& beacon);       // "Synced"
std::optional<std::string> versionString(const KSBeacon& beacon);
std::optional<std::string> versionStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> pendingVersionString(const KSBeacon& beacon);
// Always a text: "Unknown" when no maker advertisement was heard or its type has no name.
std::optional<std::string> adDataTypeStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> targetSpeedString(const KSBeacon& beacon);
std::optional<std::string> targetSpeedInMillisecondsString(const KSBeacon& beacon);  // "100 ms"
std::optional<std::string> targetSpeedInMillisecondsStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> beaconLoudnessString(const KSBeacon& beacon);
std::optional<std::string> beaconLoudnessLevelString(const KSBeacon& beacon);
std::optional<std::string> beaconLoudnessLevelStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> majorString(const KSBeacon& beacon);
std::optional<std::string> minorString(const KSBeacon& beacon);
std::optional<std::string> majorStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> minorStringFromKestrineAdData(const KSBeacon& beacon);
std::optional<std::string> batteryStatusString(const KSBeacon& beacon);
std::optional<std::string> batteryLevelStringFromKestrineAdData(const KSBeacon& beacon);  // "87%"
std::optional<std::string> lastKnownBatteryLevelString(const KSBeacon& beacon);
std::optional<std::string> txPowerLevelStringFromKestrineAdData(const KSBeacon& beacon);  // "-4 dBm"
std::optional<std::string> measuredPowerAt1MeterString(const KSBeacon& beacon);
std::optional<std::string> measuredPowerAt1MeterStringFromKestrineAdData(const KSBeacon& beacon);
// Always a text: "0 dBm" when the beacon has no loudness.
std::optional<std::string> measuredPowerAt1MeterStringFromBeaconLoudness(const KSBeacon& beacon);
std::optional<std::string> rssiString(const KSBeacon& beacon);
std::optional<std::string> accuracyString(const KSBeacon& beacon);   // "2.50 m"
std::optional<std::string> proximityString(const KSBeacon& beacon);  // "Near"
// "<map name> (x, y)" with six fraction digits; no text without a map point or its point.
std::optional<std::string> mapPointString(const KSBeacon& beacon);
std::optional<std::string> categoryCountString(const KSBeacon& beacon);
// The categories' descriptions joined by the separator; "" for an empty list, no text
// when the beacon has no category list.
std::optional<std::string> categoriesJoinedByString(const KSBeacon& beacon, std::string_view separator);

}  // namespace beacon_stringify

}  // namespace velmora::kestrine
