#include "beacons/model/KSBeaconArray.h"

#include <cmath>

#include "beacons/foundation/KSEnumUtilities.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSNetworkAccessRole.h"

namespace velmora::kestrine::beacon_array {

namespace {

template <class Keep>
Beacons filtered(const Beacons& beacons, Keep keep) {
  Beacons out;
  for (const auto& b : beacons) {
    if (b && keep(*b)) out.push_back(b);
  }
  return out;
}

// Sorts on a key read once per beacon. `Key` is an optional; absent keys order first.
template <class Read>
Beacons sortedOn(const Beacons& beacons, bool ascending, Read read) {
  using Key = decltype(read(std::declval<const KSBeacon&>()));
  std::vector<std::pair<Key, std::shared_ptr<KSBeacon>>> keyed;
  keyed.reserve(beacons.size());
  for (const auto& b : beacons) keyed.emplace_back(b ? read(*b) : Key{}, b);
  auto less = [](const Key& a, const Key& b) {
    if (!a) return b.has_value();
    if (!b) return false;
    return *a < *b;
  };
  std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
    return ascending ? less(x.first, y.first) : less(y.first, x.first);
  });
  Beacons out;
  out.reserve(keyed.size());
  for (auto& [key, b] : keyed) out.push_back(std::move(b));
  return out;
}

bool after(const std::optional<platform::Date>& d, platform::Date date) { return d && *d > date; }

}  // namespace

Beacons sortedBeaconArrayUsingAccuracyAscending(const Beacons& beacons, bool ascending) {
  return sortedOn(beacons, ascending, [](const KSBeacon& b) -> std::optional<double> {
    const double a = b.accuracy();
    if (std::isnan(a)) return std::nullopt;  // unordered: kept with the unknowns
    return a;
  });
}

Beacons sortedBeaconArrayUsingIBeaconKeyAscending(const Beacons& beacons, bool ascending) {
  // std::string compares bytes as unsigned char, which orders UTF-8 by code point.
  return sortedOn(beacons, ascending, [](const KSBeacon& b) { return b.iBeaconKey(); });
}

Beacons sortedBeaconArrayUsingSiteNameAscending(const Beacons& beacons, bool ascending) {
  return sortedOn(beacons, ascending, [](const KSBeacon& b) { return b.siteName(); });
}

Beacons filteredBeaconArrayUsingProximity(const Beacons& beacons, std::uint64_t proximity) {
  return filtered(beacons, [&](const KSBeacon& b) {
    return KSEnumUtilities::isProximityInsideOfProximity(b.proximity(), proximity);
  });
}

Beacons filteredBeaconArrayUsingDiscovered(const Beacons& beacons, bool discovered) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.wasDiscovered() == discovered; });
}

Beacons filteredBeaconArrayUsingSyncStatus(const Beacons& beacons, std::int64_t syncStatus) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.syncStatus() == syncStatus; });
}

Beacons filteredBeaconArrayUsingSyncedOrUnauthorized(const Beacons& beacons, bool syncedOrUnauthorized) {
  return filtered(beacons, [&](const KSBeacon& b) {
    const auto s = b.syncStatus();
    return (s == KSSyncStatusSynced || s == KSSyncStatusUnauthorized) == syncedOrUnauthorized;
  });
}

Beacons filteredBeaconArrayUsingLastAdvertisedAfter(const Beacons& beacons, platform::Date date) {
  return filtered(beacons, [&](const KSBeacon& b) {
    return after(b.lastDiscoveredAt(), date) || after(b.lastRangedAt(), date);
  });
}

Beacons filteredBeaconArrayUsingLastRangedAfter(const Beacons& beacons, platform::Date date) {
  return filtered(beacons, [&](const KSBeacon& b) { return after(b.lastRangedAt(), date); });
}

Beacons filteredBeaconArrayUsingLastDiscoveredAfter(const Beacons& beacons, platform::Date date) {
  return filtered(beacons, [&](const KSBeacon& b) { return after(b.lastDiscoveredAt(), date); });
}

Beacons filteredBeaconArrayUsingSiteID(const Beacons& beacons, const std::string& siteID) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.siteID() == siteID; });
}

Beacons filteredBeaconArrayUsingBeaconMode(const Beacons& beacons, const std::shared_ptr<KSBeaconMode>& beaconMode) {
  if (!beaconMode) return {};
  const auto id = beaconMode->beaconModeID();
  return filtered(beacons, [&](const KSBeacon& b) {
    auto mode = b.beaconMode();
    return mode && mode->beaconModeID() == id;
  });
}

Beacons filteredBeaconArrayUsingBeaconAccessRole(const Beacons& beacons, std::int64_t roleID) {
  return filtered(beacons, [&](const KSBeacon& b) {
    auto access = b.networkAccess();
    if (!access || !access->permittedRoles()) return false;
    const auto& roles = *access->permittedRoles();
    const bool permits = std::any_of(roles.begin(), roles.end(), [&](const auto& role) {
      return role && role->networkAccessRoleID() == roleID;
    });
    return permits && b.isSyncedOrRestored();
  });
}

Beacons filteredBeaconArrayUsingIsIBeacon(const Beacons& beacons, bool isIBeacon) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.isIBeacon() == isIBeacon; });
}

Beacons filteredBeaconArrayUsingIsEddystone(const Beacons& beacons, bool isEddystone) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.isEddystone() == isEddystone; });
}

Beacons filteredBeaconArrayUsingHasRawMeasurementData(const Beacons& beacons, bool hasRawMeasurementData) {
  return filtered(beacons,
                  [&](const KSBeacon& b) { return b.rawMeasurementData().has_value() == hasRawMeasurementData; });
}

Beacons filteredBeaconArrayUsingHasIdentifierData(const Beacons& beacons, bool hasIdentifierData) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.hasIdentifierData() == hasIdentifierData; });
}

Beacons filteredBeaconArrayUsingNewborn(const Beacons& beacons, bool newborn) {
  return filtered(beacons, [&](const KSBeacon& b) { return b.isNewborn() == newborn; });
}

std::optional<Beacons> filteredBeaconArrayUsingTeamIDs(const Beacons& beacons,
                                                       const std::optional<std::vector<std::string>>& teamIDs) {
  if (!teamIDs || teamIDs->empty()) return std::nullopt;
  return filtered(beacons, [&](const KSBeacon& b) {
    auto team = b.teamID();
    return team && std::find(teamIDs->begin(), teamIDs->end(), *team) != teamIDs->end();
  });
}

std::shared_ptr<KSBeacon> beaconWithBeaconID(const Beacons& beacons, const std::string& beaconID) {
  for (const auto& b : beacons) {
    if (b && b->beaconID() == beaconID) return b;
  }
  return nullptr;
}

std::shared_ptr<KSBeacon> beaconWithSerialNumber(const Beacons& beacons, const std::string& serialNumber) {
  for (const auto& b : beacons) {
    if (b && b->serialNumber() == serialNumber) return b;
  }
  return nullptr;
}

}  // namespace velmora::kestrine::beacon_array
