#include "beacons/configuration/KSGattIdentifiers.h"

namespace velmora::kestrine {

using platform::bluetooth::BluetoothUUID;

BluetoothUUID gattUUID(std::string_view constant) { return BluetoothUUID::parse(constant).value_or(BluetoothUUID()); }

const BluetoothUUID& eddystoneServiceUUID() {
  static const BluetoothUUID& uuid = *new BluetoothUUID(gattUUID(KSServiceUUIDStringEddystoneService));
  return uuid;
}
const BluetoothUUID& kestrineServiceUUID() {
  static const BluetoothUUID& uuid = *new BluetoothUUID(gattUUID(KSServiceUUIDStringKestrineLong));
  return uuid;
}
const BluetoothUUID& kestrineServiceShortUUID() {
  static const BluetoothUUID& uuid = *new BluetoothUUID(gattUUID(KSServiceUUIDStringKestrineShort));
  return uuid;
}

std::shared_ptr<platform::bluetooth::GattCharacteristic> characteristicFor(const KSCharacteristicMap& map,
                                                                           std::string_view uuidText) {
  const auto uuid = BluetoothUUID::parse(uuidText);
  if (!uuid) return nullptr;
  auto it = map.find(uuid->string());
  return it == map.end() ? nullptr : it->second;
}

}  // namespace velmora::kestrine
