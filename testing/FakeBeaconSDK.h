#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parking/lane_detection/BeaconSDKPort.h"
#include "platform/core/Value.h"
#include "platform/dispatch/Queue.h"

namespace velmora::testing {

// A scriptable beacon SDK for lane-detection tests: the tests set the answers of the status
// queries, read back what the service asked, and feed ranging reports, which the manager
// delivers on its queue to its listener as the real facade does. Safe to drive from several
// threads.
class FakeBeaconSDK final : public BeaconSDKPort {
 public:
  class Manager;

  std::shared_ptr<BeaconManagerPort> makeBeaconManager() override;
  void setOptions(const platform::Dict& options) override;
  // Records the token; the status becomes statusOnStart and the completion runs later on the
  // shared scheduler's main queue with it.
  void startRunning(std::string appToken, std::function<void(int status)> completion) override;
  // Stops unless never configured or already stopped, as the SDK does.
  void stopRunning() override;
  int status() override;
  int appTokenVerificationStatus() override;
  bool isUsingApi() override;
  bool isLocationAuthorized() override;
  bool isNetworkReachable() override;
  bool isBluetoothEnabled() override;

  // The script.
  void setStatus(int status);
  void setStatusOnStart(int status);
  // What stopRunning leaves behind when it acts (stopped by default).
  void setStatusAfterStop(int status);
  void setTokenStatus(int status);
  void setUsingApi(bool v);
  void setLocationAuthorized(bool v);
  void setNetworkReachable(bool v);
  void setBluetoothEnabled(bool v);

  // Posts one ranging report to every manager's queue; a manager without a live listener or
  // a queue drops it.
  void deliver(std::vector<RangedBeacon> beacons);

  // What the service did.
  std::vector<platform::Dict> optionsSet() const;
  std::vector<std::string> startTokens() const;
  int stopCalls() const;
  std::size_t managersMade() const;
  // Whether the newest manager has a live listener.
  bool hasListener() const;
  // The queue the newest manager delivers on, or nullptr.
  std::shared_ptr<platform::dispatch::Queue> deliveryQueue() const;

 private:
  mutable std::mutex mutex_;
  int status_ = kStatusNotConfigured;
  int statusOnStart_ = kStatusRunning;
  int statusAfterStop_ = kStatusStopped;
  int tokenStatus_ = kTokenVerified;
  bool usingApi_ = true;
  bool location_ = true;
  bool network_ = true;
  bool bluetooth_ = true;
  std::vector<platform::Dict> options_;
  std::vector<std::string> tokens_;
  int stopCalls_ = 0;
  std::vector<std::shared_ptr<Manager>> managers_;
};

// One beacon manager facade of the fake SDK.
class FakeBeaconSDK::Manager final : public BeaconManagerPort, public std::enable_shared_from_this<Manager> {
 public:
  void setDelegate(std::weak_ptr<RangingListener> listener) override;
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue) override;
  void deliver(std::vector<RangedBeacon> beacons);
  bool hasListener() const;
  std::shared_ptr<platform::dispatch::Queue> queue() const;

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<RangingListener> listener_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
};

// An iBeacon as the parser reports it: the UUID (upper case), major and minor, a signal and
// a serial number derived from the ids.
RangedBeacon iBeacon(const std::string& uuid, std::int64_t major, std::int64_t minor, std::int64_t rssi);

}  // namespace velmora::testing
