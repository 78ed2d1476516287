#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSBeaconMode.h"
#include "platform/core/Date.h"
#include "platform/location/BeaconRegion.h"

// glibc's <sys/sysmacros.h> may define major() and minor() as function-like macros, before
// or after this header. The accessors of those names are declared parenthesised, so no macro
// expands in them; a host that has the macros defined calls them as (r.major)().

namespace velmora::kestrine {

// A region the SDK monitors: an iBeacon region (a proximity UUID, optionally narrowed by
// major and minor) or an Eddystone namespace, with an optional keep-alive identity. Regions
// come from the platform's region list or from the host app (app-managed). The region
// manager keeps them by identifier and persists them in their exported form, which carries
// every field, so a region read back from it is the region that was written.
class KSBeaconRegion : public KSJSONRecord<KSBeaconRegion> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& beaconRegionID() const { return beaconRegionID_; }
  void setBeaconRegionID(std::optional<std::string> v) { beaconRegionID_ = std::move(v); }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  // The key by which regions are cached, stored and matched to platform regions.
  const std::optional<std::string>& identifier() const { return identifier_; }
  void setIdentifier(std::optional<std::string> v) { identifier_ = std::move(v); }
  const std::optional<std::string>& proximityUUIDString() const { return proximityUUIDString_; }
  void setProximityUUIDString(std::optional<std::string> v) { proximityUUIDString_ = std::move(v); }
  std::optional<std::uint16_t> (major)() const { return major_; }
  void setMajor(std::optional<std::uint16_t> v) { major_ = v; }
  std::optional<std::uint16_t> (minor)() const { return minor_; }
  void setMinor(std::optional<std::uint16_t> v) { minor_ = v; }
  const std::optional<std::string>& teamID() const { return teamID_; }
  void setTeamID(std::optional<std::string> v) { teamID_ = std::move(v); }
  // When the region manager last cached the region.
  const std::optional<platform::Date>& cachedAt() const { return cachedAt_; }
  void setCachedAt(std::optional<platform::Date> v) { cachedAt_ = v; }
  // True for regions the host app asked to monitor.
  bool isAppManaged() const { return appManaged_; }
  void setAppManaged(bool v) { appManaged_ = v; }
  const std::optional<std::string>& keepAliveProximityUUIDString() const { return keepAliveProximityUUIDString_; }
  void setKeepAliveProximityUUIDString(std::optional<std::string> v) { keepAliveProximityUUIDString_ = std::move(v); }
  std::optional<std::uint16_t> keepAliveMajor() const { return keepAliveMajor_; }
  void setKeepAliveMajor(std::optional<std::uint16_t> v) { keepAliveMajor_ = v; }
  std::optional<std::uint16_t> keepAliveMinor() const { return keepAliveMinor_; }
  void setKeepAliveMinor(std::optional<std::uint16_t> v) { keepAliveMinor_ = v; }
  // The Eddystone namespace.
  const std::optional<std::string>& namespaceID() const { return namespaceID_; }
  void setNamespaceID(std::optional<std::string> v) { namespaceID_ = std::move(v); }

  // Whether a beacon in that mode can be detected through this region: secure, URL and
  // newborn beacons always; iBeacon modes need a proximity UUID, UID needs a namespace,
  // iBeacon plus UID needs both (present and not empty). No mode, or any other id: false.
  bool supportsBeaconMode(const std::shared_ptr<KSBeaconMode>& beaconMode) const;
  bool supportsBeaconModeID(std::int64_t beaconModeID) const;

  // The name when not empty, else the identifier when not empty, else the iBeacon key of the
  // UUID, major and minor (empty when one of them is missing).
  std::string description() const override;

  // A copy of every field but teamID: a copied region belongs to no team until one is set.
  std::shared_ptr<KSBeaconRegion> copy() const;

 private:
  std::optional<std::string> beaconRegionID_, name_, identifier_, proximityUUIDString_;
  std::optional<std::uint16_t> major_, minor_;
  std::optional<std::string> teamID_;
  std::optional<platform::Date> cachedAt_;
  bool appManaged_ = false;
  std::optional<std::string> keepAliveProximityUUIDString_;
  std::optional<std::uint16_t> keepAliveMajor_, keepAliveMinor_;
  std::optional<std::string> namespaceID_;
};

// Queries over a list of region records.
namespace beacon_region_array {

// The regions whose app-managed flag equals the given one, in order.
std::vector<std::shared_ptr<KSBeaconRegion>> filteredBeaconRegionArrayUsingAppManaged(
    const std::vector<std::shared_ptr<KSBeaconRegion>>& regions, bool appManaged);

// The first region, in order, whose identifier equals the text; nullptr when none does (a
// region without an identifier never matches).
std::shared_ptr<KSBeaconRegion> beaconRegionWithRegionIdentifier(const std::vector<std::shared_ptr<KSBeaconRegion>>& regions,
                                                                 std::string_view identifier);

}  // namespace beacon_region_array

// Queries over a collection of platform beacon regions.
namespace platform_beacon_region_set {

// The regions whose identifier equals the text, in order.
std::vector<platform::location::BeaconRegion> filteredSetUsingIdentifier(
    const std::vector<platform::location::BeaconRegion>& regions, std::string_view identifier);

}  // namespace platform_beacon_region_set

}  // namespace velmora::kestrine
