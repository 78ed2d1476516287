#pragma once

#include <cstdint>
#include <string>

#include "platform/bluetooth/BluetoothUUID.h"

// Small helpers over Bluetooth attribute UUIDs used by the GATT commands.
namespace velmora::kestrine::uuid_additions {

// Upper-case hex of the UUID's bytes, without dashes or brackets ("FEC4").
std::string stringValue(const platform::bluetooth::BluetoothUUID& uuid);
// True when `other`'s bytes begin with `uuid`'s, compared over uuid's 2, 4 or 16 bytes.
bool isEqualToUUID(const platform::bluetooth::BluetoothUUID& uuid, const platform::bluetooth::BluetoothUUID& other);
// True when the first two bytes, read big-endian, equal the value.
bool isEqualToInt(const platform::bluetooth::BluetoothUUID& uuid, std::uint16_t value);
constexpr std::uint16_t swap(std::uint16_t value) {
  return static_cast<std::uint16_t>(((value & 0xFF) << 8) | (value >> 8));
}

}  // namespace velmora::kestrine::uuid_additions
