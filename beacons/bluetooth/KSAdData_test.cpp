#include "beacons/bluetooth/KSAdData.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "beacons/bluetooth/AdDataJSON.h"
#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {

TEST(KSAdData, FieldsKeepTheirKindsAndConvertToTheDictionary) {
  KSAdData ad(KSAdDataKind::KestrineManagement);
  ad.setInteger(KSAdDataField::TeamID, 5);
  ad.setText(KSAdDataField::BluetoothAddressString, "112233445566");
  const std::vector<std::uint8_t> payload = {0xCA, 0xFE};
  ad.setBytes(KSAdDataField::IdentifierData, payload);
  ad.setDate(KSAdDataField::Timestamp, platform::Date::fromUnixMicros(978307200500000));
  ad.setInteger(KSAdDataField::SequenceNumber, 1);
  ad.setInteger(KSAdDataField::SequenceNumber, 2);  // replaces

  EXPECT_EQ(ad.integer(KSAdDataField::TeamID), 5);
  EXPECT_EQ(ad.text(KSAdDataField::TeamID), std::nullopt);  // an integer is not a text
  EXPECT_EQ(ad.fieldCount(), 5u);

  const platform::Value dict = ad.toDictionary();
  EXPECT_EQ(dict, platform::Value::makeDict({
                      {std::string(KSAdDataTypeKey), "KSAdDataTypeKestrineManagementKey"},
                      {std::string(KSAdDataTeamIDKey), 5},
                      {std::string(KSAdDataBluetoothAddressStringKey), "112233445566"},
                      {std::string(KSAdDataIdentifierDataKey), platform::Bytes{0xCA, 0xFE}},
                      {std::string(KSAdDataTimestampKey), platform::Date::fromUnixMicros(978307200500000)},
                      {std::string("KSKestrineAdDataSequenceNumberKey"), 2},
                  }));
  EXPECT_EQ(adDataJSON::jsonText(ad),
            R"({"KSAdDataBluetoothAddressStringKey":"112233445566","KSAdDataIdentifierDataKey":"cafe",)"
            R"("KSAdDataTeamIDKey":5,"KSAdDataTimestampKey":"2001-01-01T00:00:00.500000Z",)"
            R"("KSAdDataTypeKey":"KSAdDataTypeKestrineManagementKey","KSKestrineAdDataSequenceNumberKey":2})");

  ad.remove(KSAdDataField::TeamID);
  EXPECT_FALSE(ad.contains(KSAdDataField::TeamID));
}

// Texts and bytes that outgrow the inline buffer move to the heap without losing any
// earlier field, and copies keep their own storage.
TEST(KSAdData, LongValuesSpillAndCopiesStandAlone) {
  KSAdData ad(KSAdDataKind::KestrineMeasurement);
  ad.setText(KSAdDataField::FirmwareUID, "0a0b0c0d");
  const std::vector<std::uint8_t> big(300, 0x5A);
  ad.setBytes(KSAdDataField::MeasurementData, big);
  const std::string url(500, 'u');
  ad.setText(KSAdDataField::EddystoneURLString, url);

  KSAdData copy = ad;
  ad.setText(KSAdDataField::FirmwareUID, "ffffffff");
  EXPECT_EQ(copy.text(KSAdDataField::FirmwareUID), "0a0b0c0d");
  EXPECT_EQ(ad.text(KSAdDataField::FirmwareUID), "ffffffff");
  const auto bytes = copy.bytes(KSAdDataField::MeasurementData);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes->begin(), bytes->end()), big);
  EXPECT_EQ(copy.text(KSAdDataField::EddystoneURLString), url);
  EXPECT_FALSE(copy == ad);
  copy.setText(KSAdDataField::FirmwareUID, "ffffffff");
  EXPECT_TRUE(copy == ad);
}

TEST(KSAdData, TypeKeysRoundTrip) {
  for (int k = 0; k <= static_cast<int>(KSAdDataKind::EddystoneEID); ++k) {
    const auto kind = static_cast<KSAdDataKind>(k);
    EXPECT_EQ(kindForTypeKey(typeKeyForKind(kind)), kind);
  }
  EXPECT_EQ(typeKeyForKind(KSAdDataKind::EncryptedStatus), KSAdDataEncryptedStatusKey);
  EXPECT_EQ(kindForTypeKey("KSAdDataTypeSecure16Key"), std::nullopt);
  EXPECT_EQ(keyForField(KSAdDataField::DiscoveredCount), KSAdDataDiscoveredCountKey);
}

}  // namespace
}  // namespace velmora::kestrine
