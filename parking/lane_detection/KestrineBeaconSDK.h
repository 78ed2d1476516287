#pragma once

#include <memory>
#include <string>

#include "parking/lane_detection/BeaconSDKPort.h"

namespace velmora::kestrine {
class KSBeacon;
}

namespace velmora {

// The beacon SDK port bound to the beacon layer: the SDK entry's class operations on the
// shared registry, and a public beacon manager per makeBeaconManager() whose ranging reports
// reach the listener as RangedBeacon lists on the queue it was given. This is the only place
// the parking layer reaches into the beacon layer.
class KestrineBeaconSDK final : public BeaconSDKPort {
 public:
  std::shared_ptr<BeaconManagerPort> makeBeaconManager() override;
  void setOptions(const platform::Dict& options) override;
  void startRunning(std::string appToken, std::function<void(int status)> completion) override;
  void stopRunning() override;
  int status() override;
  int appTokenVerificationStatus() override;
  bool isUsingApi() override;
  bool isLocationAuthorized() override;
  bool isNetworkReachable() override;
  bool isBluetoothEnabled() override;

  // What lane detection reads of a ranged beacon record.
  static RangedBeacon rangedBeacon(const kestrine::KSBeacon& beacon);
};

}  // namespace velmora
