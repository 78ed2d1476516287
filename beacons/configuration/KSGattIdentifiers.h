#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/bluetooth/GattCharacteristic.h"

namespace velmora::kestrine {

// Services and characteristics of the beacons' configuration protocol. Three characteristic
// strings are kept in lower case as the beacons' documentation gives them; compare through
// BluetoothUUID (parse) or characteristicFor, never as text.
inline constexpr std::string_view KSServiceUUIDStringKestrineLong = "DDBFBA71-9C58-4B5F-BE23-E5FDEEF11EF4";
// KSServiceUUIDStringKestrineShort and KSServiceUUIDStringKestrineLongReverse are the central
// client's (KSCentralManagerClient.h), which scans for them.
inline constexpr std::string_view KSServiceUUIDStringEddystoneService = "A3C87500-8ED3-4BDF-8A39-A01BEBEDE295";
inline constexpr std::string_view KSServiceUUIDStringBattery = "180F";
inline constexpr std::string_view KSServiceUUIDStringTXPower = "1804";
inline constexpr std::string_view KSServiceUUIDStringDeviceInformation = "180A";
inline constexpr std::string_view KSCharacteristicUUIDStringWater = "9993F233-AC1E-4139-84C2-62DB29EA081C";
inline constexpr std::string_view KSCharacteristicUUIDStringMilk = "233E302C-8BD5-42C7-9868-2F8D67555051";
inline constexpr std::string_view KSCharacteristicUUIDStringControl = "67A29537-CA4A-4536-ABEC-8B5C0A5B425B";
inline constexpr std::string_view KSCharacteristicUUIDStringIndicator = "EB459771-C9D6-4841-8748-DF477740AC0B";
inline constexpr std::string_view KSCharacteristicUUIDStringGravy = "FC2BFB4C-BC72-4382-8DFC-91FE7D05C335";
inline constexpr std::string_view KSCharacteristicUUIDStringMeasuredPower = "ba38b8cc-2ae9-44cb-a796-46eca4bcda03";
inline constexpr std::string_view KSCharacteristicUUIDStringVersion = "bd85a126-2079-4daa-a56a-719e77f58c3c";
inline constexpr std::string_view KSCharacteristicUUIDStringBeaconLoudness = "B4C646F4-BDF2-4C82-9AD4-AD988E5673A4";
inline constexpr std::string_view KSCharacteristicUUIDStringTargetSpeed = "E24B538B-A715-4445-A160-A0C4BECFB021";
inline constexpr std::string_view KSCharacteristicUUIDStringProximityUUIDString = "6711829F-81E0-4775-B9BF-09E9BDE1BB15";
inline constexpr std::string_view KSCharacteristicUUIDStringMajor = "BEF5086E-70A2-47DE-8477-E184AD763FF8";
inline constexpr std::string_view KSCharacteristicUUIDStringMinor = "226be94b-741e-4776-9333-89d1dd647339";
inline constexpr std::string_view KSCharacteristicUUIDStringBatteryLevel = "2A19";
inline constexpr std::string_view KSCharacteristicUUIDStringTXPowerLevel = "2A07";
inline constexpr std::string_view KSCharacteristicUUIDStringMfrName = "2A29";
inline constexpr std::string_view ESCharacteristicUUIDStringLockstate = "A3C87506-8ED3-4BDF-8A39-A01BEBEDE295";
inline constexpr std::string_view ESCharacteristicUUIDStringUnlock = "A3C87507-8ED3-4BDF-8A39-A01BEBEDE295";
inline constexpr std::string_view ESCharacteristicUUIDStringBroadcastCapability = "A3C87501-8ED3-4BDF-8A39-A01BEBEDE295";
inline constexpr std::string_view ESCharacteristicUUIDStringRWADVSlot = "A3C8750A-8ED3-4BDF-8A39-A01BEBEDE295";
inline constexpr std::string_view ESCharacteristicUUIDStringActiveSlot = "A3C87502-8ED3-4BDF-8A39-A01BEBEDE295";

// The UUID of one of the constants above (they all parse).
platform::bluetooth::BluetoothUUID gattUUID(std::string_view constant);

// Process-wide service identifiers, made once from the constants.
const platform::bluetooth::BluetoothUUID& eddystoneServiceUUID();
const platform::bluetooth::BluetoothUUID& kestrineServiceUUID();
const platform::bluetooth::BluetoothUUID& kestrineServiceShortUUID();

// What a discovery found: characteristics keyed by the canonical upper-case text of their
// UUID ("2A19", or the 36-character form).
using KSCharacteristicMap = std::map<std::string, std::shared_ptr<platform::bluetooth::GattCharacteristic>>;

// The characteristic of a constant (any case, either length) in a discovery map, or nullptr.
std::shared_ptr<platform::bluetooth::GattCharacteristic> characteristicFor(const KSCharacteristicMap& map,
                                                                           std::string_view uuidText);

}  // namespace velmora::kestrine
