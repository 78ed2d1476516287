#include "beacons/bluetooth/AdData.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "beacons/bluetooth/AdDataJSON.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

std::vector<std::uint8_t> hex(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits.push_back(c);
  }
  std::vector<std::uint8_t> out;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
  }
  return out;
}

// Known UUIDs for the maker's iBeacon frames, which carry only a tail of the UUID. The first
// two differ only in letter case: the earlier one wins, returned in its own case.
const std::vector<std::string> kKnownUUIDs = {
    "not-a-uuid",
    "e2c56db5-dffb-48d2-b060-d0f5a71096e0",
    "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0",
    "B9407F30F5F8466EAFF925556B57FE6D",
};

std::optional<std::string> parseMfr(std::string_view mfrHex) {
  const auto data = hex(mfrHex);
  KSAdvertisement adv{.manufacturerData = std::span<const std::uint8_t>(data)};
  auto ad = adData::mutableAdDataWithProximityUUIDStrings(adv, kKnownUUIDs);
  if (!ad) return std::nullopt;
  return adDataJSON::jsonText(*ad);
}

std::optional<std::string> parseEddystone(std::string_view serviceHex) {
  const auto data = hex(serviceHex);
  const KSServiceDataEntry entries[] = {{"FEAA", data}};
  KSAdvertisement adv{.serviceData = entries};
  auto ad = adData::mutableAdDataWithProximityUUIDStrings(adv, kKnownUUIDs);
  if (!ad) return std::nullopt;
  return adDataJSON::jsonText(*ad);
}

// Expected JSON text, normalised through the JSON reader and writer so key order and spacing
// do not matter.
std::optional<std::string> json(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto value = platform::json::parse(text);
  EXPECT_TRUE(value) << text;
  return platform::json::write(*value);
}

struct FrameCase {
  const char* name;
  const char* hex;
  const char* expected;  // empty: nothing
};

void runTable(const std::vector<FrameCase>& table, std::optional<std::string> (*parse)(std::string_view)) {
  for (const auto& c : table) EXPECT_EQ(parse(c.hex), json(c.expected)) << c.name;
}

TEST(AdData, AppleIBeacon) {
  runTable({
               {"plain", "4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5",
                R"({"KSAdDataTypeKey":"KSAdDataTypeAppleIBeaconKey",
                    "KSAdDataProximityUUIDStringKey":"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0",
                    "KSAdDataMajorKey":1,"KSAdDataMinorKey":22,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"major and minor are unsigned", "4c000215 e2c56db5dffb48d2b060d0f5a71096e0 ffff 8000 7f",
                R"({"KSAdDataTypeKey":"KSAdDataTypeAppleIBeaconKey",
                    "KSAdDataProximityUUIDStringKey":"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0",
                    "KSAdDataMajorKey":65535,"KSAdDataMinorKey":32768,"KSAdDataMeasuredPowerAt1MeterKey":127})"},
               {"default keep-alive is dropped", "4c000215 61687109905f443691f8e602f514c96d 0000 0000 c5", ""},
               {"keep-alive UUID with minor 1 is kept", "4c000215 61687109905f443691f8e602f514c96d 0000 0001 c5",
                R"({"KSAdDataTypeKey":"KSAdDataTypeAppleIBeaconKey",
                    "KSAdDataProximityUUIDStringKey":"61687109-905F-4436-91F8-E602F514C96D",
                    "KSAdDataMajorKey":0,"KSAdDataMinorKey":1,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"24 bytes", "4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016", ""},
               {"26 bytes", "4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5 00", ""},
               {"wrong subtype", "4c000216 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5", ""},
               {"other Apple data", "4c0010050318a4b1c2", ""},
           },
           parseMfr);
}

