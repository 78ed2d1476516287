// The byte layouts of the settings updates: the advertisement schema tables, the offline
// payload with its checks and its encryption, the cloud blob's pieces and chunks, and the
// legacy version lines.
#include <gtest/gtest.h>

#include "beacons/configuration/KSAdSchema.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/configuration/KSLegacySettingsLines.h"
#include "beacons/configuration/KSOfflineSettingsData.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconVersion.h"
#include "beacons/model/KSTargetSpeed.h"
#include "platform/crypto/Digest.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Dict;
using platform::Value;
using velmora::testing::hexBytes;

Bytes md5(std::string_view text) { return platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, text); }
Bytes zeros(std::size_t n) { return Bytes(n, 0x00); }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes range(std::size_t n, std::uint8_t from = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}
Dict dict(std::initializer_list<std::pair<const std::string, Value>> items) { return *Value::makeDict(items).dict(); }

// --- advertisement schema

TEST(AdSchema, ScalesTheTargetSpeedByItsBand) {
  const std::vector<std::pair<std::uint16_t, std::uint16_t>> rows{
      {50, 250}, {51, 153}, {200, 600}, {201, 402}, {400, 800}, {401, 401}, {20000, 20000}, {30000, 30000}, {0, 0}};
  for (auto [t, T] : rows) EXPECT_EQ(ad_schema::adSchemaTargetSpeed(t), T) << t;
}

TEST(AdSchema, BuildsTheTablesOfEachMode) {
  EXPECT_EQ(ad_schema::adSchemaForModeId(KSBeaconModeIDIBeacon, 100),
            hexBytes("00 0D 02 01 13 88 00 00 02 01 2C 00 00 00 13 88 00 00 00 01 2C 00 00"));
  for (std::uint16_t t : {0, 100, 401, 65535}) {
    EXPECT_EQ(ad_schema::adSchemaForModeId(KSBeaconModeIDIBeaconPlusUID, t),
              hexBytes("00 17 04 01 01 F4 00 00 07 01 F4 00 00 01 01 F4 00 00 00 01 F4 00 00"))
        << "mode 7 ignores the target speed " << t;
  }
  EXPECT_EQ(ad_schema::adSchemaForModeId(8, 100),
            hexBytes("00 17 04 00 13 88 00 00 00 01 2C 00 00 00 13 88 00 00 00 01 2C 00 00"));
  EXPECT_EQ(ad_schema::adSchemaForModeId(-1, 100), ad_schema::adSchemaForModeId(8, 100));
  EXPECT_EQ(ad_schema::adSchemaForModeId(KSBeaconModeIDNewborn, 50),
            hexBytes("00 08 01 0C 13 88 00 00 00 00 FA 00 00 00 13 88 00 00 00 00 FA 00 00"));

  const Bytes burst = hexBytes("00 0D 02 00 01 F4 00 32 0D 01 F4 00 32");
  for (std::int64_t mode = 0; mode <= 8; ++mode) {
    Bytes expected = burst;
    if (mode == KSBeaconModeIDIBeacon) expected[3] = 0x02;
    if (mode == KSBeaconModeIDNewborn) expected[3] = 0x0C;
    EXPECT_EQ(ad_schema::burstTableForModeId(mode), expected) << mode;
  }
  const Dict both = ad_schema::adAndBurstTablesForModeId(KSBeaconModeIDIBeacon, 100);
  EXPECT_EQ(*both.at("AdDataTable").bytes(), ad_schema::adSchemaForModeId(KSBeaconModeIDIBeacon, 100));
  EXPECT_EQ(*both.at("BurstDataTable").bytes(), hexBytes("00 0D 02 02 01 F4 00 32 0D 01 F4 00 32"));
}

// --- offline payload

