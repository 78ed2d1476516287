#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSAddress.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSGuardedFields.h"
#include "beacons/model/KSMap.h"
#include "beacons/model/KSSiteAccessType.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/location/Location.h"

namespace velmora::kestrine {

class KSBeacon;

// A named place of a team (a venue, a store, a building) that holds beacons. Sites come from
// the cloud API, live in the site manager's cache and in the local store, and are read by
// ranging and micro-location on their own queues, so every field sits behind the record's
// lock. Besides the server's fields a site keeps its sync state and the dates of its beacon
// and category caches; the beacons themselves live in the ranging hub.
//
// JSON: "id" is siteID; the export holds teamID, beaconCount, siteAccessType, siteID, name,
// notes, address, maps and customValues. The sync state (syncStatus, syncedAt), cachedAt
// and the cache fields stay out of the JSON form both ways: a server object cannot set them.
class KSSite : public KSJSONRecord<KSSite>, public std::enable_shared_from_this<KSSite> {
 public:
  using CustomValues = std::vector<std::shared_ptr<KSCustomValue>>;
  using CustomValueMap = std::map<std::string, std::string>;
  using Maps = std::vector<std::shared_ptr<KSMap>>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using Categories = std::vector<std::shared_ptr<KSCategory>>;
  using Failure = std::function<void(const platform::Error&)>;

  static const KSJSONModelClass& jsonClass();

#define KS_SITE_FIELD(Type, name, Setter)                     \
  Type name() const { return f_.get(&Fields::name); }         \
  void Setter(Type v) { f_.set(&Fields::name, std::move(v)); }
  KS_SITE_FIELD(std::optional<std::string>, siteID, setSiteID)
  KS_SITE_FIELD(std::optional<std::string>, name, setName)
  KS_SITE_FIELD(std::shared_ptr<KSSiteAccessType>, siteAccessType, setSiteAccessType)
  KS_SITE_FIELD(std::shared_ptr<KSAddress>, address, setAddress)
  KS_SITE_FIELD(std::optional<Maps>, maps, setMaps)
  KS_SITE_FIELD(std::optional<std::string>, teamID, setTeamID)
  KS_SITE_FIELD(std::optional<std::string>, notes, setNotes)
  KS_SITE_FIELD(std::int64_t, beaconCount, setBeaconCount)
  KS_SITE_FIELD(std::optional<platform::Date>, modifiedAt, setModifiedAt)
  // When the site manager last placed the record in its cache.
  KS_SITE_FIELD(std::optional<platform::Date>, cachedAt, setCachedAt)
  KS_SITE_FIELD(std::optional<platform::Date>, syncedAt, setSyncedAt)
  // KSSyncStatus: 0 not synced, 1 unauthorized, 2 synced, 3 restored, 4 expired.
  KS_SITE_FIELD(std::int64_t, syncStatus, setSyncStatus)
  KS_SITE_FIELD(std::optional<platform::Date>, cachedCategoriesAt, setCachedCategoriesAt)
  // When this record last loaded its beacons from the cloud API.
  KS_SITE_FIELD(std::optional<platform::Date>, cachedBeaconsAt, setCachedBeaconsAt)
#undef KS_SITE_FIELD

  std::optional<platform::Date> createdAt() const;
  // A server creation time marks the site synced: with a date, syncedAt becomes now and
  // syncStatus 2, in one step. Clearing it changes nothing else.
  void setCreatedAt(std::optional<platform::Date> v);

  // A copy of the list (the pairs themselves are shared).
  std::optional<CustomValues> customValues() const;
  // Keeps a copy of the list and rebuilds customValueForKey from it, in one step.
  void setCustomValues(std::optional<CustomValues> v);
  // Each pair's key to its value, a later pair overriding an earlier one; pairs without a
  // key or a value add nothing. Absent while the list is absent or empty.
  std::optional<CustomValueMap> customValueForKey() const;

