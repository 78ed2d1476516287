#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"

namespace velmora::platform::bluetooth {

class GattService;

// Characteristic property bits, as the attribute protocol defines them.
enum CharacteristicProperty : std::uint32_t {
  kPropertyBroadcast = 0x01,
  kPropertyRead = 0x02,
  kPropertyWriteWithoutResponse = 0x04,
  kPropertyWrite = 0x08,
  kPropertyNotify = 0x10,
  kPropertyIndicate = 0x20,
};

enum class WriteType { WithResponse = 0, WithoutResponse = 1 };

// One characteristic of a discovered service. The backend updates the value and the
// notifying flag before it tells the peripheral's delegate; readers on other threads see
// a consistent copy.
class GattCharacteristic {
 public:
  GattCharacteristic(BluetoothUUID uuid, std::uint32_t properties, std::weak_ptr<GattService> service)
      : uuid_(std::move(uuid)), properties_(properties), service_(std::move(service)) {}

  const BluetoothUUID& uuid() const { return uuid_; }
  std::uint32_t properties() const { return properties_; }
  std::shared_ptr<GattService> service() const { return service_.lock(); }

  Bytes value() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void setValue(Bytes value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }
  bool isNotifying() const {
    std::lock_guard lock(mutex_);
    return notifying_;
  }
  void setNotifying(bool on) {
    std::lock_guard lock(mutex_);
    notifying_ = on;
  }

 private:
  const BluetoothUUID uuid_;
  const std::uint32_t properties_;
  const std::weak_ptr<GattService> service_;
  mutable std::mutex mutex_;
  Bytes value_;
  bool notifying_ = false;
};

}  // namespace velmora::platform::bluetooth