TEST(AdData, KestrineIBeaconFrames) {
  runTable({
               {"type 2 matches a 9-byte tail, first known UUID in its own case",
                "040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIBeaconKey","KSKestrineAdDataTypeKey":2,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMajorKey":258,"KSAdDataMinorKey":772,
                    "KSAdDataTargetSpeedInMillisecondsKey":1000,"KSAdDataBeaconLoudnessLevelKey":5,
                    "KSAdDataTxPowerLevelKey":-12,"KSAdDataMeasuredPowerAt1MeterKey":-59,
                    "KSAdDataBatteryLevelKey":100,
                    "KSAdDataProximityUUIDStringKey":"e2c56db5-dffb-48d2-b060-d0f5a71096e0"})"},
               {"type 3 (version 1) carries a settings version and an 8-byte tail",
                "040113 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 07 aff925556b57fe6d",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIBeaconKey","KSKestrineAdDataTypeKey":3,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMajorKey":258,"KSAdDataMinorKey":772,
                    "KSAdDataTargetSpeedInMillisecondsKey":1000,"KSAdDataBeaconLoudnessLevelKey":5,
                    "KSAdDataTxPowerLevelKey":-12,"KSAdDataMeasuredPowerAt1MeterKey":-59,
                    "KSAdDataBatteryLevelKey":100,"KSAdDataSettingsVersionKey":7,
                    "KSAdDataProximityUUIDStringKey":"B9407F30F5F8466EAFF925556B57FE6D"})"},
               {"unknown tail: still a record, without a UUID",
                "040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 000000000000000000",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIBeaconKey","KSKestrineAdDataTypeKey":2,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMajorKey":258,"KSAdDataMinorKey":772,
                    "KSAdDataTargetSpeedInMillisecondsKey":1000,"KSAdDataBeaconLoudnessLevelKey":5,
                    "KSAdDataTxPowerLevelKey":-12,"KSAdDataMeasuredPowerAt1MeterKey":-59,
                    "KSAdDataBatteryLevelKey":100})"},
               {"type 2 of 25 bytes", "040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096", ""},
               {"IBeacon4 by its fixed code 05",
                "040105 0a0b0c0d 0102 0304 c5 64 07 b060d0f5a71096e0",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIBeaconKey","KSKestrineAdDataTypeKey":5,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMajorKey":258,"KSAdDataMinorKey":772,
                    "KSAdDataMeasuredPowerAt1MeterKey":-59,"KSAdDataBatteryLevelKey":100,
                    "KSAdDataSettingsVersionKey":7,
                    "KSAdDataProximityUUIDStringKey":"e2c56db5-dffb-48d2-b060-d0f5a71096e0"})"},
               {"IBeacon4 version 1 (15)",
                "040115 0a0b0c0d 0102 0304 c5 64 07 b060d0f5a71096e0",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIBeaconKey","KSKestrineAdDataTypeKey":5,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMajorKey":258,"KSAdDataMinorKey":772,
                    "KSAdDataMeasuredPowerAt1MeterKey":-59,"KSAdDataBatteryLevelKey":100,
                    "KSAdDataSettingsVersionKey":7,
                    "KSAdDataProximityUUIDStringKey":"e2c56db5-dffb-48d2-b060-d0f5a71096e0"})"},
               {"IBeacon4 version 4 (45)", "040145 0a0b0c0d 0102 0304 c5 64 07 b060d0f5a71096e0", ""},
               {"IBeacon4 of 26 bytes", "040105 0a0b0c0d 0102 0304 c5 64 07 b060d0f5a71096e0 00000000", ""},
           },
           parseMfr);
}

TEST(AdData, KestrineSecureFramesAreDescrambled) {
  runTable({
               {"Secure1", "0401040a0b0c0d03e805f4c56407aa5e77bbbb1ce65bbfe9e773",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineSecureKey","KSKestrineAdDataTypeKey":4,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataTargetSpeedInMillisecondsKey":1000,
                    "KSAdDataBeaconLoudnessLevelKey":5,"KSAdDataTxPowerLevelKey":-12,
                    "KSAdDataMeasuredPowerAt1MeterKey":-59,"KSAdDataBatteryLevelKey":100,
                    "KSAdDataSettingsVersionKey":7,"KSAdDataBluetoothAddressStringKey":"112233445566",
                    "KSKestrineAdDataSequenceNumberKey":4660})"},
               {"Secure2 version 5 (56)", "0401560a0b0c0dc56407aa1337bb2d2c859b46d16f7c",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineSecureKey","KSKestrineAdDataTypeKey":6,
                    "KSAdDataFirmwareUIDKey":"0a0b0c0d","KSAdDataMeasuredPowerAt1MeterKey":-59,
                    "KSAdDataBatteryLevelKey":100,"KSAdDataSettingsVersionKey":7,
                    "KSAdDataBluetoothAddressStringKey":"A1B2C3D4E5F6",
                    "KSKestrineAdDataSequenceNumberKey":48879})"},
               {"Secure2 version 6 (66)", "0401660a0b0c0dc56407aa1337bb2d2c859b46d16f7c", ""},
               {"Secure2 of 21 bytes", "0401060a0b0c0dc56407aa1337bb2d2c859b46d16f", ""},
               {"Secure1 of 25 bytes", "0401040a0b0c0d03e805f4c56407aa5e77bbbb1ce65bbfe9e7", ""},
           },
           parseMfr);
}

