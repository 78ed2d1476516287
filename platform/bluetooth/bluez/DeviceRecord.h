#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/Types.h>

#include "platform/bluetooth/AdvertisementData.h"
#include "platform/core/Uuid.h"

namespace velmora::platform::bluetooth::bluez {

// What the bus has said so far about one remote device (an org.bluez.Device1 object):
// its properties accumulate from the object's appearance and each change of them.
class DeviceRecord {
 public:
  using Properties = std::map<std::string, sdbus::Variant>;

  DeviceRecord(std::string path, Uuid identifier) : path_(std::move(path)), identifier_(identifier) {}

  // Takes in the properties given (a property of an unexpected type is ignored). True
  // when they carry news of an advertisement: a received signal strength or advertised
  // content (manufacturer or service data, service UUIDs, name, transmit power).
  bool apply(const Properties& changed);
  // Forgets the properties named (the device no longer reports them).
  void invalidate(const std::vector<std::string>& names);

  const std::string& path() const { return path_; }
  const Uuid& identifier() const { return identifier_; }
  const std::optional<std::string>& address() const { return address_; }
  // The advertised name, else a host-given alias that is not the address in disguise.
  std::optional<std::string> name() const;
  std::optional<int> rssi() const { return rssi_; }
  bool connected() const { return connected_; }
  bool servicesResolved() const { return servicesResolved_; }

  // The advertisement as the device is now known. The manufacturer data is the entry
  // that changed last (the lowest company identifier when none changed), with the
  // company's two bytes first, least significant first.
  AdvertisementData advertisement() const;

 private:
  const std::string path_;
  const Uuid identifier_;
  std::optional<std::string> address_;
  std::optional<std::string> name_;
  std::optional<std::string> alias_;
  std::optional<int> rssi_;
  std::optional<int> txPower_;
  std::map<std::uint16_t, std::vector<std::uint8_t>> manufacturer_;
  std::optional<std::uint16_t> latestCompany_;
  std::vector<std::pair<BluetoothUUID, std::vector<std::uint8_t>>> serviceData_;
  std::vector<BluetoothUUID> uuids_;
  bool connected_ = false;
  bool servicesResolved_ = false;
};

}  // namespace velmora::platform::bluetooth::bluez
