#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconMode;

// Sorting, filtering and look-ups over lists of beacon records. Each returns a new list (or
// one beacon) and leaves its input alone; filters keep the input's order.
namespace beacon_array {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

// Stable sorts on one key. Ascending puts absent values first (and an accuracy that is not a
// number with them), then the rest in their natural order; descending is the exact reverse
// order, equal keys keeping their input order either way. Texts compare by code point.
Beacons sortedBeaconArrayUsingAccuracyAscending(const Beacons& beacons, bool ascending);
Beacons sortedBeaconArrayUsingIBeaconKeyAscending(const Beacons& beacons, bool ascending);
Beacons sortedBeaconArrayUsingSiteNameAscending(const Beacons& beacons, bool ascending);

// 0 keeps every beacon; 1 immediate; 2 immediate or near; 3 immediate, near or far.
Beacons filteredBeaconArrayUsingProximity(const Beacons& beacons, std::uint64_t proximity);
Beacons filteredBeaconArrayUsingDiscovered(const Beacons& beacons, bool discovered);
Beacons filteredBeaconArrayUsingSyncStatus(const Beacons& beacons, std::int64_t syncStatus);
// true: status synced or unauthorised; false: any other status.
Beacons filteredBeaconArrayUsingSyncedOrUnauthorized(const Beacons& beacons, bool syncedOrUnauthorized);
// Discovered strictly after the date, or else ranged strictly after it.
Beacons filteredBeaconArrayUsingLastAdvertisedAfter(const Beacons& beacons, platform::Date date);
Beacons filteredBeaconArrayUsingLastRangedAfter(const Beacons& beacons, platform::Date date);
Beacons filteredBeaconArrayUsingLastDiscoveredAfter(const Beacons& beacons, platform::Date date);
Beacons filteredBeaconArrayUsingSiteID(const Beacons& beacons, const std::string& siteID);
// Beacons whose mode has the same id; a missing mode (argument or beacon) never matches.
Beacons filteredBeaconArrayUsingBeaconMode(const Beacons& beacons, const std::shared_ptr<KSBeaconMode>& beaconMode);
// Synced or restored beacons whose network access permits the role.
Beacons filteredBeaconArrayUsingBeaconAccessRole(const Beacons& beacons, std::int64_t roleID);
Beacons filteredBeaconArrayUsingIsIBeacon(const Beacons& beacons, bool isIBeacon);
Beacons filteredBeaconArrayUsingIsEddystone(const Beacons& beacons, bool isEddystone);
Beacons filteredBeaconArrayUsingHasRawMeasurementData(const Beacons& beacons, bool hasRawMeasurementData);
Beacons filteredBeaconArrayUsingHasIdentifierData(const Beacons& beacons, bool hasIdentifierData);
Beacons filteredBeaconArrayUsingNewborn(const Beacons& beacons, bool newborn);

// Beacons whose team is one of the given team IDs; nullopt for an absent or empty list.
std::optional<Beacons> filteredBeaconArrayUsingTeamIDs(const Beacons& beacons,
                                                       const std::optional<std::vector<std::string>>& teamIDs);
// The same over team records (anything with a teamID() that answers an optional text).
template <class Team>
std::optional<Beacons> filteredBeaconArrayUsingTeams(const Beacons& beacons,
                                                     const std::optional<std::vector<std::shared_ptr<Team>>>& teams) {
  if (!teams || teams->empty()) return std::nullopt;
  std::vector<std::string> ids;
  for (const auto& team : *teams) {
    if (!team) continue;
    if (auto id = team->teamID()) ids.push_back(std::move(*id));
  }
  return filteredBeaconArrayUsingTeamIDs(beacons, ids);
}

// The first beacon with that beacon ID or serial number, or nullptr.
std::shared_ptr<KSBeacon> beaconWithBeaconID(const Beacons& beacons, const std::string& beaconID);
std::shared_ptr<KSBeacon> beaconWithSerialNumber(const Beacons& beacons, const std::string& serialNumber);

}  // namespace beacon_array

}  // namespace velmora::kestrine
