#pragma once

#include <string_view>

namespace velmora::kestrine {

// Keys of the settings dictionaries a host app hands to the offline and Eddystone updates.
inline constexpr std::string_view KSSettingsUpdateCurrentPasscodeKey = "KSSettingsUpdateCurrentPasscodeKey";
inline constexpr std::string_view KSSettingsUpdateNewPasscodeKey = "KSSettingsUpdateNewPasscodesKey";
inline constexpr std::string_view KSSettingsUpdateAuthKeyKey = "KSSettingsUpdateAuthKeyKey";
inline constexpr std::string_view KSSettingsUpdateSecurityTypeKey = "KSSettingsUpdateSecurityTypeKey";
inline constexpr std::string_view KSSettingsUpdateMinorKey = "KSSettingsUpdateMinorKey";
inline constexpr std::string_view KSSettingsUpdateMajorKey = "KSSettingsUpdateMajorKey";
inline constexpr std::string_view KSSettingsUpdateProximityUUIDStringKey = "KSSettingsUpdateProximityUUIDStringKey";
inline constexpr std::string_view KSSettingsUpdateEddystoneNamespaceIDKey = "KSSettingsUpdateEddystoneNamespaceIDKey";
inline constexpr std::string_view KSSettingsUpdateEddystoneInstanceIDKey = "KSSettingsUpdateEddystoneInstanceIDKey";
inline constexpr std::string_view KSSettingsUpdatePrivacyDurationKey = "KSSettingsUpdatePrivacyDurationKey";
inline constexpr std::string_view KSSettingsUpdateMeasuredPowerKey = "KSSettingsUpdateMeasuredPowerKey";
inline constexpr std::string_view KSSettingsUpdateLoudnessLevelKey = "KSSettingsUpdateLoudnessLevelKey";
inline constexpr std::string_view KSSettingsUpdateTargetSpeedInMillisecondsKey = "KSSettingsUpdateTargetSpeedInMillisecondsKey";
inline constexpr std::string_view KSSettingsUpdateBeaconModeIDKey = "KSSettingsUpdateBeaconModeIDKey";
inline constexpr std::string_view KSSettingsUpdateLocalNameShortKey = "KSSettingsUpdateLocalNameShortKey";
inline constexpr std::string_view KSSettingsUpdateEddystoneURLKey = "KSSettingsUpdateEddystoneURLKey";
inline constexpr std::string_view KSSettingsUpdateAdSchemaKey = "KSSettingsUpdateAdSchemaKey";
inline constexpr std::string_view KSSettingsUpdateAdAndBurstTableSchemaKey = "KSSettingsUpdateAdAndBurstTableSchemaKey";
inline constexpr std::string_view KSSettingsUpdateAdChannelsKey = "KSSettingsUpdateAdChannelsKey";
inline constexpr std::string_view KSSettingsUpdateVersionKey = "KSSettingsUpdateVersionKey";

// The Eddystone configuration family. Only the slot dictionary and the passcodes are read by
// the configuration operation; the others are for the host app.
inline constexpr std::string_view KSEddyConfigAdvertisingIntervalKey = "KSEddyonfigAdvertisingIntervalKey";
inline constexpr std::string_view KSEddyConfigRadioTxPowerKey = "KSEddyonfigRadioTxPowerKey";
inline constexpr std::string_view KSEddyConfigAdvertisedTxPowerKey = "KSEddyConfigAdvertisedTxPowerKey";
inline constexpr std::string_view KSEddyConfigEIDIdentityKey = "KSEddyConfigEIDIdentityKey";
inline constexpr std::string_view KSEddyConfigFactoryResetKey = "KSEddyConfigFactoryResetKey";
inline constexpr std::string_view KSEddyConfigRemainConnectableKey = "KSEddyConfigRemainConnectableKey";

// The result keys of reading an Eddystone beacon's broadcast capabilities.
inline constexpr std::string_view KSEddySettingVersionKey = "KSEddySettingVersionKey";
inline constexpr std::string_view KSEddySettingTotalNumSlotsKey = "KSEddySettingTotalNumSlotsKey";
inline constexpr std::string_view KSEddySettingTotalNumEIDSlotsKey = "KSEddySettingTotalNumEIDSlotsKey";
inline constexpr std::string_view KSEddySettingCapabilitiesBitmaskKey = "KSEddySettingCapabilitiesBitmaskKey";
inline constexpr std::string_view KSEddySettingFramesSupportedBitmaskKey = "KSEddySettingFramesSupportedBitmaskKey";
inline constexpr std::string_view KSEddySettingTxPowersKey = "KSEddySettingTxPowersKey";

}  // namespace velmora::kestrine
