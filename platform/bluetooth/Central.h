#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/bluetooth/AdvertisementData.h"
#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/bluetooth/Peripheral.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/Queue.h"

namespace velmora::platform::bluetooth {

// The radio's state as a central sees it, with the platform's numbers.
enum class CentralState {
  Unknown = 0,
  Resetting = 1,
  Unsupported = 2,
  Unauthorized = 3,
  PoweredOff = 4,
  PoweredOn = 5,
};

struct ScanOptions {
  // Report every advertisement; otherwise only the first of each peripheral per scan.
  bool allowDuplicates = false;
};

struct CentralOptions {
  // Ask the user to switch the radio on when it is off.
  bool showPowerAlert = false;
};

// What a central tells its owner, on the queue the owner gave. centralDidUpdateState is
// always called once soon after the central is made (with its first state), and then at
// every change.
class CentralDelegate {
 public:
  virtual ~CentralDelegate() = default;
  virtual void centralDidUpdateState(CentralState state) = 0;
  virtual void centralDidDiscoverPeripheral(const std::shared_ptr<Peripheral>&, const AdvertisementData&,
                                            int /*rssi*/) {}
  virtual void centralDidConnectPeripheral(const std::shared_ptr<Peripheral>&) {}
  virtual void centralDidFailToConnectPeripheral(const std::shared_ptr<Peripheral>&, const std::optional<Error>&) {}
  virtual void centralDidDisconnectPeripheral(const std::shared_ptr<Peripheral>&, const std::optional<Error>&) {}
};

// A Bluetooth Low Energy central.
class Central {
 public:
  virtual ~Central() = default;

  virtual CentralState state() const = 0;
  // Scans for advertisements that pass the filter (empty: all of them); a new call
  // replaces the filter and options. Ignored unless powered on.
  virtual void scanForPeripherals(std::vector<BluetoothUUID> services, ScanOptions options) = 0;
  virtual void stopScan() = 0;
  virtual bool isScanning() const = 0;

  // The peripherals among those identifiers that this central knows (has heard or made).
  virtual std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers) = 0;
  virtual void connect(const std::shared_ptr<Peripheral>& peripheral) = 0;
  virtual void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) = 0;
};

// Makes a central that reports to the delegate (held weakly) on the queue. A class (not
// a bare function type) so that holders of one can name it with a forward declaration.
class CentralMaker {
 public:
  using Function = std::function<std::shared_ptr<Central>(
      std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue, CentralOptions options)>;

  CentralMaker() = default;
  CentralMaker(Function make) : make_(std::move(make)) {}

  // nullptr when the maker is empty.
  std::shared_ptr<Central> operator()(std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                                      CentralOptions options = {}) const {
    return make_ ? make_(std::move(delegate), std::move(queue), options) : nullptr;
  }
  explicit operator bool() const { return static_cast<bool>(make_); }

 private:
  Function make_;
};

// The maker used where no Bluetooth backend exists (Linux hosts today): its centrals
// report Unsupported and never scan or connect.
CentralMaker unsupportedCentralMaker();

}  // namespace velmora::platform::bluetooth