TEST(AdData, KestrineBlockAndStatusFrames) {
  runTable({
               {"BlockData1: nibbles, L payload bytes, address",
                "040117 0000 21 35 05 6162636465 00000000000000 112233445566",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineBlockDataKey","KSKestrineAdDataTypeKey":7,
                    "KSBlockDataIdentifierKey":2,"KSBlockDataTypeKey":1,"KSBlockDataIndexKey":3,
                    "KSBlockDataCountKey":5,"KSBlockDataEncodingKey":0,"KSBlockDataLengthKey":5,
                    "KSBlockDataDataKey":"6162636465","KSAdDataBluetoothAddressStringKey":"112233445566"})"},
               {"BlockData1 version 0 (07)", "040107 0000 21 35 05 6162636465 00000000000000 112233445566", ""},
               {"BlockData2: payload and address descrambled",
                "040118778821350538c69fe6cb7760303a9612c2cc186861776f",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineBlockDataKey","KSKestrineAdDataTypeKey":8,
                    "KSBlockDataIdentifierKey":2,"KSBlockDataTypeKey":1,"KSBlockDataIndexKey":3,
                    "KSBlockDataCountKey":5,"KSBlockDataEncodingKey":0,"KSBlockDataLengthKey":5,
                    "KSBlockDataDataKey":"0102030405","KSAdDataBluetoothAddressStringKey":"C0FFEE123456"})"},
               {"BlockData2 with L = 0: empty payload, still an address",
                "040118778821354038c69fe6cb7760303a9612c2cc186861776f",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineBlockDataKey","KSKestrineAdDataTypeKey":8,
                    "KSBlockDataIdentifierKey":2,"KSBlockDataTypeKey":1,"KSBlockDataIndexKey":3,
                    "KSBlockDataCountKey":5,"KSBlockDataEncodingKey":4,"KSBlockDataLengthKey":0,
                    "KSBlockDataDataKey":"","KSAdDataBluetoothAddressStringKey":"C0FFEE123456"})"},
               {"BlockData2 by its fixed code 08", "040108778821350538c69fe6cb7760303a9612c2cc186861776f",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineBlockDataKey","KSKestrineAdDataTypeKey":8,
                    "KSBlockDataIdentifierKey":2,"KSBlockDataTypeKey":1,"KSBlockDataIndexKey":3,
                    "KSBlockDataCountKey":5,"KSBlockDataEncodingKey":0,"KSBlockDataLengthKey":5,
                    "KSBlockDataDataKey":"0102030405","KSAdDataBluetoothAddressStringKey":"C0FFEE123456"})"},
               {"BlockData2 of 25 bytes", "040108778821350538c69fe6cb7760303a9612c2cc18686177", ""},
               {"EncryptedStatus", "040109 00112233445566778899aabbccddeeff",
                R"({"KSAdDataTypeKey":"KSAdDataEncryptedStatusKey",
                    "KSAdDataEncryptedStatusKey":"00112233445566778899aabbccddeeff"})"},
               {"EncryptedStatus of 18 bytes", "040109 00112233445566778899aabbccddee", ""},
           },
           parseMfr);
}

