#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/bluetooth/GattCharacteristic.h"
#include "platform/bluetooth/GattService.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"

namespace velmora::platform::bluetooth {

class Peripheral;

enum class PeripheralState { Disconnected = 0, Connecting = 1, Connected = 2, Disconnecting = 3 };

// Events of one peripheral's GATT exchanges. All optional; an event the delegate does not
// handle is ignored. Delivered on the queue of the central that found the peripheral.
class PeripheralDelegate {
 public:
  virtual ~PeripheralDelegate() = default;
  virtual void peripheralDidDiscoverServices(const std::shared_ptr<Peripheral>&, const std::optional<Error>&) {}
  virtual void peripheralDidDiscoverCharacteristics(const std::shared_ptr<Peripheral>&,
                                                    const std::shared_ptr<GattService>&,
                                                    const std::optional<Error>&) {}
  // A read result or a notification.
  virtual void peripheralDidUpdateValue(const std::shared_ptr<Peripheral>&,
                                        const std::shared_ptr<GattCharacteristic>&,
                                        const std::optional<Error>&) {}
  virtual void peripheralDidWriteValue(const std::shared_ptr<Peripheral>&,
                                       const std::shared_ptr<GattCharacteristic>&,
                                       const std::optional<Error>&) {}
  virtual void peripheralDidUpdateNotificationState(const std::shared_ptr<Peripheral>&,
                                                    const std::shared_ptr<GattCharacteristic>&,
                                                    const std::optional<Error>&) {}
};

// A remote device as one central knows it. Every GATT request answers through the one
// delegate registered at the time of the answer (commands claim the peripheral in turn).
// Writes without response are not answered.
class Peripheral {
 public:
  virtual ~Peripheral() = default;

  virtual Uuid identifier() const = 0;
  virtual std::optional<std::string> name() const = 0;
  virtual PeripheralState state() const = 0;

  virtual void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) = 0;
  virtual std::shared_ptr<PeripheralDelegate> delegate() const = 0;

  // The services discovered so far; nullopt before any discovery.
  virtual std::optional<std::vector<std::shared_ptr<GattService>>> services() const = 0;

  // nullopt discovers every service (or characteristic).
  virtual void discoverServices(std::optional<std::vector<BluetoothUUID>> uuids) = 0;
  virtual void discoverCharacteristics(std::optional<std::vector<BluetoothUUID>> uuids,
                                       const std::shared_ptr<GattService>& service) = 0;
  virtual void readValue(const std::shared_ptr<GattCharacteristic>& characteristic) = 0;
  virtual void writeValue(const Bytes& value, const std::shared_ptr<GattCharacteristic>& characteristic,
                          WriteType type) = 0;
  virtual void setNotifyValue(bool enabled, const std::shared_ptr<GattCharacteristic>& characteristic) = 0;
};

// Errors the Bluetooth backends make themselves (attribute-protocol failures, a connection
// lost or refused); errors are passed on to the delegates unchanged.
namespace gatt {
inline constexpr std::string_view kErrorDomain = "platform.bluetooth";
enum Code : std::int64_t {
  kRequestNotSupported = 6,  // the peer offers no such request
  kNotConnected = 100,       // the peripheral is not connected
  kConnectionFailed = 101,   // the connection could not be made
  kConnectionLost = 102,     // the link went away (power off, out of range)
};
Error makeError(Code code, std::string description);
}  // namespace gatt

}  // namespace velmora::platform::bluetooth
