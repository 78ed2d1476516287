#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "parking/service/RecordCodec.h"
#include "platform/core/Date.h"

namespace velmora {

struct RangedBeacon;

// The parking layer's snapshot of one ranged beacon: its id in the parking service's
// vocabulary ("identifier:major:minor"), its names and its last reading.
//
// A reference object made by create(): the service's beacon list and the delegate calls see
// the same object. Every field sits behind the object's own lock, so the host app may read a
// snapshot on any thread while the service refreshes it.
class BeaconModel {
  struct Token {
    explicit Token() = default;
  };

 public:
  // The plain values of a snapshot, used to copy and compare them in one step.
  struct Values {
    std::string beaconID;
    std::string serialNumber;
    std::string name;
    std::int64_t rssi = 0;
    std::int64_t proximity = 0;
    double accuracy = 0.0;
    std::int64_t measuredPowerAt1Meter = 0;
    platform::Date lastUpdated;
  };

  explicit BeaconModel(Token, platform::Date lastUpdated) { values_.lastUpdated = lastUpdated; }
  BeaconModel(const BeaconModel&) = delete;
  BeaconModel& operator=(const BeaconModel&) = delete;

  // A snapshot with empty texts, zero readings, and lastUpdated now (the shared scheduler's clock).
  static std::shared_ptr<BeaconModel> create();
  static std::shared_ptr<BeaconModel> create(Values values);

  // A fresh snapshot of a ranged beacon, or nullptr when the beacon has no identifier of its
  // kind (an Eddystone beacon heard only through URL frames has no UID, an iBeacon without a
  // proximity UUID has none): such a beacon is skipped, the rest of a report still converts.
  // A missing signal strength reads as 0, a missing serial number or name as "". The
  // identifier is taken verbatim; measuredPowerAt1Meter is always 1.
  static std::shared_ptr<BeaconModel> toModel(const RangedBeacon& beacon);

  std::string beaconID() const;
  void setBeaconID(std::string v);
  std::string serialNumber() const;
  void setSerialNumber(std::string v);
  std::string name() const;
  void setName(std::string v);
  std::int64_t rssi() const;
  void setRssi(std::int64_t v);
  std::int64_t proximity() const;
  void setProximity(std::int64_t v);
  double accuracy() const;
  void setAccuracy(double v);
  std::int64_t measuredPowerAt1Meter() const;
  void setMeasuredPowerAt1Meter(std::int64_t v);
  platform::Date lastUpdated() const;
  void setLastUpdated(platform::Date v);

  // Every field at once, read under one lock.
  Values values() const;

  // Takes every value of other, lastUpdated included. Returns true when any of the seven
  // compared values (all but lastUpdated) differed; accuracy compares as a double, so a NaN
  // always counts as a change.
  bool update(const BeaconModel& other);

  // JSON form: the eight keys in field order, all required on decoding; lastUpdated as
  // seconds since 2001-01-01T00:00:00Z.
  void encode(RecordEncoder& e) const;
  static std::shared_ptr<BeaconModel> decode(RecordDecoder& d);

 private:
  mutable std::mutex mutex_;
  Values values_;
};

// Record-codec entry points for the reference object: the codec works on values, so these
// wrap the shared pointer.
std::optional<std::string> encodeBeaconModelJSON(const BeaconModel& model, platform::Error* error = nullptr);
std::shared_ptr<BeaconModel> decodeBeaconModelJSON(std::string_view text, platform::Error* error = nullptr);

}  // namespace velmora
