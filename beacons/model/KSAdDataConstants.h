#pragma once

#include <string_view>

// The vocabulary of the advertisement-data dictionary: the keys under which a parsed
// advertisement carries its fields, and the values of KSAdDataTypeKey that name the frame
// kind. Every constant's text is its own name except where noted beside it; those texts are
// part of what the SDK exports and stores, so they are kept exactly as they are.
namespace velmora::kestrine {

// --- keys ----------------------------------------------------------------------------------
inline constexpr std::string_view KSAdDataTypeKey = "KSAdDataTypeKey";
inline constexpr std::string_view KSKestrineAdDataTypeKey = "KSKestrineAdDataTypeKey";
inline constexpr std::string_view KSAdDataProximityUUIDStringKey = "KSAdDataProximityUUIDStringKey";
inline constexpr std::string_view KSAdDataMajorKey = "KSAdDataMajorKey";
inline constexpr std::string_view KSAdDataMinorKey = "KSAdDataMinorKey";
inline constexpr std::string_view KSAdDataMeasuredPowerAt1MeterKey = "KSAdDataMeasuredPowerAt1MeterKey";
inline constexpr std::string_view KSAdDataTxPowerLevelKey = "KSAdDataTxPowerLevelKey";
inline constexpr std::string_view KSAdDataBatteryLevelKey = "KSAdDataBatteryLevelKey";
inline constexpr std::string_view KSAdDataBeaconLoudnessLevelKey = "KSAdDataBeaconLoudnessLevelKey";
inline constexpr std::string_view KSAdDataTargetSpeedInMillisecondsKey = "KSAdDataTargetSpeedInMillisecondsKey";
inline constexpr std::string_view KSAdDataSettingsVersionKey = "KSAdDataSettingsVersionKey";
inline constexpr std::string_view KSAdDataFirmwareUIDKey = "KSAdDataFirmwareUIDKey";
inline constexpr std::string_view KSAdDataBluetoothAddressStringKey = "KSAdDataBluetoothAddressStringKey";
// Text differs from the name.
inline constexpr std::string_view KSAdDataSequenceNumberKey = "KSKestrineAdDataSequenceNumberKey";
inline constexpr std::string_view KSAdDataTeamIDKey = "KSAdDataTeamIDKey";
inline constexpr std::string_view KSAdDataAlertKey = "KSAdDataAlertKey";
inline constexpr std::string_view KSAdDataIdentifierDataKey = "KSAdDataIdentifierDataKey";
inline constexpr std::string_view KSAdDataMeasurementDataKey = "KSAdDataMeasurementDataKey";
inline constexpr std::string_view KSAdDataEncryptedStatusKey = "KSAdDataEncryptedStatusKey";

inline constexpr std::string_view KSBlockDataIdentifierKey = "KSBlockDataIdentifierKey";
inline constexpr std::string_view KSBlockDataTypeKey = "KSBlockDataTypeKey";
inline constexpr std::string_view KSBlockDataIndexKey = "KSBlockDataIndexKey";
inline constexpr std::string_view KSBlockDataCountKey = "KSBlockDataCountKey";
inline constexpr std::string_view KSBlockDataEncodingKey = "KSBlockDataEncodingKey";
inline constexpr std::string_view KSBlockDataLengthKey = "KSBlockDataLengthKey";
inline constexpr std::string_view KSBlockDataDataKey = "KSBlockDataDataKey";
// Used by the beacon record's block reassembly; the parser never sets them.
inline constexpr std::string_view KSBlockDataDataForIndexKey = "KSBlockDataDataForIndexKey";
inline constexpr std::string_view KSBlockDataReassembledAtKey = "KSBlockDataReassembledAtKey";

inline constexpr std::string_view KSAdDataEddystoneUIDStringKey = "KSAdDataEddystoneUIDStringKey";
inline constexpr std::string_view KSAdDataEddystoneUIDNameSpaceKey = "KSAdDataEddystoneUIDNameSpaceKey";
inline constexpr std::string_view KSAdDataEddystoneURLStringKey = "KSAdDataEddystoneURLStringKey";
inline constexpr std::string_view KSAdDataEddystoneURLSchemeKey = "KSAdDataEddystoneURLSchemeKey";
inline constexpr std::string_view KSAdDataEddystoneEIDStringKey = "KSAdDataEddystoneEIDStringKey";
inline constexpr std::string_view KSAdDataBatteryVoltageDataKey = "KSAdDataBatteryVoltageDataKey";
inline constexpr std::string_view KSAdDataTempDataKey = "KSAdDataTempDataKey";
inline constexpr std::string_view KSAdDataAdCountKey = "KSAdDataAdCountKey";
inline constexpr std::string_view KSAdDataUptimeDataKey = "KSAdDataUptimeDataKey";

// Added by the central client after parsing.
inline constexpr std::string_view KSAdDataLocalNameKey = "KSAdDataLocalNameKey";
inline constexpr std::string_view KSAdDataTimestampKey = "KSAdDataTimestampKey";
inline constexpr std::string_view KSAdDataFirstDiscoveredAtKey = "KSAdDataFirstDiscoveredAtKey";
inline constexpr std::string_view KSAdDataDiscoveredCountKey = "KSAdDataDiscoveredCountKey";
// Declared for clients and ad-data processor plug-ins; nothing in the SDK sets them.
inline constexpr std::string_view KSAdDataDiscoveredPerMinuteKey = "KSAdDataDiscoveredPerMinuteKey";
// Texts differ from the names.
inline constexpr std::string_view KSAdDataProcessorStaticIDKey = "KSAdProcessorStaticIDKey";
inline constexpr std::string_view KSAdDataProcessorDataKey = "KSAdProcessorDataKey";

// --- values of KSAdDataTypeKey --------------------------------------------------------------
inline constexpr std::string_view KSAdDataTypeAppleIBeaconKey = "KSAdDataTypeAppleIBeaconKey";
inline constexpr std::string_view KSAdDataTypeKestrineIBeaconKey = "KSAdDataTypeKestrineIBeaconKey";
inline constexpr std::string_view KSAdDataTypeKestrineSecureKey = "KSAdDataTypeKestrineSecureKey";
inline constexpr std::string_view KSAdDataTypeKestrineBlockDataKey = "KSAdDataTypeKestrineBlockDataKey";
inline constexpr std::string_view KSAdDataTypeKestrineNewbornKey = "KSAdDataTypeKestrineNewbornKey";
inline constexpr std::string_view KSAdDataTypeKestrineManagementKey = "KSAdDataTypeKestrineManagementKey";
inline constexpr std::string_view KSAdDataTypeKestrineIdentifierKey = "KSAdDataTypeKestrineIdentifierKey";
inline constexpr std::string_view KSAdDataTypeKestrineMeasurementKey = "KSAdDataTypeKestrineMeasurementKey";
// The same text as the key KSAdDataEncryptedStatusKey.
inline constexpr std::string_view KSAdDataTypeEncryptedStatusKey = "KSAdDataEncryptedStatusKey";
inline constexpr std::string_view KSAdDataTypeEddystoneUIDKey = "KSAdDataTypeEddystoneUIDKey";
inline constexpr std::string_view KSAdDataTypeEddystoneURLKey = "KSAdDataTypeEddystoneURLKey";
inline constexpr std::string_view KSAdDataTypeEddystoneTelKey = "KSAdDataTypeEddystoneTelKey";
inline constexpr std::string_view KSAdDataTypeEddystoneEIDKey = "KSAdDataTypeEddystoneEIDKey";
// Declared; no parser produces it.
inline constexpr std::string_view KSAdDataTypeSecure16Key = "KSAdDataTypeSecure16Key";

}  // namespace velmora::kestrine