  // Synced (2) or restored (3).
  bool isSyncedOrRestored() const;
  // The address's location; none without an address or without both coordinates.
  std::optional<platform::location::Location> location() const;
  // The name (empty when it is not set).
  std::string description() const override;

  // The ranging hub's cached beacons of this site; none without a hub or a siteID.
  Beacons cachedBeacons() const;
  // Fresh for good once this record loaded its beacons; before that, expired unless the hub
  // may refresh the site's cache and says it need not.
  bool hasBeaconsCacheExpired() const;
  // With preferCached and a fresh cache, success gets cachedBeacons later on the main queue
  // (read when the queue runs it). Otherwise every page of "teams/<teamID>/sites/<siteID>/
  // beacons" goes to the hub as a sync result of this site (status 200), stamps
  // cachedBeaconsAt, recomputes the categories and calls success with all the site's cached
  // beacons so far: once per page. Page errors go to failure unchanged. A running load
  // keeps the record alive.
  void getBeaconsWithSuccess(std::function<void(const Beacons&)> success, Failure failure, bool preferCached);

  // The category cache expires with the beacon cache.
  bool hasCategoriesCacheExpired() const;
  // None while the cache has expired; otherwise the stored categories, computed from the
  // cached beacons first when none are stored.
  std::optional<Categories> cachedCategories();
  void setCachedCategories(std::optional<Categories> v);
  // As getBeaconsWithSuccess, handing success the site's categories instead.
  void getCategoriesWithSuccess(std::function<void(const Categories&)> success, Failure failure, bool preferCached);
  // The distinct categories (by categoryID; a later one replaces an earlier one in its
  // place) of the cached beacons, in order of first appearance; categories without an id
  // are skipped. Stamps cachedCategoriesAt.
  void cacheSiteCategoriesFromCachedBeacons();

  // A new site with the server fields, copies of the address, access type, custom values
  // and maps, and the source's cachedAt, syncedAt and syncStatus. The caches start empty.
  std::shared_ptr<KSSite> copy() const;

 private:
  struct Fields {
    std::optional<CustomValues> customValues;
    std::optional<CustomValueMap> customValueForKey;
    std::optional<std::string> siteID, name;
    std::shared_ptr<KSSiteAccessType> siteAccessType;
    std::shared_ptr<KSAddress> address;
    std::optional<Maps> maps;
    std::optional<std::string> teamID, notes;
    std::int64_t beaconCount = 0;
    std::optional<platform::Date> createdAt, modifiedAt, cachedAt, syncedAt;
    std::int64_t syncStatus = 0;
    std::optional<platform::Date> cachedCategoriesAt;
    std::optional<Categories> cachedCategories;
    std::optional<platform::Date> cachedBeaconsAt;
  };
  KSGuardedFields<Fields> f_;
};

// Sorting and filtering of site lists; each gives a new list and leaves the given one alone.
// Sorts are stable.
namespace site_array {

using Sites = std::vector<std::shared_ptr<KSSite>>;

// By distance from the location; a site without an address or a coordinate counts as lying
// at latitude 0, longitude 0.
Sites sortedSiteArrayUsingLocation(const Sites& sites, const platform::location::Location& location, bool ascending);
// By the address's state, then its city, then the site's name, all in the one direction,
// byte-wise; a missing text sorts first when ascending.
Sites sortedSiteArrayUsingStateAbbrevAndCityNameAndSiteNameAscending(const Sites& sites, bool ascending);
// The sites with a location at most `distance` metres from the given one.
Sites filteredSiteArrayUsingLocation(const Sites& sites, const platform::location::Location& location, double distance);
Sites filteredSiteArrayUsingTeamID(const Sites& sites, std::string_view teamID);
Sites filteredSiteArrayUsingSyncedOrRestored(const Sites& sites, bool syncedOrRestored);
// The first site with that id; nullptr when none has it or no id is given.
std::shared_ptr<KSSite> siteWithSiteID(const Sites& sites, const std::optional<std::string>& siteID);

}  // namespace site_array

}  // namespace velmora::kestrine
