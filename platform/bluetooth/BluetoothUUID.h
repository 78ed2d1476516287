#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Uuid.h"

namespace velmora::platform::bluetooth {

// A Bluetooth attribute UUID: 2, 4 or 16 bytes, most significant byte first.
//
// A 128-bit UUID built on the Bluetooth base UUID (xxxxxxxx-0000-1000-8000-00805F9B34FB) is
// kept in its short form (2 bytes when the top 16 bits are zero, else 4), so "FEAA" and
// "0000FEAA-0000-1000-8000-00805F9B34FB" are the same UUID and compare equal.
class BluetoothUUID {
 public:
  BluetoothUUID() = default;  // empty: no bytes; never equal to a parsed UUID

  // "FEAA", "0000FEAA" or the 8-4-4-4-12 form, either case; anything else is nullopt.
  static std::optional<BluetoothUUID> parse(std::string_view text);
  // 2, 4 or 16 bytes, most significant first; other lengths are nullopt.
  static std::optional<BluetoothUUID> fromBytes(const std::uint8_t* data, std::size_t size);
  static std::optional<BluetoothUUID> fromBytes(const std::vector<std::uint8_t>& bytes) {
    return fromBytes(bytes.data(), bytes.size());
  }
  static BluetoothUUID from16(std::uint16_t value);
  static BluetoothUUID fromUuid(const Uuid& uuid);

  // The bytes of the short form (2 or 4) or of the full one (16).
  const std::vector<std::uint8_t>& data() const { return bytes_; }
  bool empty() const { return bytes_.empty(); }
  // The full 128-bit UUID (short forms expanded on the base UUID).
  Uuid uuid() const;
  // Upper-case text: 4 or 8 hex digits for a short form ("FEAA"), 8-4-4-4-12 for a full one.
  std::string string() const;

  friend bool operator==(const BluetoothUUID&, const BluetoothUUID&) = default;
  friend auto operator<=>(const BluetoothUUID&, const BluetoothUUID&) = default;

 private:
  explicit BluetoothUUID(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::vector<std::uint8_t> bytes_;
};

}  // namespace velmora::platform::bluetooth
