#pragma once

#include <optional>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSPeripheralCommand.h"

namespace velmora::kestrine {

// Finds a service among a set of accepted UUIDs, then (when asked) its characteristics.
// Without a list of characteristics it finishes once the service is found and leaves the
// map unset; with one (an empty one included) it keys every characteristic the service holds.
class KSDiscoverServiceCommandBase : public KSPeripheralCommand {
 public:
  const std::optional<std::vector<platform::bluetooth::BluetoothUUID>>& characteristicsToDiscover() const {
    return characteristicsToDiscover_;
  }
  const std::optional<KSCharacteristicMap>& discoveredCharacteristics() const { return discovered_; }

 protected:
  KSDiscoverServiceCommandBase(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                               std::shared_ptr<platform::dispatch::Queue> queue,
                               std::optional<std::vector<platform::bluetooth::BluetoothUUID>> characteristics)
      : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
        characteristicsToDiscover_(std::move(characteristics)) {}

  virtual std::vector<platform::bluetooth::BluetoothUUID> serviceUUIDs() const = 0;
  virtual std::string_view missingServiceMessage() const = 0;
  const Service& foundService() const { return service_; }

  void run() override;
  void onDiscoverServices(const OptionalError& error) override;
  void onDiscoverCharacteristics(const Service& service, const OptionalError& error) override;

 private:
  const std::optional<std::vector<platform::bluetooth::BluetoothUUID>> characteristicsToDiscover_;
  Service service_;
  KSCharacteristicMap extraCharacteristics_;
  std::optional<KSCharacteristicMap> discovered_;
};

// The maker's configuration service, in its 128-bit or 16-bit form (the first in the
// peripheral's list wins). Claims the peripheral when it is made.
class KSDiscoverKestrineServiceCommand final : public KSDiscoverServiceCommandBase {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSDiscoverKestrineService";
  static std::shared_ptr<KSDiscoverKestrineServiceCommand> create(
      std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
      std::optional<std::vector<platform::bluetooth::BluetoothUUID>> characteristicsToDiscover);
  const Service& kestrineService() const { return foundService(); }

 private:
  using KSDiscoverServiceCommandBase::KSDiscoverServiceCommandBase;
  std::vector<platform::bluetooth::BluetoothUUID> serviceUUIDs() const override;
  std::string_view missingServiceMessage() const override { return "KSDiscoverKestrineService Kestrine Service missing."; }
  std::string_view errorDomain() const override { return kErrorDomain; }
};

// The Eddystone configuration service. Claims the peripheral when it executes.
class KSDiscoverEddystoneServiceCommand final : public KSDiscoverServiceCommandBase {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSDiscoverEddystoneService";
  static std::shared_ptr<KSDiscoverEddystoneServiceCommand> create(
      std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
      std::optional<std::vector<platform::bluetooth::BluetoothUUID>> characteristicsToDiscover);
  const Service& eddystoneService() const { return foundService(); }

 private:
  using KSDiscoverServiceCommandBase::KSDiscoverServiceCommandBase;
  std::vector<platform::bluetooth::BluetoothUUID> serviceUUIDs() const override { return {eddystoneServiceUUID()}; }
  std::string_view missingServiceMessage() const override { return "KSDiscoverEddystoneServiceCommand Service missing."; }
  std::string_view errorDomain() const override { return kErrorDomain; }
};

}  // namespace velmora::kestrine
