#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/bluetooth/GattCharacteristic.h"

namespace velmora::platform::bluetooth {

// One service of a peripheral. Its characteristics are unknown (nullopt) until they have
// been discovered; the backend fills them in before it tells the peripheral's delegate.
class GattService {
 public:
  GattService(BluetoothUUID uuid, bool primary = true) : uuid_(std::move(uuid)), primary_(primary) {}

  const BluetoothUUID& uuid() const { return uuid_; }
  bool isPrimary() const { return primary_; }

  std::optional<std::vector<std::shared_ptr<GattCharacteristic>>> characteristics() const {
    std::lock_guard lock(mutex_);
    return characteristics_;
  }
  void setCharacteristics(std::vector<std::shared_ptr<GattCharacteristic>> list) {
    std::lock_guard lock(mutex_);
    characteristics_ = std::move(list);
  }

 private:
  const BluetoothUUID uuid_;
  const bool primary_;
  mutable std::mutex mutex_;
  std::optional<std::vector<std::shared_ptr<GattCharacteristic>>> characteristics_;
};

}  // namespace velmora::platform::bluetooth
