#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "platform/core/Date.h"
#include "platform/location/Location.h"

// glibc's <sys/sysmacros.h> may define major() and minor() as function-like macros, before
// or after this header. The accessors of those names are declared parenthesised, so no macro
// expands in them; a host that has the macros defined calls them as (r.major)().

namespace velmora::kestrine {

// One visit of the device to one beacon: its begin and end, the signal strength then, the
// closest approach, the proximity zone reached, the device, session and position, and
// whether the app was in the background.
//
// A visit bound to a stored row (made from one) writes every change of a write-through
// setter into that row at once, inside the row's context, so the store always holds the
// latest state of an open visit. An unbound visit is a plain value. Several queues use a
// visit, so every field sits behind the record's lock; no lock is held while the row is
// written.
class KSBeaconVisit : public KSJSONRecord<KSBeaconVisit> {
 public:
  static const KSJSONModelClass& jsonClass();

  // A plain visit: cProx 0 (cProxID the number 0), everything else absent, false or 0.
  KSBeaconVisit();
  // A visit bound to the row, its fields read from the row; nullptr gives a plain visit.
  static std::shared_ptr<KSBeaconVisit> initWithManagedBeaconVisit(std::shared_ptr<KSStoredRow> row);

  std::optional<std::string> beaconVisitID() const;
  void setBeaconVisitID(std::optional<std::string> v);
  std::optional<std::string> SDKVersion() const;
  void setSDKVersion(std::optional<std::string> v);
  std::optional<std::string> firmwareUID() const;
  void setFirmwareUID(std::optional<std::string> v);
  std::optional<std::string> proximityUUIDString() const;
  void setProximityUUIDString(std::optional<std::string> v);
  std::optional<std::string> bluetoothAddress() const;
  void setBluetoothAddress(std::optional<std::string> v);
  platform::Value (major)() const;
  void setMajor(platform::Value v);
  platform::Value (minor)() const;
  void setMinor(platform::Value v);
  platform::Value version() const;
  void setVersion(platform::Value v);
  std::optional<std::string> serialNumber() const;
  void setSerialNumber(std::optional<std::string> v);
  std::optional<std::string> siteID() const;
  void setSiteID(std::optional<std::string> v);
  std::optional<std::string> deviceUUID() const;
  void setDeviceUUID(std::optional<std::string> v);
  std::optional<std::string> sessionUUID() const;
  void setSessionUUID(std::optional<std::string> v);
  std::optional<platform::Date> beganAt() const;
  void setBeganAt(std::optional<platform::Date> v);
  platform::Value rssiWhenVisitBegan() const;
  void setRssiWhenVisitBegan(platform::Value v);
  std::optional<platform::Date> endedAt() const;
  void setEndedAt(std::optional<platform::Date> v);
  platform::Value rssiWhenVisitEnded() const;
  void setRssiWhenVisitEnded(platform::Value v);
  platform::Value batteryLevel() const;
  void setBatteryLevel(platform::Value v);
  // Plain setters: the row gets the coordinates only through setLocation.
  platform::Value latitude() const;
  void setLatitude(platform::Value v);
  platform::Value longitude() const;
  void setLongitude(platform::Value v);
  // Sets both coordinates from the fix (both absent without one), then writes "latitude"
  // and "longitude" through, in that order.
  void setLocation(const std::optional<platform::location::Location>& location);
  // The closest approach: the smallest distance estimate, when and at what signal.
  std::optional<platform::Date> deviceWasClosestAt() const;
  void setDeviceWasClosestAt(std::optional<platform::Date> v);
  platform::Value cDist() const;
  void setCDist(platform::Value v);
  platform::Value rssiWhenDeviceWasClosest() const;
  void setRssiWhenDeviceWasClosest(platform::Value v);
  // Entering and leaving the proximity zone reached.
  std::optional<platform::Date> enteredCProxAt() const;
  void setEnteredCProxAt(std::optional<platform::Date> v);
  platform::Value rssiWhenCProxEntered() const;
  void setRssiWhenCProxEntered(platform::Value v);
  std::optional<platform::Date> exitedCProxAt() const;
  void setExitedCProxAt(std::optional<platform::Date> v);
  platform::Value rssiWhenCProxExited() const;
  void setRssiWhenCProxExited(platform::Value v);
  // The proximity zone reached: cProxID read as a 32-bit integer. Setting it stores the
  // value as a 32-bit number in cProxID and writes "cProxID" through.
  std::uint64_t cProx() const;
  void setCProx(std::uint64_t v);
  platform::Value cProxID() const;
  void setCProxID(platform::Value v);  // plain
  std::optional<platform::Date> lastRangedAt() const;
  void setLastRangedAt(std::optional<platform::Date> v);
  std::optional<platform::Date> lastPostedAt() const;
  void setLastPostedAt(std::optional<platform::Date> v);
  bool beganInBackground() const;
  void setBeganInBackground(bool v);
  bool endedInBackground() const;
  void setEndedInBackground(bool v);
  // Stored, never exported.
  std::int64_t beaconModeID() const;
  void setBeaconModeID(std::int64_t v);
  // The visit tracker's in-memory mark; never stored or exported.
  bool isCurrentlyVisiting() const;
  void setCurrentlyVisiting(bool v);
  std::shared_ptr<KSStoredRow> managedBeaconVisit() const;
  void setManagedBeaconVisit(std::shared_ptr<KSStoredRow> row);  // plain: binds nothing

