#include "beacons/bluetooth/KSBeaconStringify.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "beacons/foundation/KSEnumUtilities.h"
#include "beacons/foundation/KSStringify.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBatteryStatus.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"
#include "beacons/model/KSTargetSpeed.h"

namespace velmora::kestrine {

namespace {

// The integer reading of a number: integers as they are, a finite double that fits truncated
// toward zero. Anything else (absent, not a number, NaN, out of range) gives none, so a
// malformed field shows no text instead of a made-up one.
std::optional<std::int64_t> integerOf(const platform::Value& number) {
  if (auto i = number.toInt64()) return i;
  if (number.toUInt64()) return std::nullopt;  // beyond the signed range
  if (auto d = number.toDouble()) {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (std::isfinite(*d) && *d > -kLimit && *d < kLimit) return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

std::optional<std::int64_t> adDataInteger(const KSBeacon& beacon, std::string_view key) {
  return integerOf(beacon.objectFromLatestKestrineAdDataForKey(key));
}

std::optional<std::string> milliseconds(std::optional<std::int64_t> value) {
  if (!value) return std::nullopt;
  return KSStringify::stringWithMilliseconds(*value);
}

std::string describe(const std::shared_ptr<KSCategory>& category) {
  return category ? category->description() : std::string("(null)");
}

}  // namespace

namespace beacon_kestrine_ad_data {

std::int64_t adDataTypeFromKestrineAdData(const KSBeacon& beacon) {
  return adDataInteger(beacon, KSKestrineAdDataTypeKey).value_or(-1);
}

}  // namespace beacon_kestrine_ad_data

namespace beacon_stringify {

std::optional<std::string> privacyDurationString(const KSBeacon& beacon) {
  return KSStringify::stringWithMinutes(integerOf(beacon.privacyDuration()));
}

std::optional<std::string> syncStatusString(const KSBeacon& beacon) {
  auto name = KSEnumUtilities::stringForSyncStatus(beacon.syncStatus());
  if (!name) return std::nullopt;
  return std::string(*name);
}

std::optional<std::string> versionString(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(integerOf(beacon.version()));
}

std::optional<std::string> versionStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(adDataInteger(beacon, KSAdDataSettingsVersionKey));
}

std::optional<std::string> pendingVersionString(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(integerOf(beacon.pendingVersion()));
}

std::optional<std::string> adDataTypeStringFromKestrineAdData(const KSBeacon& beacon) {
  const std::int64_t type = beacon_kestrine_ad_data::adDataTypeFromKestrineAdData(beacon);
  if (type < 0) return std::string(KSEnumUtilities::stringForKestrineAdDataType(0));  // the fallback name
  return std::string(KSEnumUtilities::stringForKestrineAdDataType(static_cast<std::uint64_t>(type)));
}

std::optional<std::string> targetSpeedString(const KSBeacon& beacon) {
  auto speed = beacon.targetSpeed();
  if (!speed) return std::nullopt;
  return speed->displayName();
}

std::optional<std::string> targetSpeedInMillisecondsString(const KSBeacon& beacon) {
  auto speed = beacon.targetSpeed();
  if (!speed) return std::nullopt;
  return KSStringify::stringWithMilliseconds(speed->milliseconds());
}

std::optional<std::string> targetSpeedInMillisecondsStringFromKestrineAdData(const KSBeacon& beacon) {
  return milliseconds(adDataInteger(beacon, KSAdDataTargetSpeedInMillisecondsKey));
}

std::optional<std::string> beaconLoudnessString(const KSBeacon& beacon) {
  auto loudness = beacon.beaconLoudness();
  if (!loudness) return std::nullopt;
  return loudness->displayName();
}

std::optional<std::string> beaconLoudnessLevelString(const KSBeacon& beacon) {
  auto loudness = beacon.beaconLoudness();
  if (!loudness) return std::nullopt;
  return KSStringify::stringWithIntegerValue(loudness->level());
}

std::optional<std::string> beaconLoudnessLevelStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(adDataInteger(beacon, KSAdDataBeaconLoudnessLevelKey));
}

std::optional<std::string> majorString(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(integerOf(beacon.major()));
}

std::optional<std::string> minorString(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(integerOf(beacon.minor()));
}

std::optional<std::string> majorStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(adDataInteger(beacon, KSAdDataMajorKey));
}

std::optional<std::string> minorStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithIntegerNumber(adDataInteger(beacon, KSAdDataMinorKey));
}

std::optional<std::string> batteryStatusString(const KSBeacon& beacon) {
  auto status = beacon.batteryStatus();
  if (!status) return std::nullopt;
  return status->displayName();
}

std::optional<std::string> batteryLevelStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithPercentage(adDataInteger(beacon, KSAdDataBatteryLevelKey));
}

std::optional<std::string> lastKnownBatteryLevelString(const KSBeacon& beacon) {
  return KSStringify::stringWithPercentage(integerOf(beacon.lastKnownBatteryLevel()));
}

std::optional<std::string> txPowerLevelStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithPower(adDataInteger(beacon, KSAdDataTxPowerLevelKey));
}

std::optional<std::string> measuredPowerAt1MeterString(const KSBeacon& beacon) {
  return KSStringify::stringWithPower(integerOf(beacon.measuredPowerAt1Meter()));
}

std::optional<std::string> measuredPowerAt1MeterStringFromKestrineAdData(const KSBeacon& beacon) {
  return KSStringify::stringWithPower(adDataInteger(beacon, KSAdDataMeasuredPowerAt1MeterKey));
}

std::optional<std::string> measuredPowerAt1MeterStringFromBeaconLoudness(const KSBeacon& beacon) {
  auto loudness = beacon.beaconLoudness();
  return KSStringify::stringWithPower(loudness ? loudness->measuredPowerAt1Meter() : 0);
}

std::optional<std::string> rssiString(const KSBeacon& beacon) {
  return KSStringify::stringWithPower(integerOf(beacon.rssi()));
}

std::optional<std::string> accuracyString(const KSBeacon& beacon) {
  return KSStringify::stringWithDistance(beacon.accuracy());
}

std::optional<std::string> proximityString(const KSBeacon& beacon) {
  return std::string(KSEnumUtilities::stringForProximity(beacon.proximity(), false));
}

std::optional<std::string> mapPointString(const KSBeacon& beacon) {
  auto mapPoint = beacon.mapPoint();
  if (!mapPoint || !mapPoint->point()) return std::nullopt;
  char coordinates[128];
  std::snprintf(coordinates, sizeof coordinates, " (%f, %f)", mapPoint->point()->x(), mapPoint->point()->y());
  return mapPoint->mapName().value_or("(null)") + coordinates;
}

std::optional<std::string> categoryCountString(const KSBeacon& beacon) {
  auto categories = beacon.categories();
  if (!categories) return std::nullopt;
  return KSStringify::stringWithIntegerValue(static_cast<std::int64_t>(categories->size()));
}

std::optional<std::string> categoriesJoinedByString(const KSBeacon& beacon, std::string_view separator) {
  auto categories = beacon.categories();
  if (!categories) return std::nullopt;
  std::string joined;
  for (std::size_t i = 0; i < categories->size(); ++i) {
    if (i > 0) joined += separator;
    joined += describe((*categories)[i]);
  }
  return joined;
}

}  // namespace beacon_stringify

}  // namespace velmora::kestrine
