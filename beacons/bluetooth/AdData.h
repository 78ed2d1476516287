#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "beacons/bluetooth/KSAdData.h"

// Turns one heard advertisement into an advertisement-data record, or nothing when it is not
// one the SDK understands: Apple iBeacon and the maker's frames in manufacturer data, and
// Eddystone frames in service data under "FEAA". Every reader checks the length before it
// reads, so no input, however short, long or malformed, is read past its end. Holds no state;
// safe on any thread.
namespace velmora::kestrine {

// One service-data entry of an advertisement: the service UUID as text (16-bit "FEAA" or the
// full 128-bit form) and its bytes.
struct KSServiceDataEntry {
  std::string_view serviceUUID;
  std::span<const std::uint8_t> data;
};

// What the parser reads of an advertisement.
struct KSAdvertisement {
  std::optional<std::span<const std::uint8_t>> manufacturerData;
  std::span<const KSServiceDataEntry> serviceData;
};

namespace adData {

// Manufacturer data of 4 bytes or more decides alone (Apple iBeacon or the maker's frames,
// company bytes 04 01; any other company yields nothing); otherwise an Eddystone UID, URL,
// TLM or EID frame under "FEAA". proximityUUIDStrings are the known UUIDs the maker's
// iBeacon frames, which carry only the UUID's tail, are matched against.
std::optional<KSAdData> mutableAdDataWithProximityUUIDStrings(const KSAdvertisement& advertisement,
                                                              std::span<const std::string> proximityUUIDStrings);

// --- one parser per frame kind (manufacturer data, company bytes first) ----------------------
std::optional<KSAdData> mutableAppleIBeaconAdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineIBeaconAdDataFromMfrData(std::span<const std::uint8_t> d,
                                                                std::span<const std::string> proximityUUIDStrings);
std::optional<KSAdData> mutableKestrineIBeacon4AdDataFromMfrData(std::span<const std::uint8_t> d,
                                                                 std::span<const std::string> proximityUUIDStrings);
std::optional<KSAdData> mutableKestrineSecure1AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineSecure2AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineBlockData1AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineBlockData2AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineEncryptedStatusAdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineNewBorn1AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineNewborn2AdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineManagementAdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineIdentifierAdDataFromMfrData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableKestrineMeasurementAdDataFromMfrData(std::span<const std::uint8_t> d);

// --- Eddystone service data ------------------------------------------------------------------
std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneUIDData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneURLData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneTelData(std::span<const std::uint8_t> d);
std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneEIDData(std::span<const std::uint8_t> d);

// --- field readers: the value at location, or nothing when the data is shorter --------------
std::optional<std::int64_t> versionFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> batteryLevelFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> beaconLoudnessLevelFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> txPowerLevelFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> measuredPowerAt1MeterFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> majorFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> minorFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
std::optional<std::int64_t> targetSpeedInMillisecondsFromMfrData(std::span<const std::uint8_t> d,
                                                                 std::size_t location);
// Lower-case hex of the range; a 3-byte range reads as if the byte 0x50 stood before it, so
// both firmware-UID forms give 8 digits.
std::optional<std::string> firmwareUIDFromMfrData(std::span<const std::uint8_t> d, std::size_t location,
                                                  std::size_t length);
// 12 upper-case hex digits of the 6 bytes at location, in frame order.
std::optional<std::string> bluetoothAddressStringFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
// The 16 bytes at location as an upper-case dashed UUID text.
std::optional<std::string> proximityUUIDStringFromMfrData(std::span<const std::uint8_t> d, std::size_t location);
// The first known UUID whose last 2 * length hex digits (dashes removed, any letter case)
// equal the range's bytes, returned exactly as the list holds it; nothing when none does.
std::optional<std::string_view> proximityUUIDStringFromMfrData(std::span<const std::uint8_t> d, std::size_t location,
                                                               std::size_t length,
                                                               std::span<const std::string> proximityUUIDStrings);
// Bytes 7 to the end, or nothing when the data is shorter than 7 bytes.
std::optional<std::span<const std::uint8_t>> payloadDataFromMfrData(std::span<const std::uint8_t> d);

}  // namespace adData
}  // namespace velmora::kestrine
