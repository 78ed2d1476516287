#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"

namespace velmora::platform::bluetooth {

// What one received advertisement (with its scan response) carried.
struct AdvertisementData {
  std::optional<std::string> localName;
  // The manufacturer-specific data as transmitted: the two company-identifier bytes first
  // (least significant byte first), then the maker's payload.
  std::optional<Bytes> manufacturerData;
  // Service data, one entry per service UUID in the order heard.
  std::vector<std::pair<BluetoothUUID, Bytes>> serviceData;
  std::vector<BluetoothUUID> serviceUUIDs;
  std::optional<int> txPowerLevel;
  bool connectable = false;

  // The service data under that UUID, or nullptr.
  const Bytes* serviceDataFor(const BluetoothUUID& uuid) const {
    for (const auto& [key, bytes] : serviceData) {
      if (key == uuid) return &bytes;
    }
    return nullptr;
  }
  // A scan filter passes an advertisement that lists one of its UUIDs among the service
  // UUIDs or the service-data keys; an empty filter passes everything.
  bool passes(const std::vector<BluetoothUUID>& filter) const {
    if (filter.empty()) return true;
    for (const auto& want : filter) {
      for (const auto& have : serviceUUIDs) {
        if (have == want) return true;
      }
      if (serviceDataFor(want) != nullptr) return true;
    }
    return false;
  }

  friend bool operator==(const AdvertisementData&, const AdvertisementData&) = default;
};

// The value a central reports for an RSSI it could not measure.
inline constexpr int kRSSIUnavailable = 127;

}  // namespace velmora::platform::bluetooth
