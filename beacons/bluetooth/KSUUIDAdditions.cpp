#include "beacons/bluetooth/KSUUIDAdditions.h"

#include <algorithm>

namespace velmora::kestrine::uuid_additions {

std::string stringValue(const platform::bluetooth::BluetoothUUID& uuid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(uuid.data().size() * 2);
  for (std::uint8_t b : uuid.data()) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xF]);
  }
  return out;
}

bool isEqualToUUID(const platform::bluetooth::BluetoothUUID& uuid, const platform::bluetooth::BluetoothUUID& other) {
  const auto& mine = uuid.data();
  const auto& theirs = other.data();
  if (mine.empty() || theirs.size() < mine.size()) return false;
  return std::equal(mine.begin(), mine.end(), theirs.begin());
}

bool isEqualToInt(const platform::bluetooth::BluetoothUUID& uuid, std::uint16_t value) {
  const auto& bytes = uuid.data();
  if (bytes.size() < 2) return false;
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]) == value;
}

}  // namespace velmora::kestrine::uuid_additions
