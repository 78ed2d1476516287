#include "beacons/model/KSBeaconRegion.h"

#include "beacons/model/KSBeaconUtilities.h"

namespace velmora::kestrine {

namespace {
bool hasText(const std::optional<std::string>& text) { return text && !text->empty(); }
}  // namespace

const KSJSONModelClass& KSBeaconRegion::jsonClass() {
  using R = KSBeaconRegion;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<R>("KSBeaconRegion", [](auto& c) {
    c.keyMapper({{"id", "beaconRegionID"},
                 {"regionIdentifier", "identifier"},
                 {"proximityUUID", "proximityUUIDString"},
                 {"isAppManaged", "appManaged"},
                 {"keepAliveProximityUUID", "keepAliveProximityUUIDString"}});
    c.allOptional();
    c.whitelist({"beaconRegionID", "name", "identifier", "minor", "proximityUUIDString", "major", "teamID", "cachedAt",
                 "appManaged", "namespaceID", "keepAliveMinor", "keepAliveMajor", "keepAliveProximityUUIDString"});
    c.text("beaconRegionID", &R::beaconRegionID, &R::setBeaconRegionID);
    c.text("name", &R::name, &R::setName);
    c.text("identifier", &R::identifier, &R::setIdentifier);
    c.text("proximityUUIDString", &R::proximityUUIDString, &R::setProximityUUIDString);
    c.scalar("major", &R::major, &R::setMajor);
    c.scalar("minor", &R::minor, &R::setMinor);
    c.text("teamID", &R::teamID, &R::setTeamID);
    c.date("cachedAt", &R::cachedAt, &R::setCachedAt);
    c.scalar("appManaged", &R::isAppManaged, &R::setAppManaged);
    c.text("keepAliveProximityUUIDString", &R::keepAliveProximityUUIDString, &R::setKeepAliveProximityUUIDString);
    c.scalar("keepAliveMajor", &R::keepAliveMajor, &R::setKeepAliveMajor);
    c.scalar("keepAliveMinor", &R::keepAliveMinor, &R::setKeepAliveMinor);
    c.text("namespaceID", &R::namespaceID, &R::setNamespaceID);
  });
  return cls;
}

bool KSBeaconRegion::supportsBeaconMode(const std::shared_ptr<KSBeaconMode>& beaconMode) const {
  return beaconMode && supportsBeaconModeID(beaconMode->beaconModeID());
}

bool KSBeaconRegion::supportsBeaconModeID(std::int64_t beaconModeID) const {
  switch (beaconModeID) {
    case KSBeaconModeIDSecure: return true;
    case KSBeaconModeIDIBeacon:
    case KSBeaconModeIDIBeaconPlusSecure: return hasText(proximityUUIDString_);
    case KSBeaconModeIDUID: return hasText(namespaceID_);
    case KSBeaconModeIDURL:
    case KSBeaconModeIDNewborn: return true;
    case KSBeaconModeIDIBeaconPlusUID: return hasText(namespaceID_) && hasText(proximityUUIDString_);
    default: return false;
  }
}

std::string KSBeaconRegion::description() const {
  if (hasText(name_)) return *name_;
  if (hasText(identifier_)) return *identifier_;
  return KSBeaconUtilities::iBeaconKeyForProximityUUIDString(proximityUUIDString_, major_, minor_).value_or(std::string());
}

std::shared_ptr<KSBeaconRegion> KSBeaconRegion::copy() const {
  auto region = KSJSONRecord<KSBeaconRegion>::copy();
  region->setTeamID(std::nullopt);
  return region;
}

namespace beacon_region_array {

std::vector<std::shared_ptr<KSBeaconRegion>> filteredBeaconRegionArrayUsingAppManaged(
    const std::vector<std::shared_ptr<KSBeaconRegion>>& regions, bool appManaged) {
  std::vector<std::shared_ptr<KSBeaconRegion>> out;
  for (const auto& region : regions) {
    if (region && region->isAppManaged() == appManaged) out.push_back(region);
  }
  return out;
}

std::shared_ptr<KSBeaconRegion> beaconRegionWithRegionIdentifier(const std::vector<std::shared_ptr<KSBeaconRegion>>& regions,
                                                                 std::string_view identifier) {
  for (const auto& region : regions) {
    if (region && region->identifier() && *region->identifier() == identifier) return region;
  }
  return nullptr;
}

}  // namespace beacon_region_array

namespace platform_beacon_region_set {

std::vector<platform::location::BeaconRegion> filteredSetUsingIdentifier(
    const std::vector<platform::location::BeaconRegion>& regions, std::string_view identifier) {
  std::vector<platform::location::BeaconRegion> out;
  for (const auto& region : regions) {
    if (region.identifier() == identifier) out.push_back(region);
  }
  return out;
}

}  // namespace platform_beacon_region_set

}  // namespace velmora::kestrine
