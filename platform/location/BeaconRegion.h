#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Uuid.h"

// glibc's <sys/sysmacros.h> may define major() and minor() as function-like macros, before
// or after this header. The accessors of those names are declared parenthesised, so no macro
// expands in them; a host that has the macros defined calls them as (r.major)().

namespace velmora::platform::location {

// What region monitoring reports about a region, with the platform's numbers.
enum class RegionState { Unknown = 0, Inside = 1, Outside = 2 };

// A region of iBeacon identities: a proximity UUID, optionally narrowed to one major, and
// within that to one minor. A minor without a major cannot be made.
class BeaconRegion {
 public:
  static BeaconRegion make(Uuid proximityUUID, std::string identifier) {
    return BeaconRegion(proximityUUID, std::nullopt, std::nullopt, std::move(identifier));
  }
  static BeaconRegion make(Uuid proximityUUID, std::uint16_t major, std::string identifier) {
    return BeaconRegion(proximityUUID, major, std::nullopt, std::move(identifier));
  }
  static BeaconRegion make(Uuid proximityUUID, std::uint16_t major, std::uint16_t minor, std::string identifier) {
    return BeaconRegion(proximityUUID, major, minor, std::move(identifier));
  }

  const std::string& identifier() const { return identifier_; }
  const Uuid& proximityUUID() const { return proximityUUID_; }
  std::optional<std::uint16_t> (major)() const { return major_; }
  std::optional<std::uint16_t> (minor)() const { return minor_; }

  bool notifyOnEntry = true;
  bool notifyOnExit = true;
  bool notifyEntryStateOnDisplay = false;

  // Whether a beacon with that identity belongs to the region.
  bool matches(const Uuid& uuid, std::uint16_t major, std::uint16_t minor) const {
    return uuid == proximityUUID_ && (!major_ || *major_ == major) && (!minor_ || *minor_ == minor);
  }

  // Same identifier and the same identity (UUID, major, minor).
  friend bool operator==(const BeaconRegion& a, const BeaconRegion& b) {
    return a.identifier_ == b.identifier_ && a.proximityUUID_ == b.proximityUUID_ && a.major_ == b.major_ &&
           a.minor_ == b.minor_;
  }

 private:
  BeaconRegion(Uuid uuid, std::optional<std::uint16_t> major, std::optional<std::uint16_t> minor, std::string id)
      : identifier_(std::move(id)), proximityUUID_(uuid), major_(major), minor_(minor) {}

  std::string identifier_;
  Uuid proximityUUID_;
  std::optional<std::uint16_t> major_;
  std::optional<std::uint16_t> minor_;
};

}  // namespace velmora::platform::location
