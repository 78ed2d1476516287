#include "beacons/model/KSAdDataConstants.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "beacons/model/KSBeaconUtilities.h"

namespace velmora::kestrine {
namespace {

// Each constant beside the exact text it must carry. Most equal their names; the few that
// do not are the ones a typo would silently break in stored data and plug-ins.
TEST(KSAdDataConstants, EachConstantCarriesItsExactText) {
  const std::vector<std::pair<std::string_view, std::string_view>> table = {
      {KSAdDataTypeKey, "KSAdDataTypeKey"},
      {KSKestrineAdDataTypeKey, "KSKestrineAdDataTypeKey"},
      {KSAdDataProximityUUIDStringKey, "KSAdDataProximityUUIDStringKey"},
      {KSAdDataMajorKey, "KSAdDataMajorKey"},
      {KSAdDataMinorKey, "KSAdDataMinorKey"},
      {KSAdDataMeasuredPowerAt1MeterKey, "KSAdDataMeasuredPowerAt1MeterKey"},
      {KSAdDataTxPowerLevelKey, "KSAdDataTxPowerLevelKey"},
      {KSAdDataBatteryLevelKey, "KSAdDataBatteryLevelKey"},
      {KSAdDataBeaconLoudnessLevelKey, "KSAdDataBeaconLoudnessLevelKey"},
      {KSAdDataTargetSpeedInMillisecondsKey, "KSAdDataTargetSpeedInMillisecondsKey"},
      {KSAdDataSettingsVersionKey, "KSAdDataSettingsVersionKey"},
      {KSAdDataFirmwareUIDKey, "KSAdDataFirmwareUIDKey"},
      {KSAdDataBluetoothAddressStringKey, "KSAdDataBluetoothAddressStringKey"},
      {KSAdDataSequenceNumberKey, "KSKestrineAdDataSequenceNumberKey"},
      {KSAdDataTeamIDKey, "KSAdDataTeamIDKey"},
      {KSAdDataAlertKey, "KSAdDataAlertKey"},
      {KSAdDataIdentifierDataKey, "KSAdDataIdentifierDataKey"},
      {KSAdDataMeasurementDataKey, "KSAdDataMeasurementDataKey"},
      {KSAdDataEncryptedStatusKey, "KSAdDataEncryptedStatusKey"},
      {KSBlockDataIdentifierKey, "KSBlockDataIdentifierKey"},
      {KSBlockDataTypeKey, "KSBlockDataTypeKey"},
      {KSBlockDataIndexKey, "KSBlockDataIndexKey"},
      {KSBlockDataCountKey, "KSBlockDataCountKey"},
      {KSBlockDataEncodingKey, "KSBlockDataEncodingKey"},
      {KSBlockDataLengthKey, "KSBlockDataLengthKey"},
      {KSBlockDataDataKey, "KSBlockDataDataKey"},
      {KSBlockDataDataForIndexKey, "KSBlockDataDataForIndexKey"},
      {KSBlockDataReassembledAtKey, "KSBlockDataReassembledAtKey"},
      {KSAdDataEddystoneUIDStringKey, "KSAdDataEddystoneUIDStringKey"},
      {KSAdDataEddystoneUIDNameSpaceKey, "KSAdDataEddystoneUIDNameSpaceKey"},
      {KSAdDataEddystoneURLStringKey, "KSAdDataEddystoneURLStringKey"},
      {KSAdDataEddystoneURLSchemeKey, "KSAdDataEddystoneURLSchemeKey"},
      {KSAdDataEddystoneEIDStringKey, "KSAdDataEddystoneEIDStringKey"},
      {KSAdDataBatteryVoltageDataKey, "KSAdDataBatteryVoltageDataKey"},
      {KSAdDataTempDataKey, "KSAdDataTempDataKey"},
      {KSAdDataAdCountKey, "KSAdDataAdCountKey"},
      {KSAdDataUptimeDataKey, "KSAdDataUptimeDataKey"},
      {KSAdDataLocalNameKey, "KSAdDataLocalNameKey"},
      {KSAdDataTimestampKey, "KSAdDataTimestampKey"},
      {KSAdDataFirstDiscoveredAtKey, "KSAdDataFirstDiscoveredAtKey"},
      {KSAdDataDiscoveredCountKey, "KSAdDataDiscoveredCountKey"},
      {KSAdDataDiscoveredPerMinuteKey, "KSAdDataDiscoveredPerMinuteKey"},
      {KSAdDataProcessorStaticIDKey, "KSAdProcessorStaticIDKey"},
      {KSAdDataProcessorDataKey, "KSAdProcessorDataKey"},
      {KSAdDataTypeAppleIBeaconKey, "KSAdDataTypeAppleIBeaconKey"},
      {KSAdDataTypeKestrineIBeaconKey, "KSAdDataTypeKestrineIBeaconKey"},
      {KSAdDataTypeKestrineSecureKey, "KSAdDataTypeKestrineSecureKey"},
      {KSAdDataTypeKestrineBlockDataKey, "KSAdDataTypeKestrineBlockDataKey"},
      {KSAdDataTypeKestrineNewbornKey, "KSAdDataTypeKestrineNewbornKey"},
      {KSAdDataTypeKestrineManagementKey, "KSAdDataTypeKestrineManagementKey"},
      {KSAdDataTypeKestrineIdentifierKey, "KSAdDataTypeKestrineIdentifierKey"},
      {KSAdDataTypeKestrineMeasurementKey, "KSAdDataTypeKestrineMeasurementKey"},
      {KSAdDataTypeEncryptedStatusKey, "KSAdDataEncryptedStatusKey"},
      {KSAdDataTypeEddystoneUIDKey, "KSAdDataTypeEddystoneUIDKey"},
      {KSAdDataTypeEddystoneURLKey, "KSAdDataTypeEddystoneURLKey"},
      {KSAdDataTypeEddystoneTelKey, "KSAdDataTypeEddystoneTelKey"},
      {KSAdDataTypeEddystoneEIDKey, "KSAdDataTypeEddystoneEIDKey"},
      {KSAdDataTypeSecure16Key, "KSAdDataTypeSecure16Key"},
      {KSProximityUUIDString, "61687109-905F-4436-91F8-E602F514C96D"},
  };
  for (const auto& [constant, text] : table) EXPECT_EQ(constant, text);

  // Apart from the one deliberate pair (the encrypted-status type value is the key's text),
  // no two constants share a text: two keys with one text would overwrite each other.
  std::set<std::string_view> seen;
  int shared = 0;
  for (const auto& [constant, text] : table) {
    if (!seen.insert(constant).second) ++shared;
  }
  EXPECT_EQ(shared, 1);
}

}  // namespace
}  // namespace velmora::kestrine
