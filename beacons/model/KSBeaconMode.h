#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSConstants.h"
#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// The beacon-mode identifiers after the first four (KSConstants.h holds 1 to 4).
inline constexpr std::int64_t KSBeaconModeIDURL = 5;
inline constexpr std::int64_t KSBeaconModeIDNewborn = 6;
inline constexpr std::int64_t KSBeaconModeIDIBeaconPlusUID = 7;

// A beacon's advertising mode as the platform lists it. Exported inside other records as its
// identifier alone: {"id": n}.
class KSBeaconMode : public KSNamedLookupRecord<KSBeaconMode> {
 public:
  static const KSJSONModelClass& jsonClass();

  // The modes a beacon's settings may be set to: 1 to 6. Mode 7 (iBeacon plus UID) is a
  // defined mode that settings updates do not accept.
  static bool isValidBeaconModeID(std::int64_t beaconModeID);

  std::int64_t beaconModeID() const { return beaconModeID_; }
  void setBeaconModeID(std::int64_t v) { beaconModeID_ = v; }

 private:
  std::int64_t beaconModeID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