  // Writes the value under the key into the bound row, inside its context; does nothing
  // when unbound or when the row has lost its context.
  void safeSetValue(platform::Value value, std::string_view key) const;

  // An unbound copy of every field but currentlyVisiting.
  std::shared_ptr<KSBeaconVisit> copy() const;

  // The stored visits of entity "KSBeaconVisit", each bound to its row, in fetch order; or
  // their count. Handlers run only when given; with storage disabled [] or 0 at once.
  static void storedVisitsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                        const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                        std::function<void(const std::vector<std::shared_ptr<KSBeaconVisit>>&)> success,
                                        KSLocalStoragePort::FailureHandler failure);
  static void numberOfVisitsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                          KSLocalStoragePort::CountHandler success, KSLocalStoragePort::FailureHandler failure);

 private:
  struct Fields {
    std::optional<std::string> beaconVisitID, SDKVersion, firmwareUID, proximityUUIDString, bluetoothAddress;
    platform::Value major, minor, version;
    std::optional<std::string> serialNumber, siteID, deviceUUID, sessionUUID;
    std::optional<platform::Date> beganAt;
    platform::Value rssiWhenVisitBegan;
    std::optional<platform::Date> endedAt;
    platform::Value rssiWhenVisitEnded, batteryLevel, latitude, longitude;
    std::optional<platform::Date> deviceWasClosestAt;
    platform::Value cDist, rssiWhenDeviceWasClosest;
    std::optional<platform::Date> enteredCProxAt;
    platform::Value rssiWhenCProxEntered;
    std::optional<platform::Date> exitedCProxAt;
    platform::Value rssiWhenCProxExited, cProxID;
    std::optional<platform::Date> lastRangedAt, lastPostedAt;
    bool beganInBackground = false, endedInBackground = false;
    std::int64_t beaconModeID = 0;
    bool currentlyVisiting = false;
    std::shared_ptr<KSStoredRow> row;
  };

  template <class M>
  M get(M Fields::*member) const;
  template <class M>
  void put(M Fields::*member, M value);
  // Sets the field, then writes its new value through under the key.
  template <class M>
  void putThrough(M Fields::*member, M value, std::string_view key);

  mutable std::mutex mutex_;
  Fields f_;
};

// Filters over arrays of visits; each keeps the receiver's order.
namespace beacon_visit_array {

// The visits whose siteID equals the id; a visit without one never matches.
std::vector<std::shared_ptr<KSBeaconVisit>> filteredBeaconVisitArrayUsingSiteID(
    const std::vector<std::shared_ptr<KSBeaconVisit>>& visits, std::string_view siteID);
// The visits never ranged and those last ranged strictly before the date.
std::vector<std::shared_ptr<KSBeaconVisit>> filteredBeaconVisitArrayUsingLastRangedBeforeDate(
    const std::vector<std::shared_ptr<KSBeaconVisit>>& visits, platform::Date date);

}  // namespace beacon_visit_array

}  // namespace velmora::kestrine
