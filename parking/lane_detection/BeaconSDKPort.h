#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Value.h"
#include "platform/dispatch/Queue.h"

namespace velmora {

// What lane detection reads of one beacon in a ranging report: exactly what BeaconModel's
// conversion needs. The binding to the beacon SDK fills it from the SDK's beacon record;
// a field the record lacks stays absent.
struct RangedBeacon {
  // The iBeacon proximity UUID as the beacon record holds it (upper-case from the parser).
  std::optional<std::string> proximityUUIDString;
  std::optional<std::int64_t> major;
  std::optional<std::int64_t> minor;
  // True when the SDK has seen an Eddystone UID or URL frame from the beacon.
  bool isEddystone = false;
  // The Eddystone UID text (namespace then instance, 32 hex characters), when a UID frame
  // was heard.
  std::optional<std::string> eddystoneUID;
  std::optional<std::string> serialNumber;
  std::optional<std::string> name;
  // Signal strength in dBm.
  std::optional<std::int64_t> rssi;
  // 0 unknown, 1 immediate, 2 near, 3 far.
  std::uint64_t proximity = 0;
  // Estimated distance in metres; -1 when unknown.
  double accuracy = -1.0;
};

// Receives the ranging reports of a beacon manager.
class RangingListener {
 public:
  virtual ~RangingListener() = default;
  // One ranging pass's beacons, on the queue the manager was given.
  virtual void didRangeBeacons(const std::vector<RangedBeacon>& beacons) = 0;
};

// The beacon SDK's public manager facade as lane detection uses it: one listener, held
// weakly, called on one queue.
class BeaconManagerPort {
 public:
  virtual ~BeaconManagerPort() = default;
  // nullptr (or an expired listener) stops the reports.
  virtual void setDelegate(std::weak_ptr<RangingListener> listener) = 0;
  virtual void setQueue(std::shared_ptr<platform::dispatch::Queue> queue) = 0;
};

// The beacon SDK's entry as lane detection uses it: options, start, stop and status, and a
// beacon manager facade.
class BeaconSDKPort {
 public:
  // SDK status.
  static constexpr int kStatusNotConfigured = 0;
  static constexpr int kStatusRunning = 1;
  static constexpr int kStatusRunningWithErrors = 2;
  static constexpr int kStatusStopped = 3;
  // App-token verification status.
  static constexpr int kTokenNone = 0;
  static constexpr int kTokenUnverified = 1;
  static constexpr int kTokenVerified = 2;
  static constexpr int kTokenInvalid = 3;

  // The option keys lane detection sets.
  static constexpr std::string_view kOptionCacheAllBeaconsForApp = "KSOptionCacheAllBeaconsForApp";
  static constexpr std::string_view kOptionDiscoverBeaconsNearby = "KSOptionDiscoverBeaconsNearby";
  static constexpr std::string_view kOptionMaximumDailyBackgroundUsageInMinutes =
      "KSOptionMaximumDailyBackgroundUsageInMinutes";
  static constexpr std::string_view kOptionBackgroundSessionTimeIntervalInSeconds =
      "KSOptionBackgroundSessionTimeIntervalInSeconds";

  virtual ~BeaconSDKPort() = default;

  virtual std::shared_ptr<BeaconManagerPort> makeBeaconManager() = 0;
  virtual void setOptions(const platform::Dict& options) = 0;
  // Calls completion once, later, with the SDK status.
  virtual void startRunning(std::string appToken, std::function<void(int status)> completion) = 0;
  virtual void stopRunning() = 0;
  virtual int status() = 0;
  virtual int appTokenVerificationStatus() = 0;
  // False when the host switched the SDK's cloud API off on purpose: then no token is
  // verified and an unverified token is no fault.
  virtual bool isUsingApi() { return true; }
  virtual bool isLocationAuthorized() = 0;
  virtual bool isNetworkReachable() = 0;
  virtual bool isBluetoothEnabled() = 0;
};

}  // namespace velmora