TEST(AdData, KestrineNewbornAndManagementFamily) {
  runTable({
               {"NewBorn1 in full", "040100 112233445566 0a0b0c0d 07 c5 64",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineNewbornKey",
                    "KSAdDataBluetoothAddressStringKey":"112233445566","KSAdDataFirmwareUIDKey":"0a0b0c0d",
                    "KSAdDataSettingsVersionKey":7,"KSAdDataMeasuredPowerAt1MeterKey":-59,
                    "KSAdDataBatteryLevelKey":100})"},
               {"NewBorn1 of 10 bytes: only the address", "040100 112233445566 0a",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineNewbornKey",
                    "KSAdDataBluetoothAddressStringKey":"112233445566"})"},
               {"NewBorn1 of 4 bytes: only the type", "04010000", R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineNewbornKey"})"},
               {"Newborn2: team 5, alert 1, signed measured power, 3-byte firmware UID",
                "04010a 0b c5 64 2a 112233445566 123456 07",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineNewbornKey","KSAdDataTeamIDKey":5,"KSAdDataAlertKey":1,
                    "KSAdDataMeasuredPowerAt1MeterKey":-59,"KSAdDataBatteryLevelKey":100,
                    "KSKestrineAdDataSequenceNumberKey":42,"KSAdDataBluetoothAddressStringKey":"112233445566",
                    "KSAdDataFirmwareUIDKey":"50123456","KSAdDataSettingsVersionKey":7})"},
               {"Management, cut short after the address", "04011a fe 10 00 ff 112233445566",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineManagementKey","KSAdDataTeamIDKey":127,
                    "KSAdDataAlertKey":0,"KSAdDataMeasuredPowerAt1MeterKey":16,"KSAdDataBatteryLevelKey":0,
                    "KSKestrineAdDataSequenceNumberKey":255,"KSAdDataBluetoothAddressStringKey":"112233445566"})"},
               {"Identifier payload is bytes 7 on", "04013a 0b c5 64 01 cafe0102",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineIdentifierKey","KSAdDataTeamIDKey":5,"KSAdDataAlertKey":1,
                    "KSAdDataMeasuredPowerAt1MeterKey":-59,"KSAdDataBatteryLevelKey":100,
                    "KSKestrineAdDataSequenceNumberKey":1,"KSAdDataIdentifierDataKey":"cafe0102"})"},
               {"Measurement with an empty payload", "04015a 02 c4 32 09",
                R"({"KSAdDataTypeKey":"KSAdDataTypeKestrineMeasurementKey","KSAdDataTeamIDKey":1,"KSAdDataAlertKey":0,
                    "KSAdDataMeasuredPowerAt1MeterKey":-60,"KSAdDataBatteryLevelKey":50,
                    "KSKestrineAdDataSequenceNumberKey":9,"KSAdDataMeasurementDataKey":""})"},
               {"Measurement shorter than its header", "04015a 02 c4 32", ""},
               {"Management shorter than its header", "04011a 02", ""},
           },
           parseMfr);
}

TEST(AdData, UnknownCompaniesCodesAndLengthsYieldNothing) {
  runTable({
               {"other company", "0d00 02 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0", ""},
               {"type nibble 1", "040101 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0", ""},
               {"type nibble 9 beyond the fixed code", "040119 00112233445566778899aabbccddeeff", ""},
               {"type nibble A beyond the fixed codes", "04012a 0b c5 64 2a 112233445566 123456 07", ""},
               {"type nibble 0 beyond NewBorn1", "040110 112233445566 0a0b0c0d 07 c5 64", ""},
               {"Secure1 of 22 bytes", "040104 0a0b0c0d 03e8 05 f4 c5 64 07 aa5e77bbbb1ce65b", ""},
               {"empty", "", ""},
               {"one byte", "04", ""},
           },
           parseMfr);
}

TEST(AdData, EddystoneFrames) {
  runTable({
               {"UID of 20 bytes", "00ee 00112233445566778899 aabbccddeeff 0000",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneUIDKey",
                    "KSAdDataEddystoneUIDStringKey":"00112233445566778899AABBCCDDEEFF",
                    "KSAdDataEddystoneUIDNameSpaceKey":"00112233445566778899",
                    "KSAdDataTxPowerLevelKey":-18,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"UID of 18 bytes, same result", "00ee 00112233445566778899 aabbccddeeff",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneUIDKey",
                    "KSAdDataEddystoneUIDStringKey":"00112233445566778899AABBCCDDEEFF",
                    "KSAdDataEddystoneUIDNameSpaceKey":"00112233445566778899",
                    "KSAdDataTxPowerLevelKey":-18,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"UID of 19 bytes", "00ee 00112233445566778899 aabbccddeeff 00", ""},
               {"UID of 21 bytes", "00ee 00112233445566778899 aabbccddeeff 000000", ""},
               {"URL with expansions", "10ee 02 6578616d706c65 00 61 07",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneURLKey",
                    "KSAdDataEddystoneURLStringKey":"http://example.com/a.com",
                    "KSAdDataEddystoneURLSchemeKey":2,
                    "KSAdDataTxPowerLevelKey":-18,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"URL of 3 bytes is the scheme alone", "10f4 02",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneURLKey","KSAdDataEddystoneURLStringKey":"http://",
                    "KSAdDataEddystoneURLSchemeKey":2,
                    "KSAdDataTxPowerLevelKey":-12,"KSAdDataMeasuredPowerAt1MeterKey":-53})"},
               {"URL with an unknown scheme and raw control and non-ASCII bytes", "1000 04 61 0e 20 7f c3a9",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneURLKey","KSAdDataEddystoneURLStringKey":"a%0E %7F%C3%A9",
                    "KSAdDataEddystoneURLSchemeKey":4,
                    "KSAdDataTxPowerLevelKey":0,"KSAdDataMeasuredPowerAt1MeterKey":-41})"},
               {"TLM", "2000 0bb8 1800 00000100 00001000",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneTelKey","KSAdDataBatteryVoltageDataKey":"0bb8",
                    "KSAdDataTempDataKey":"1800","KSAdDataAdCountKey":256,"KSAdDataUptimeDataKey":"00001000"})"},
               {"TLM count is unsigned 32-bit", "2000 0bb8 1800 ffffffff 00001000",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneTelKey","KSAdDataBatteryVoltageDataKey":"0bb8",
                    "KSAdDataTempDataKey":"1800","KSAdDataAdCountKey":4294967295,"KSAdDataUptimeDataKey":"00001000"})"},
               {"TLM of 13 bytes", "2000 0bb8 1800 00000100 000010", ""},
               {"TLM of 15 bytes", "2000 0bb8 1800 00000100 0000100000", ""},
               {"EID", "30ee 0102030405060a0b",
                R"({"KSAdDataTypeKey":"KSAdDataTypeEddystoneEIDKey","KSAdDataEddystoneEIDStringKey":"0102030405060a0b",
                    "KSAdDataTxPowerLevelKey":-18,"KSAdDataMeasuredPowerAt1MeterKey":-59})"},
               {"EID of 9 bytes", "30ee 0102030405060a", ""},
               {"recognised kind 0x40 is not parsed", "40ee 0102030405060a0b", ""},
               {"unknown first byte", "50ee 0102030405060a0b", ""},
               {"one byte", "00", ""},
           },
           parseEddystone);
}

