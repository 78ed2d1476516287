#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSSite;

// The state of one zone inside a site, driven by the zone monitor: inside (1) on entry or
// re-entry, with entryCount counted up; outside (2) on exit, with exitedZoneAt set. Not a
// JSON record. The monitor writes it while others read it, so every field sits behind the
// record's lock.
class KSZone {
 public:
#define KS_ZONE_FIELD(Type, name, Setter)                     \
  Type name() const { return f_.get(&Fields::name); }         \
  void Setter(Type v) { f_.set(&Fields::name, std::move(v)); }
  KS_ZONE_FIELD(std::optional<std::string>, identifier, setIdentifier)
  // KSSiteState: 0 unknown, 1 inside, 2 outside.
  KS_ZONE_FIELD(std::int64_t, zoneState, setZoneState)
  KS_ZONE_FIELD(std::optional<platform::Date>, enteredZoneAt, setEnteredZoneAt)
  KS_ZONE_FIELD(std::optional<platform::Date>, reenteredZoneAt, setReenteredZoneAt)
  KS_ZONE_FIELD(std::optional<platform::Date>, exitedZoneAt, setExitedZoneAt)
  KS_ZONE_FIELD(std::optional<platform::Date>, lastRangedBeaconsInZoneAt, setLastRangedBeaconsInZoneAt)
  KS_ZONE_FIELD(std::int64_t, entryCount, setEntryCount)
#undef KS_ZONE_FIELD

  std::shared_ptr<KSSite> site() const;
  // Keeps a copy of the site, so later changes to the caller's site do not reach the zone.
  void setSite(const std::shared_ptr<KSSite>& site);

  // The re-entry time when there is one, else the entry time.
  std::optional<platform::Date> lastEntered() const;

 private:
  struct Fields {
    std::optional<std::string> identifier;
    std::int64_t zoneState = 0;
    std::shared_ptr<KSSite> site;
    std::optional<platform::Date> enteredZoneAt, reenteredZoneAt, exitedZoneAt, lastRangedBeaconsInZoneAt;
    std::int64_t entryCount = 0;
  };
  KSGuardedFields<Fields> f_;
};

}  // namespace velmora::kestrine
