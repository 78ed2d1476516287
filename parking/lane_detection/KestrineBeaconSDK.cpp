#include "parking/lane_detection/KestrineBeaconSDK.h"

#include <mutex>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KestrineSDK.h"

namespace velmora {

namespace {

// One public beacon manager of the beacon layer, its delegate this object (held weakly by
// the manager, which this object owns). Each ranging report is converted here, on the
// manager's queue, and handed to the listener.
class ManagerBinding final : public BeaconManagerPort,
                             public kestrine::KSBeaconManagerDelegate,
                             public std::enable_shared_from_this<ManagerBinding> {
 public:
  static std::shared_ptr<ManagerBinding> create() {
    auto binding = std::make_shared<ManagerBinding>();
    binding->manager_ = kestrine::KSBeaconManager::create();
    binding->manager_->setDelegate(binding);
    return binding;
  }
  ~ManagerBinding() override {
    if (manager_) manager_->setDelegate(std::shared_ptr<ManagerBinding>());
  }

  void setDelegate(std::weak_ptr<RangingListener> listener) override {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
  }
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue) override { manager_->setQueue(std::move(queue)); }

  void beaconManagerDidRangeBeacons(kestrine::KSBeaconManager&, Beacons beacons) override {
    std::shared_ptr<RangingListener> listener;
    {
      std::lock_guard lock(mutex_);
      listener = listener_.lock();
    }
    if (!listener) return;
    std::vector<RangedBeacon> ranged;
    ranged.reserve(beacons.size());
    for (const auto& b : beacons) {
      if (b) ranged.push_back(KestrineBeaconSDK::rangedBeacon(*b));
    }
    listener->didRangeBeacons(ranged);
  }

 private:
  std::shared_ptr<kestrine::KSBeaconManager> manager_;
  std::mutex mutex_;
  std::weak_ptr<RangingListener> listener_;
};

}  // namespace

std::shared_ptr<BeaconManagerPort> KestrineBeaconSDK::makeBeaconManager() { return ManagerBinding::create(); }

void KestrineBeaconSDK::setOptions(const platform::Dict& options) { kestrine::KestrineSDK::setOptions(options); }

void KestrineBeaconSDK::startRunning(std::string appToken, std::function<void(int status)> completion) {
  kestrine::KestrineSDK::startRunningWithAppToken(appToken, std::move(completion));
}

void KestrineBeaconSDK::stopRunning() { kestrine::KestrineSDK::stopRunning(); }
int KestrineBeaconSDK::status() { return kestrine::KestrineSDK::status(); }
int KestrineBeaconSDK::appTokenVerificationStatus() { return kestrine::KestrineSDK::appTokenVerificationStatus(); }
bool KestrineBeaconSDK::isUsingApi() { return kestrine::KestrineSDK::isUsingApi(); }
bool KestrineBeaconSDK::isLocationAuthorized() { return kestrine::KestrineSDK::isLocationAuthorized(); }
bool KestrineBeaconSDK::isNetworkReachable() { return kestrine::KestrineSDK::isNetworkReachable(); }
bool KestrineBeaconSDK::isBluetoothEnabled() { return kestrine::KestrineSDK::isBluetoothEnabled(); }

RangedBeacon KestrineBeaconSDK::rangedBeacon(const kestrine::KSBeacon& beacon) {
  RangedBeacon r;
  r.proximityUUIDString = beacon.proximityUUIDString();
  r.major = beacon.major().toInt64();
  r.minor = beacon.minor().toInt64();
  r.isEddystone = beacon.isEddystone();
  if (auto eddystone = beacon.eddystone()) r.eddystoneUID = eddystone->UIDString();
  r.serialNumber = beacon.serialNumber();
  r.name = beacon.name();
  r.rssi = beacon.rssi().toInt64();
  r.proximity = beacon.proximity();
  r.accuracy = beacon.accuracy();
  return r;
}

}  // namespace velmora