TEST(OfflinePayload, WritesTheRecordsInTheBeaconsOrderAndPads) {
  EXPECT_EQ(offline_settings::unencryptedSettingsData(
                dict({{std::string(KSSettingsUpdateMajorKey), 1}, {std::string(KSSettingsUpdateMinorKey), 2}})),
            hexBytes("00 10 00 02 00 04 00 02 00 02 00 03 00 02 00 01"))
      << "a whole block gets no padding";
  EXPECT_EQ(offline_settings::unencryptedSettingsData({}), cat(hexBytes("00 04 00 00"), zeros(12)));
  EXPECT_EQ(offline_settings::unencryptedSettingsData(dict({{std::string(KSSettingsUpdateMajorKey), 1},
                                                            {std::string(KSSettingsUpdateMinorKey), 2},
                                                            {std::string(KSSettingsUpdateMeasuredPowerKey), -59},
                                                            {std::string(KSSettingsUpdateBeaconModeIDKey), 2},
                                                            {std::string(KSSettingsUpdateLocalNameShortKey), "ABC"},
                                                            {std::string(KSSettingsUpdateVersionKey), 7},
                                                            {std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"}})),
            cat(hexBytes("00 26 00 06 00 04 00 02 00 02 00 03 00 02 00 01 00 02 00 01 C5 00 08 00 01 02 00 1B 00 03 "
                         "41 42 43 00 07 00 01 07"),
                zeros(10)));
}

TEST(OfflinePayload, PutsTheAuthKeyOrTheNewPasscodeDigestInRecord0F) {
  const Bytes auth = range(16, 0xA0);
  auto record0F = [](const Dict& d) {
    auto payload = offline_settings::unencryptedSettingsData(d);
    EXPECT_TRUE(payload);
    if (!payload || payload->size() < 24 || (*payload)[5] != 0x0F) return Bytes{};
    return Bytes(payload->begin() + 8, payload->begin() + 24);
  };
  EXPECT_EQ(record0F(dict({{std::string(KSSettingsUpdateAuthKeyKey), auth},
                           {std::string(KSSettingsUpdateNewPasscodeKey), "654321"}})),
            auth);
  EXPECT_EQ(record0F(dict({{std::string(KSSettingsUpdateNewPasscodeKey), "654321"}})),
            hexBytes("c33367701511b4f6020ec61ded352059"));
  EXPECT_EQ(offline_settings::unencryptedSettingsData(dict({{std::string(KSSettingsUpdateNewPasscodeKey), ""}})),
            offline_settings::unencryptedSettingsData({}))
      << "an empty new passcode writes no record";
}

TEST(OfflinePayload, ChecksInOrderAndTheFirstFailureWins) {
  // Every key wrong at once; taking them away in the checking order shows each message.
  std::vector<std::pair<std::string, Value>> wrong{
      {std::string(KSSettingsUpdateAdChannelsKey), 256},
      {std::string(KSSettingsUpdateAuthKeyKey), Bytes(15, 1)},
      {std::string(KSSettingsUpdateEddystoneInstanceIDKey), "abcdef"},
      {std::string(KSSettingsUpdateEddystoneNamespaceIDKey), Bytes(9, 1)},
      {std::string(KSSettingsUpdateBeaconModeIDKey), 7},
      {std::string(KSSettingsUpdateProximityUUIDStringKey), "xyz"},
      {std::string(KSSettingsUpdateLocalNameShortKey), "ABCDEFGHIJKLM"},
      {std::string(KSSettingsUpdateEddystoneURLKey), "https://example.com/abcdefghijklmn"},
      {std::string(KSSettingsUpdateMajorKey), "1"},
  };
  const std::vector<std::string> messages{
      "Invalid Advertising Channel", "Invalid Auth Key", "Invalid Eddystone Instance ID",
      "Invalid Eddystone Namespace ID", "Invalid beacon mode", "Invalid proximity UUID string",
      "Invalid short local name",
      "Eddystone URL must be valid NSURL and length must be between 1 and 18 bytes",
      "Invalid setting KSSettingsUpdateMajorKey"};
  for (std::size_t first = 0; first < wrong.size(); ++first) {
    Dict d;
    for (std::size_t i = first; i < wrong.size(); ++i) d[wrong[i].first] = wrong[i].second;
    platform::Error error;
    EXPECT_FALSE(offline_settings::unencryptedSettingsData(d, &error));
    EXPECT_EQ(error.localizedDescription, messages[first]);
    EXPECT_EQ(error.domain, "com.kestrine.KSBeaconSettingsUpdateOfflineOperation");
    EXPECT_EQ(error.code, -1);
  }
}

TEST(OfflinePayload, AcceptsTheLimitsAndRefusesJustPastThem) {
  struct Row {
    std::string key;
    Value value;
    bool accepted;
  };
  const std::vector<Row> rows{
      {std::string(KSSettingsUpdateAdChannelsKey), 255, true},
      {std::string(KSSettingsUpdateAdChannelsKey), -1, false},
      {std::string(KSSettingsUpdateAdChannelsKey), "7", false},
      {std::string(KSSettingsUpdateLocalNameShortKey), "ABCDEFGHIJKL", true},
      {std::string(KSSettingsUpdateLocalNameShortKey), "", false},
      {std::string(KSSettingsUpdateLocalNameShortKey), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                                                       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       true},  // twelve characters, 24 bytes
      {std::string(KSSettingsUpdateEddystoneURLKey), "https://example.com/abcdefghi", true},   // 18 bytes
      {std::string(KSSettingsUpdateEddystoneURLKey), "https://example.com/abcdefghij", false},  // 19 bytes
      {std::string(KSSettingsUpdateEddystoneURLKey), "ftp://example.com", false},
      {std::string(KSSettingsUpdateBeaconModeIDKey), 6, true},
      {std::string(KSSettingsUpdateBeaconModeIDKey), 0, false},
      {std::string(KSSettingsUpdateEddystoneInstanceIDKey), Bytes(6, 1), true},
      {std::string(KSSettingsUpdateProximityUUIDStringKey), "01234567-89AB-CDEF-0123-456789ABCDEF", true},
      {std::string(KSSettingsUpdateAdSchemaKey), "not data", false},
      {std::string(KSSettingsUpdateAdAndBurstTableSchemaKey), Value::makeDict({{"AdDataTable", Bytes{1}}}), false},
      {std::string(KSSettingsUpdateNewPasscodeKey), 654321, false},
  };
  for (const auto& row : rows) {
    Dict d;
    d[row.key] = row.value;
    EXPECT_EQ(offline_settings::unencryptedSettingsData(d).has_value(), row.accepted) << row.key;
  }
}

TEST(OfflinePayload, WritesTheTablesAndRefusesAPayloadTooLongToNumber) {
  const auto tables = ad_schema::adAndBurstTablesForModeId(KSBeaconModeIDIBeacon, 100);
  auto payload = offline_settings::unencryptedSettingsData(
      dict({{std::string(KSSettingsUpdateAdAndBurstTableSchemaKey), Value(tables)}}));
  ASSERT_TRUE(payload);
  EXPECT_EQ(Bytes(payload->begin(), payload->begin() + 8), hexBytes("00 30 00 02 00 0D 00 17"));
  EXPECT_EQ(Bytes(payload->begin() + 31, payload->begin() + 35), hexBytes("00 1D 00 0D"));

  // 4,096 bytes exactly still numbers (256 chunks); one block more does not.
  auto withSchema = [](std::size_t n) {
    return dict({{std::string(KSSettingsUpdateAdSchemaKey), Bytes(n, 0xEE)}});
  };
  EXPECT_EQ(offline_settings::unencryptedSettingsData(withSchema(4096 - 8))->size(), 4096u);
  platform::Error error;
  EXPECT_FALSE(offline_settings::unencryptedSettingsData(withSchema(4096 - 7), &error));
  EXPECT_TRUE(error.localizedDescription.starts_with("Settings Data is wrong length <10010001 000d0ff9 eeeeeeee"))
      << error.localizedDescription;
}

TEST(OfflineEncryption, EncryptsUnderThePasscodeDigestAndSignsVectorAndCiphertext) {
  const Dict settings = dict({{std::string(KSSettingsUpdateMajorKey), 1}, {std::string(KSSettingsUpdateMinorKey), 2}});
  const Bytes key = md5("123456");
  struct Row {
    Bytes iv;
    const char* ciphertext;
    const char* mac;
  };
  for (const Row& row : {Row{zeros(16), "36a7912c86b16f6b4ca8862bb893024a", "d19e65ae517945b6548c8218c86be355"},
                         Row{range(16), "05ad2806ac468af9ee9bcd901fc26899", "efcfebe22d557fa4835e09af66d64b90"}}) {
    auto out = offline_settings::encryptedSettings(settings, key, key, row.iv);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->encrypted, hexBytes(row.ciphertext));
    EXPECT_EQ(out->mac, hexBytes(row.mac));
    EXPECT_EQ(out->initialVector, row.iv);
    EXPECT_EQ(out->unencrypted, hexBytes("00 10 00 02 00 04 00 02 00 02 00 03 00 02 00 01"));
    const Dict d = out->dictionary();
    EXPECT_EQ(*d.at("KSCMacDataKey").bytes(), out->mac);
    EXPECT_EQ(*d.at("KSEncryptedSettingsDataKey").bytes(), out->encrypted);
  }
  platform::Error error;
  EXPECT_FALSE(offline_settings::encryptedSettings(settings, Bytes(15, 0), key, zeros(16), &error));
  EXPECT_EQ(error.localizedDescription, "Bulk key required size 16 bytes");
  EXPECT_FALSE(offline_settings::encryptedSettings(
      dict({{std::string(KSSettingsUpdateAdChannelsKey), 300}}), key, key, zeros(16), &error));
  EXPECT_EQ(error.localizedDescription, "Invalid Advertising Channel");
}

TEST(OfflineEncryption, CmacMatchesThePublishedVectorsForWholeBlocks) {
  const Bytes key = hexBytes("2b7e1516 28aed2a6 abf71588 09cf4f3c");
  EXPECT_EQ(offline_settings::CMAC(hexBytes("6bc1bee2 2e409f96 e93d7e11 7393172a"), key),
            hexBytes("070a16b4 6b4d4144 f79bdd9d d04a287c"));
  EXPECT_EQ(offline_settings::CMAC(hexBytes("6bc1bee2 2e409f96 e93d7e11 7393172a ae2d8a57 1e03ac9c 9eb76fac 45af8e51 "
                                            "30c81c46 a35ce411 e5fbc119 1a0a52ef f69f2445 df4f9b17 ad2b417b e66c3710"),
                                   key),
            hexBytes("51f0bebf 7e3b9d92 fc497417 79363cfe"));
  EXPECT_FALSE(offline_settings::CMAC(Bytes(17, 0), key)) << "only whole blocks";
  EXPECT_FALSE(offline_settings::CMAC({}, key));
}

// --- cloud blob

TEST(SettingsBlob, CutsVectorBulkAndMacAndNumbersTheChunks) {
  auto blob = settings_blob::split(range(33));
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->initialVector, range(16));
  EXPECT_EQ(blob->bulk, Bytes{0x10});
  EXPECT_EQ(blob->mac, range(16, 0x11));
  EXPECT_EQ(settings_blob::chunked(blob->bulk, 0x16), (Bytes{0x16, 0x00, 0x10}));

  EXPECT_FALSE(settings_blob::split(range(32)));
  EXPECT_FALSE(settings_blob::split(std::nullopt));
  EXPECT_TRUE(settings_blob::split(Bytes(32 + 4096, 1)));
  EXPECT_FALSE(settings_blob::split(Bytes(32 + 4097, 1))) << "257 chunks cannot be numbered";
  EXPECT_EQ(settings_blob::wrongLengthMessage(range(5)), "Settings Data is wrong length <00010203 04>");
  EXPECT_EQ(settings_blob::wrongLengthMessage(std::nullopt), "Settings Data is wrong length (null)");

  const Bytes bulk32 = range(32), bulk33 = range(33);
  EXPECT_EQ(settings_blob::chunked(bulk32, 0x16), cat(cat(Bytes{0x16, 0x00}, range(16)), cat(Bytes{0x16, 0x01}, range(16, 16))));
  const Bytes three = settings_blob::chunked(bulk33, 0x16);
  ASSERT_EQ(three.size(), 39u);
  EXPECT_EQ(Bytes(three.end() - 3, three.end()), (Bytes{0x16, 0x02, 0x20}));
  // The plain form marks its last chunk.
  EXPECT_EQ(settings_blob::chunked(range(16), 0x18, 0x19), cat(Bytes{0x19, 0x00}, range(16)));
  const Bytes plain = settings_blob::chunked(range(48), 0x18, 0x19);
  EXPECT_EQ((Bytes{plain[0], plain[1], plain[18], plain[19], plain[36], plain[37]}),
            (Bytes{0x18, 0x00, 0x18, 0x01, 0x19, 0x02}));
}

TEST(SettingsBlob, EscapesAStatusForAPathQuery) {
  Bytes status{0xFB, 0xFF, 0xBF};
  status.resize(20, 0x00);
  EXPECT_EQ(settings_blob::escapedStatusText(status), "%2B/%2B/AAAAAAAAAAAAAAAAAAAAAAA%3D");
  EXPECT_EQ(settings_blob::escapedStatusText(std::nullopt), "");
  const std::string lines = settings_blob::escapedStatusText(Bytes(49, 0xFF));
  EXPECT_NE(lines.find("%0D%0A"), std::string::npos) << "49 bytes take two lines";
}

// --- legacy lines

TEST(LegacyLines, WritesTheVersionRecordLittleEndian) {
  KSBeaconVersion version;
  auto loudness = std::make_shared<KSBeaconLoudness>();
  loudness->setLevel(3);
  loudness->setMeasuredPowerAt1Meter(-70);
  auto speed = std::make_shared<KSTargetSpeed>();
  speed->setMilliseconds(152);
  auto mode = std::make_shared<KSBeaconMode>();
  mode->setBeaconModeID(1);
  version.setBeaconLoudness(loudness);
  version.setTargetSpeed(speed);
  version.setBeaconMode(mode);
  version.setMeasuredPowerAt1Meter(-59);
  version.setMajor(1);
  version.setMinor(2);
  version.setPrivacyDuration(0);
  version.setVersion(258);
  EXPECT_EQ(legacy_settings::versionLine1(version), hexBytes("0D 03 98 00 C5 01 01 00 02 00 10 27 00 00"));
  EXPECT_EQ(legacy_settings::versionLine3(version), hexBytes("0F 02"));

  version.setMeasuredPowerAt1Meter(std::nullopt);
  EXPECT_EQ(legacy_settings::measuredPowerAt1MeterWithBeaconVersion(version), 0xBA) << "the loudness record's -70";
  version.setBeaconLoudness(nullptr);
  EXPECT_EQ(legacy_settings::versionLine1(version), hexBytes("0D 00 98 00 00 01 01 00 02 00 10 27 00 00"));
  EXPECT_EQ(legacy_settings::versionLine1(KSBeaconVersion()), hexBytes("0D 00 00 00 00 00 00 00 00 00 10 27 00 00"));
}

TEST(LegacyLines, WritesSixteenUuidBytesOrRefusesTheText) {
  EXPECT_EQ(legacy_settings::versionLine2(std::nullopt), cat(Bytes{0x0E}, zeros(16)));
  EXPECT_EQ(legacy_settings::versionLine2(std::string()), cat(Bytes{0x0E}, zeros(16)));
  EXPECT_EQ(legacy_settings::versionLine2(std::string("01234567-89AB-CDEF-0123-456789ABCDEF")),
            hexBytes("0E 01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD EF"));
  EXPECT_FALSE(legacy_settings::versionLine2(std::string("0123")));
  EXPECT_FALSE(legacy_settings::versionLine2(std::string("01234567-89AB-CDEF-0123-456789ABCDEF00")));
  EXPECT_EQ(legacy_settings::dataFromHexString("a-bc-1"), (Bytes{0xAB, 0xC1}));
  EXPECT_EQ(legacy_settings::dataFromHexString("abc"), (Bytes{0xAB, 0x0C}));
  EXPECT_FALSE(legacy_settings::dataFromHexString("zz"));
}

}  // namespace
}  // namespace velmora::kestrine
