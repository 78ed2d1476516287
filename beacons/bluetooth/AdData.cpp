#include "beacons/bluetooth/AdData.h"

#include "beacons/bluetooth/HexText.h"
#include "beacons/bluetooth/KSEddystoneDefinitions.h"
#include "beacons/bluetooth/SecureDescrambling.h"
#include "beacons/model/KSBeaconUtilities.h"

namespace velmora::kestrine::adData {
namespace {

using Data = std::span<const std::uint8_t>;
using F = KSAdDataField;

bool reaches(Data d, std::size_t location, std::size_t width) {
  return location <= d.size() && width <= d.size() - location;
}

std::optional<std::int64_t> unsigned8(Data d, std::size_t at) {
  if (!reaches(d, at, 1)) return std::nullopt;
  return d[at];
}

std::optional<std::int64_t> signed8(Data d, std::size_t at) {
  if (!reaches(d, at, 1)) return std::nullopt;
  return static_cast<std::int8_t>(d[at]);
}

std::optional<std::int64_t> bigEndian16(Data d, std::size_t at) {
  if (!reaches(d, at, 2)) return std::nullopt;
  return d[at] << 8 | d[at + 1];
}

void put(KSAdData& ad, F field, std::optional<std::int64_t> value) {
  if (value) ad.setInteger(field, *value);
}

// The firmware UID straight into the record: 8 lower-case digits for the 3- and 4-byte forms.
void putFirmwareUID(KSAdData& ad, Data d, std::size_t at, std::size_t length) {
  if (!reaches(d, at, length) || length > 16) return;
  char text[34];
  std::size_t n = 0;
  if (length == 3) {
    text[n++] = '5';
    text[n++] = '0';
  }
  n += hextext::write(d.subspan(at, length), text + n, false);
  ad.setText(F::FirmwareUID, std::string_view(text, n));
}

void putBluetoothAddress(KSAdData& ad, Data d, std::size_t at) {
  if (!reaches(d, at, 6)) return;
  char text[12];
  hextext::write(d.subspan(at, 6), text, true);
  ad.setText(F::BluetoothAddressString, std::string_view(text, 12));
}

void putMatchedProximityUUID(KSAdData& ad, Data d, std::size_t at, std::size_t length,
                             std::span<const std::string> uuids) {
  if (auto uuid = proximityUUIDStringFromMfrData(d, at, length, uuids)) ad.setText(F::ProximityUUIDString, *uuid);
}

void mergeSecure(KSAdData& ad, Data d, std::size_t m, std::size_t c) {
  if (auto secure = decypherSecureDataFromMfrData(d, m, c)) {
    ad.setText(F::BluetoothAddressString,
               std::string_view(secure->bluetoothAddress.data(), secure->bluetoothAddress.size()));
    ad.setInteger(F::SequenceNumber, secure->sequenceNumber);
  }
}

// Bytes 5-7 of both block-data frames: identifier and type, index and count, encoding and
// payload length, a nibble each. Returns the payload length.
std::size_t putBlockHeader(KSAdData& ad, Data d) {
  ad.setInteger(F::BlockDataIdentifier, d[5] >> 4);
  ad.setInteger(F::BlockDataType, d[5] & 0x0F);
  ad.setInteger(F::BlockDataIndex, d[6] >> 4);
  ad.setInteger(F::BlockDataCount, d[6] & 0x0F);
  ad.setInteger(F::BlockDataEncoding, d[7] >> 4);
  ad.setInteger(F::BlockDataLength, d[7] & 0x0F);
  return d[7] & 0x0F;
}

// Header of the management family: team and alert, measured power (signed, as in every other
// frame), battery level and sequence number. Such a frame shorter than its 7-byte header is
// not one the SDK understands.
std::optional<KSAdData> managementHeader(KSAdDataKind kind, Data d) {
  if (d.size() < 7) return std::nullopt;
  KSAdData ad(kind);
  ad.setInteger(F::TeamID, d[3] >> 1);
  ad.setInteger(F::Alert, d[3] & 1);
  ad.setInteger(F::MeasuredPowerAt1Meter, static_cast<std::int8_t>(d[4]));
  ad.setInteger(F::BatteryLevel, d[5]);
  ad.setInteger(F::SequenceNumber, d[6]);
  return ad;
}

std::optional<KSAdData> managementWithAddress(KSAdDataKind kind, Data d) {
  auto ad = managementHeader(kind, d);
  if (!ad) return std::nullopt;
  putBluetoothAddress(*ad, d, 7);
  putFirmwareUID(*ad, d, 13, 3);
  put(*ad, F::SettingsVersion, versionFromMfrData(d, 16));
  return ad;
}

std::optional<KSAdData> managementWithPayload(KSAdDataKind kind, F payloadField, Data d) {
  auto ad = managementHeader(kind, d);
  if (!ad) return std::nullopt;
  ad->setBytes(payloadField, d.subspan(7));
  return ad;
}

std::optional<KSAdData> kestrineFrame(Data d, std::span<const std::string> uuids) {
  const std::uint8_t b = d[2];
  switch (b) {
    case 0x00:
      return mutableKestrineNewBorn1AdDataFromMfrData(d);
    case 0x05:
      return mutableKestrineIBeacon4AdDataFromMfrData(d, uuids);
    case 0x06:
      return mutableKestrineSecure2AdDataFromMfrData(d);
    case 0x08:
      return mutableKestrineBlockData2AdDataFromMfrData(d);
    case 0x09:
      return mutableKestrineEncryptedStatusAdDataFromMfrData(d);
    case 0x0A:
      return mutableKestrineNewborn2AdDataFromMfrData(d);
    case 0x1A:
      return mutableKestrineManagementAdDataFromMfrData(d);
    case 0x3A:
      return mutableKestrineIdentifierAdDataFromMfrData(d);
    case 0x5A:
      return mutableKestrineMeasurementAdDataFromMfrData(d);
    default:
      break;
  }
  const unsigned type = b & 0x0F;
  const unsigned version = b >> 4;
  switch (type) {
    case 2:
    case 3:
      if (d.size() == 26) return mutableKestrineIBeaconAdDataFromMfrData(d, uuids);
      break;
    case 4:
      if (d.size() == 26) return mutableKestrineSecure1AdDataFromMfrData(d);
      break;
    case 5:
      if (d.size() == 22 && version >= 1 && version <= 3) return mutableKestrineIBeacon4AdDataFromMfrData(d, uuids);
      break;
    case 6:
      if (d.size() == 22 && version >= 1 && version <= 5) return mutableKestrineSecure2AdDataFromMfrData(d);
      break;
    case 7:
      if (d.size() == 26 && version >= 1 && version <= 3) return mutableKestrineBlockData1AdDataFromMfrData(d);
      break;
    case 8:
      if (d.size() == 26 && version >= 1 && version <= 3) return mutableKestrineBlockData2AdDataFromMfrData(d);
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<KSAdData> mutableAdDataWithProximityUUIDStrings(const KSAdvertisement& advertisement,
                                                              std::span<const std::string> uuids) {
  if (advertisement.manufacturerData && advertisement.manufacturerData->size() >= 4) {
    const Data d = *advertisement.manufacturerData;
    if (d[0] == 0x4C) return mutableAppleIBeaconAdDataFromMfrData(d);
    if (d[0] == 0x04 && d[1] == 0x01) return kestrineFrame(d, uuids);
    return std::nullopt;
  }
  for (const auto& entry : advertisement.serviceData) {
    if (!KSEddystoneDefinitions::isServiceUUID(entry.serviceUUID)) continue;
    switch (KSEddystoneDefinitions::frameTypeForFrameData(entry.data)) {
      case KSEddystoneFrameTypeUID:
        return mutableAdDataDictionaryFromEddystoneUIDData(entry.data);
      case KSEddystoneFrameTypeURL:
        return mutableAdDataDictionaryFromEddystoneURLData(entry.data);
      case KSEddystoneFrameTypeTLM:
        return mutableAdDataDictionaryFromEddystoneTelData(entry.data);
      case KSEddystoneFrameTypeEID:
        return mutableAdDataDictionaryFromEddystoneEIDData(entry.data);
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<KSAdData> mutableAppleIBeaconAdDataFromMfrData(Data d) {
  if (d.size() != 25 || d[0] != 0x4C || d[1] != 0x00 || d[2] != 0x02 || d[3] != 0x15) return std::nullopt;
  char uuid[36];
  hextext::writeUuid(d.subspan<4, 16>(), uuid);
  const std::string_view uuidText(uuid, 36);
  const auto major = static_cast<std::uint16_t>(d[20] << 8 | d[21]);
  const auto minor = static_cast<std::uint16_t>(d[22] << 8 | d[23]);
  if (KSBeaconUtilities::isDefaultKeepAliveMajor(major, minor, uuidText)) return std::nullopt;
  KSAdData ad(KSAdDataKind::AppleIBeacon);
  ad.setText(F::ProximityUUIDString, uuidText);
  ad.setInteger(F::Major, major);
  ad.setInteger(F::Minor, minor);
  ad.setInteger(F::MeasuredPowerAt1Meter, static_cast<std::int8_t>(d[24]));
  return ad;
}

std::optional<KSAdData> mutableKestrineIBeaconAdDataFromMfrData(Data d, std::span<const std::string> uuids) {
  if (d.size() != 26) return std::nullopt;
  const unsigned type = d[2] & 0x0F;
  if (type != 2 && type != 3) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineIBeacon);
  ad.setInteger(F::KestrineAdDataType, type);
  putFirmwareUID(ad, d, 3, 4);
  put(ad, F::Major, majorFromMfrData(d, 7));
  put(ad, F::Minor, minorFromMfrData(d, 9));
  put(ad, F::TargetSpeedInMilliseconds, targetSpeedInMillisecondsFromMfrData(d, 11));
  put(ad, F::BeaconLoudnessLevel, beaconLoudnessLevelFromMfrData(d, 13));
  put(ad, F::TxPowerLevel, txPowerLevelFromMfrData(d, 14));
  put(ad, F::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromMfrData(d, 15));
  put(ad, F::BatteryLevel, batteryLevelFromMfrData(d, 16));
  if (type == 2) {
    putMatchedProximityUUID(ad, d, 17, 9, uuids);
  } else {
    put(ad, F::SettingsVersion, versionFromMfrData(d, 17));
    putMatchedProximityUUID(ad, d, 18, 8, uuids);
  }
  return ad;
}

std::optional<KSAdData> mutableKestrineIBeacon4AdDataFromMfrData(Data d, std::span<const std::string> uuids) {
  if (d.size() != 22) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineIBeacon);
  ad.setInteger(F::KestrineAdDataType, 5);
  putFirmwareUID(ad, d, 3, 4);
  put(ad, F::Major, majorFromMfrData(d, 7));
  put(ad, F::Minor, minorFromMfrData(d, 9));
  put(ad, F::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromMfrData(d, 11));
  put(ad, F::BatteryLevel, batteryLevelFromMfrData(d, 12));
  put(ad, F::SettingsVersion, versionFromMfrData(d, 13));
  putMatchedProximityUUID(ad, d, 14, 8, uuids);
  return ad;
}

std::optional<KSAdData> mutableKestrineSecure1AdDataFromMfrData(Data d) {
  if (d.size() != 26) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineSecure);
  ad.setInteger(F::KestrineAdDataType, 4);
  putFirmwareUID(ad, d, 3, 4);
  put(ad, F::TargetSpeedInMilliseconds, targetSpeedInMillisecondsFromMfrData(d, 7));
  put(ad, F::BeaconLoudnessLevel, beaconLoudnessLevelFromMfrData(d, 9));
  put(ad, F::TxPowerLevel, txPowerLevelFromMfrData(d, 10));
  put(ad, F::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromMfrData(d, 11));
  put(ad, F::BatteryLevel, batteryLevelFromMfrData(d, 12));
  put(ad, F::SettingsVersion, versionFromMfrData(d, 13));
  mergeSecure(ad, d, 3, 14);
  return ad;
}

std::optional<KSAdData> mutableKestrineSecure2AdDataFromMfrData(Data d) {
  if (d.size() != 22) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineSecure);
  ad.setInteger(F::KestrineAdDataType, 6);
  putFirmwareUID(ad, d, 3, 4);
  put(ad, F::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromMfrData(d, 7));
  put(ad, F::BatteryLevel, batteryLevelFromMfrData(d, 8));
  put(ad, F::SettingsVersion, versionFromMfrData(d, 9));
  mergeSecure(ad, d, 3, 10);
  return ad;
}

std::optional<KSAdData> mutableKestrineBlockData1AdDataFromMfrData(Data d) {
  if (d.size() != 26) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineBlockData);
  ad.setInteger(F::KestrineAdDataType, 7);
  const std::size_t length = putBlockHeader(ad, d);
  ad.setBytes(F::BlockDataData, d.subspan(8, length));
  putBluetoothAddress(ad, d, 20);
  return ad;
}

std::optional<KSAdData> mutableKestrineBlockData2AdDataFromMfrData(Data d) {
  if (d.size() != 26) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineBlockData);
  ad.setInteger(F::KestrineAdDataType, 8);
  const std::size_t length = putBlockHeader(ad, d);
  if (auto block = decypherSecureDataAdFromMfrData(d, 0, 3, 8, length)) {
    ad.setBytes(F::BlockDataData, std::span<const std::uint8_t>(block->payload.data(), block->payloadLength));
    if (block->bluetoothAddress) {
      ad.setText(F::BluetoothAddressString,
                 std::string_view(block->bluetoothAddress->data(), block->bluetoothAddress->size()));
    }
  }
  return ad;
}

std::optional<KSAdData> mutableKestrineEncryptedStatusAdDataFromMfrData(Data d) {
  if (d.size() != 19) return std::nullopt;
  KSAdData ad(KSAdDataKind::EncryptedStatus);
  ad.setBytes(F::EncryptedStatus, d.subspan(3, 16));
  return ad;
}

std::optional<KSAdData> mutableKestrineNewBorn1AdDataFromMfrData(Data d) {
  if (d.size() < 4) return std::nullopt;
  KSAdData ad(KSAdDataKind::KestrineNewborn);
  putBluetoothAddress(ad, d, 3);
  putFirmwareUID(ad, d, 9, 4);
  put(ad, F::SettingsVersion, versionFromMfrData(d, 13));
  put(ad, F::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromMfrData(d, 14));
  put(ad, F::BatteryLevel, batteryLevelFromMfrData(d, 15));
  return ad;
}

std::optional<KSAdData> mutableKestrineNewborn2AdDataFromMfrData(Data d) {
  return managementWithAddress(KSAdDataKind::KestrineNewborn, d);
}

std::optional<KSAdData> mutableKestrineManagementAdDataFromMfrData(Data d) {
  return managementWithAddress(KSAdDataKind::KestrineManagement, d);
}

std::optional<KSAdData> mutableKestrineIdentifierAdDataFromMfrData(Data d) {
  return managementWithPayload(KSAdDataKind::KestrineIdentifier, F::IdentifierData, d);
}

std::optional<KSAdData> mutableKestrineMeasurementAdDataFromMfrData(Data d) {
  return managementWithPayload(KSAdDataKind::KestrineMeasurement, F::MeasurementData, d);
}

std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneUIDData(Data d) {
  KSEddystoneUIDFrameField f;
  if (!KSEddystoneDefinitions::getFrameField(f, d)) return std::nullopt;
  return KSEddystoneDefinitions::dictionaryFromUIDFrameFields(f);
}

std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneURLData(Data d) {
  KSEddystoneURLFrameField f;
  if (!KSEddystoneDefinitions::getFrameField(f, d)) return std::nullopt;
  return KSEddystoneDefinitions::dictionaryFromURLFrameFields(f);
}

std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneTelData(Data d) {
  KSEddystoneTelFrameField f;
  if (!KSEddystoneDefinitions::getFrameField(f, d)) return std::nullopt;
  return KSEddystoneDefinitions::dictionaryFromTelFrameFields(f);
}

std::optional<KSAdData> mutableAdDataDictionaryFromEddystoneEIDData(Data d) {
  KSEddystoneEIDFrameField f;
  if (!KSEddystoneDefinitions::getFrameField(f, d)) return std::nullopt;
  return KSEddystoneDefinitions::dictionaryFromEIDFrameFields(f);
}

std::optional<std::int64_t> versionFromMfrData(Data d, std::size_t at) { return unsigned8(d, at); }
std::optional<std::int64_t> batteryLevelFromMfrData(Data d, std::size_t at) { return unsigned8(d, at); }
std::optional<std::int64_t> beaconLoudnessLevelFromMfrData(Data d, std::size_t at) { return unsigned8(d, at); }
std::optional<std::int64_t> txPowerLevelFromMfrData(Data d, std::size_t at) { return signed8(d, at); }
std::optional<std::int64_t> measuredPowerAt1MeterFromMfrData(Data d, std::size_t at) { return signed8(d, at); }
std::optional<std::int64_t> majorFromMfrData(Data d, std::size_t at) { return bigEndian16(d, at); }
std::optional<std::int64_t> minorFromMfrData(Data d, std::size_t at) { return bigEndian16(d, at); }
std::optional<std::int64_t> targetSpeedInMillisecondsFromMfrData(Data d, std::size_t at) {
  return bigEndian16(d, at);
}

std::optional<std::string> firmwareUIDFromMfrData(Data d, std::size_t at, std::size_t length) {
  if (!reaches(d, at, length)) return std::nullopt;
  std::string text = length == 3 ? "50" : "";
  const std::size_t start = text.size();
  text.resize(start + 2 * length);
  hextext::write(d.subspan(at, length), text.data() + start, false);
  return text;
}

std::optional<std::string> bluetoothAddressStringFromMfrData(Data d, std::size_t at) {
  if (!reaches(d, at, 6)) return std::nullopt;
  std::string text(12, '\0');
  hextext::write(d.subspan(at, 6), text.data(), true);
  return text;
}

std::optional<std::string> proximityUUIDStringFromMfrData(Data d, std::size_t at) {
  if (!reaches(d, at, 16)) return std::nullopt;
  std::string text(36, '\0');
  hextext::writeUuid(std::span<const std::uint8_t, 16>(d.data() + at, 16), text.data());
  return text;
}

std::optional<std::string_view> proximityUUIDStringFromMfrData(Data d, std::size_t at, std::size_t length,
                                                               std::span<const std::string> uuids) {
  if (!reaches(d, at, length) || length > 16) return std::nullopt;
  char tail[32];
  const std::size_t digits = hextext::write(d.subspan(at, length), tail, true);
  const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  for (const std::string& entry : uuids) {
    // The entry's digits without dashes must number exactly 32; compare its last ones,
    // walking back from the end, without building the stripped text.
    std::size_t count = 0;
    for (char c : entry) count += c != '-';
    if (count != 32) continue;
    std::size_t matched = 0;
    for (std::size_t i = entry.size(); i > 0 && matched < digits; --i) {
      const char c = entry[i - 1];
      if (c == '-') continue;
      if (upper(c) != tail[digits - 1 - matched]) break;
      ++matched;
    }
    if (matched == digits) return std::string_view(entry);
  }
  return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> payloadDataFromMfrData(Data d) {
  if (d.size() < 7) return std::nullopt;
  return d.subspan(7);
}

}  // namespace velmora::kestrine::adData