TEST(AdData, DispatchBetweenManufacturerAndServiceData) {
  const auto uid = hex("00ee 00112233445566778899 aabbccddeeff");
  const auto shortMfr = hex("4c0002");
  const auto otherCompany = hex("0d000215");
  const KSServiceDataEntry feaa[] = {{"0000feaa-0000-1000-8000-00805f9b34fb", uid}};
  const KSServiceDataEntry other[] = {{"180F", uid}};

  // Fewer than 4 bytes of manufacturer data leave the decision to the service data.
  auto ad = adData::mutableAdDataWithProximityUUIDStrings({shortMfr, feaa}, kKnownUUIDs);
  ASSERT_TRUE(ad);
  EXPECT_EQ(ad->kind(), KSAdDataKind::EddystoneUID);
  // Four or more bytes decide alone, even with Eddystone service data present.
  EXPECT_FALSE(adData::mutableAdDataWithProximityUUIDStrings({otherCompany, feaa}, kKnownUUIDs));
  // Service data under another UUID, or none at all.
  EXPECT_FALSE(adData::mutableAdDataWithProximityUUIDStrings({std::nullopt, other}, kKnownUUIDs));
  EXPECT_FALSE(adData::mutableAdDataWithProximityUUIDStrings({}, kKnownUUIDs));
}

TEST(AdData, FieldReadersStopAtTheEnd) {
  const auto d = hex("0401 c5 ffee 123456");
  EXPECT_EQ(adData::measuredPowerAt1MeterFromMfrData(d, 2), -59);
  EXPECT_EQ(adData::batteryLevelFromMfrData(d, 2), 197);
  EXPECT_EQ(adData::majorFromMfrData(d, 3), 0xffee);
  EXPECT_EQ(adData::majorFromMfrData(d, 7), std::nullopt);  // one byte short
  EXPECT_EQ(adData::versionFromMfrData(d, 8), std::nullopt);
  EXPECT_EQ(adData::versionFromMfrData(d, static_cast<std::size_t>(-1)), std::nullopt);
  EXPECT_EQ(adData::firmwareUIDFromMfrData(d, 5, 3), "50123456");
  EXPECT_EQ(adData::firmwareUIDFromMfrData(d, 4, 4), "ee123456");
  EXPECT_EQ(adData::firmwareUIDFromMfrData(d, 6, 3), std::nullopt);
  EXPECT_EQ(adData::bluetoothAddressStringFromMfrData(d, 2), "C5FFEE123456");
  EXPECT_EQ(adData::bluetoothAddressStringFromMfrData(d, 3), std::nullopt);
  EXPECT_EQ(adData::payloadDataFromMfrData(hex("000102030405")), std::nullopt);
  EXPECT_EQ(adData::proximityUUIDStringFromMfrData(hex("e2c56db5dffb48d2b060d0f5a71096e0"), 0),
            "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  EXPECT_EQ(adData::proximityUUIDStringFromMfrData(hex("e2c56db5dffb48d2b060d0f5a71096"), 0), std::nullopt);
}

}  // namespace
}  // namespace velmora::kestrine
