#include "beacons/model/KSSite.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconSyncResult.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSModelServices.h"

namespace velmora::kestrine {

using platform::Value;

const KSJSONModelClass& KSSite::jsonClass() {
  using S = KSSite;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<S>("KSSite", [](auto& c) {
    c.keyMapper({{"id", "siteID"}});
    c.allOptional();
    c.whitelist({"teamID", "beaconCount", "siteAccessType", "siteID", "name", "notes", "address", "maps", "customValues"});
    c.records("customValues", &S::customValues, &S::setCustomValues);
    c.text("siteID", &S::siteID, &S::setSiteID);
    c.text("name", &S::name, &S::setName);
    c.record("siteAccessType", &S::siteAccessType, &S::setSiteAccessType);
    c.record("address", &S::address, &S::setAddress);
    c.records("maps", &S::maps, &S::setMaps);
    c.text("teamID", &S::teamID, &S::setTeamID);
    c.text("notes", &S::notes, &S::setNotes);
    c.scalar("beaconCount", &S::beaconCount, &S::setBeaconCount);
    c.date("createdAt", &S::createdAt, &S::setCreatedAt);
    c.date("modifiedAt", &S::modifiedAt, &S::setModifiedAt);
  });
  return cls;
}

std::optional<platform::Date> KSSite::createdAt() const { return f_.get(&Fields::createdAt); }

void KSSite::setCreatedAt(std::optional<platform::Date> v) {
  const platform::Date now = KSModelClock::now();
  f_.update([&](Fields& f) {
    f.createdAt = v;
    if (v) {
      f.syncedAt = now;
      f.syncStatus = 2;
    }
  });
}

std::optional<KSSite::CustomValues> KSSite::customValues() const { return f_.get(&Fields::customValues); }

void KSSite::setCustomValues(std::optional<CustomValues> v) {
  std::optional<CustomValueMap> map;
  if (v && !v->empty()) {
    map.emplace();
    for (const auto& pair : *v) {
      if (!pair || !pair->key() || !pair->value()) continue;
      (*map)[*pair->key()] = *pair->value();
    }
  }
  // The old list and map leave through the swap, after the lock.
  f_.update([&](Fields& f) {
    std::swap(f.customValues, v);
    std::swap(f.customValueForKey, map);
  });
}

std::optional<KSSite::CustomValueMap> KSSite::customValueForKey() const { return f_.get(&Fields::customValueForKey); }

bool KSSite::isSyncedOrRestored() const {
  const std::int64_t status = syncStatus();
  return status == 2 || status == 3;
}

std::optional<platform::location::Location> KSSite::location() const {
  auto at = address();
  return at ? at->location() : std::nullopt;
}

std::string KSSite::description() const { return name().value_or(std::string()); }

// --- beacon and category caches --------------------------------------------------------------

KSSite::Beacons KSSite::cachedBeacons() const {
  auto hub = KSBeaconHubPort::shared();
  auto id = siteID();
  // A site without an id owns no beacons (rather than every beacon without a site).
  if (!hub || !id) return {};
  return hub->cachedBeaconsForRangingWithPredicate([id = *id](const KSBeacon& beacon) { return beacon.siteID() == id; });
}

bool KSSite::hasBeaconsCacheExpired() const {
  if (cachedBeaconsAt()) return false;
  auto hub = KSBeaconHubPort::shared();
  if (!hub) return true;
  const std::string id = siteID().value_or(std::string());
  if (!hub->canCacheRefreshForSiteID(id)) return true;
  return hub->shouldCacheRefreshForSiteID(id);
}

void KSSite::getBeaconsWithSuccess(std::function<void(const Beacons&)> success, Failure failure, bool preferCached) {
  auto self = shared_from_this();
  if (preferCached && !hasBeaconsCacheExpired()) {
    if (success) {
      model_services::postToMainQueue([self, success = std::move(success)] { success(self->cachedBeacons()); });
    }
    return;
  }
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  const std::string path =
      "teams/" + teamID().value_or(std::string()) + "/sites/" + siteID().value_or(std::string()) + "/beacons";
  client->loadAllPagesForPath(
      path, Value(platform::Dict{}),
      [self, success = std::move(success)](const platform::Array& items, bool) {
        KSBeaconSyncResult result;
        result.beacons = model_services::importPage<KSBeacon>(items, "beacon");
        result.siteID = self->siteID();
        result.httpStatusCode = 200;
        if (auto hub = KSBeaconHubPort::shared()) hub->cacheBeaconsFromSyncResult(result);
        self->setCachedBeaconsAt(KSModelClock::now());
        self->cacheSiteCategoriesFromCachedBeacons();
        if (success) success(self->cachedBeacons());
      },
      std::move(failure));
}

bool KSSite::hasCategoriesCacheExpired() const { return hasBeaconsCacheExpired(); }

std::optional<KSSite::Categories> KSSite::cachedCategories() {
  if (hasCategoriesCacheExpired()) return std::nullopt;
  if (auto stored = f_.get(&Fields::cachedCategories)) return stored;
  cacheSiteCategoriesFromCachedBeacons();
  return f_.get(&Fields::cachedCategories);
}

void KSSite::setCachedCategories(std::optional<Categories> v) { f_.set(&Fields::cachedCategories, std::move(v)); }

void KSSite::getCategoriesWithSuccess(std::function<void(const Categories&)> success, Failure failure,
                                      bool preferCached) {
  auto self = shared_from_this();
  if (preferCached && !hasCategoriesCacheExpired()) {
    if (success) {
      model_services::postToMainQueue(
          [self, success = std::move(success)] { success(self->cachedCategories().value_or(Categories{})); });
    }
    return;
  }
  std::function<void(const Beacons&)> onBeacons;
  if (success) {
    onBeacons = [self, success = std::move(success)](const Beacons&) {
      success(self->cachedCategories().value_or(Categories{}));
    };
  }
  getBeaconsWithSuccess(std::move(onBeacons), std::move(failure), preferCached);
}

void KSSite::cacheSiteCategoriesFromCachedBeacons() {
  Categories distinct;
  std::map<std::string, std::size_t> placeOfID;
  for (const auto& beacon : cachedBeacons()) {
    if (!beacon) continue;
    for (const auto& category : beacon->categories().value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
      if (!category) continue;
      auto id = category->categoryID();
      if (!id) continue;
      auto [it, added] = placeOfID.emplace(*id, distinct.size());
      if (added) {
        distinct.push_back(category);
      } else {
        distinct[it->second] = category;
      }
    }
  }
  std::optional<Categories> fresh(std::move(distinct));
  const platform::Date now = KSModelClock::now();
  f_.update([&](Fields& f) {
    std::swap(f.cachedCategories, fresh);
    f.cachedCategoriesAt = now;
  });
}

// --- copy ------------------------------------------------------------------------------------

std::shared_ptr<KSSite> KSSite::copy() const {
  const Fields source = f_.snapshot();
  auto site = std::make_shared<KSSite>();
  site->setSiteID(source.siteID);
  site->setName(source.name);
  site->setNotes(source.notes);
  site->setAddress(source.address ? source.address->copy() : nullptr);
  site->setSiteAccessType(source.siteAccessType ? source.siteAccessType->copy() : nullptr);
  if (source.customValues) {
    CustomValues values;
    values.reserve(source.customValues->size());
    for (const auto& v : *source.customValues) values.push_back(v ? v->copy() : nullptr);
    site->setCustomValues(std::move(values));
  }
  if (source.maps) {
    Maps maps;
    maps.reserve(source.maps->size());
    for (const auto& m : *source.maps) maps.push_back(m ? m->copy() : nullptr);
    site->setMaps(std::move(maps));
  }
  site->setCreatedAt(source.createdAt);
  site->setModifiedAt(source.modifiedAt);
  site->setBeaconCount(source.beaconCount);
  site->setTeamID(source.teamID);
  site->setCachedAt(source.cachedAt);
  // After createdAt, whose side effect would mark any dated copy synced: a copy of an
  // unauthorised or expired site must stay one.
  site->setSyncedAt(source.syncedAt);
  site->setSyncStatus(source.syncStatus);
  return site;
}

// --- site lists ------------------------------------------------------------------------------

namespace site_array {

namespace {

using OptText = std::optional<std::string>;

// Byte-wise order of optional texts, a missing one first.
int compareTexts(const OptText& a, const OptText& b) {
  if (!a || !b) return a ? 1 : (b ? -1 : 0);
  const int c = a->compare(*b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

double distanceOrigin(const std::shared_ptr<KSSite>& site, const platform::location::Location& from) {
  platform::location::Location at;
  at.latitude = 0;
  at.longitude = 0;
  if (auto address = site ? site->address() : nullptr) {
    at.latitude = address->latitude().toDouble().value_or(0);
    at.longitude = address->longitude().toDouble().value_or(0);
  }
  return at.distanceFromLocation(from);
}

template <class Keep>
Sites filtered(const Sites& sites, Keep keep) {
  Sites out;
  for (const auto& site : sites) {
    if (site && keep(*site)) out.push_back(site);
  }
  return out;
}

}  // namespace

Sites sortedSiteArrayUsingLocation(const Sites& sites, const platform::location::Location& location, bool ascending) {
  std::vector<std::pair<double, std::shared_ptr<KSSite>>> keyed;
  keyed.reserve(sites.size());
  for (const auto& site : sites) keyed.emplace_back(distanceOrigin(site, location), site);
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  });
  Sites out;
  out.reserve(keyed.size());
  for (auto& [distance, site] : keyed) out.push_back(std::move(site));
  return out;
}

Sites sortedSiteArrayUsingStateAbbrevAndCityNameAndSiteNameAscending(const Sites& sites, bool ascending) {
  using Key = std::tuple<OptText, OptText, OptText>;
  std::vector<std::pair<Key, std::shared_ptr<KSSite>>> keyed;
  keyed.reserve(sites.size());
  for (const auto& site : sites) {
    auto address = site ? site->address() : nullptr;
    keyed.emplace_back(Key{address ? address->stateAbbrev() : std::nullopt, address ? address->cityName() : std::nullopt,
                           site ? site->name() : std::nullopt},
                       site);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    int c = compareTexts(std::get<0>(a.first), std::get<0>(b.first));
    if (c == 0) c = compareTexts(std::get<1>(a.first), std::get<1>(b.first));
    if (c == 0) c = compareTexts(std::get<2>(a.first), std::get<2>(b.first));
    return ascending ? c < 0 : c > 0;
  });
  Sites out;
  out.reserve(keyed.size());
  for (auto& [key, site] : keyed) out.push_back(std::move(site));
  return out;
}

Sites filteredSiteArrayUsingLocation(const Sites& sites, const platform::location::Location& location, double distance) {
  return filtered(sites, [&](const KSSite& site) {
    auto at = site.location();
    return at && at->distanceFromLocation(location) <= distance;
  });
}

Sites filteredSiteArrayUsingTeamID(const Sites& sites, std::string_view teamID) {
  return filtered(sites, [&](const KSSite& site) { return site.teamID() == teamID; });
}

Sites filteredSiteArrayUsingSyncedOrRestored(const Sites& sites, bool syncedOrRestored) {
  return filtered(sites, [&](const KSSite& site) { return site.isSyncedOrRestored() == syncedOrRestored; });
}

std::shared_ptr<KSSite> siteWithSiteID(const Sites& sites, const std::optional<std::string>& siteID) {
  if (!siteID) return nullptr;
  for (const auto& site : sites) {
    if (site && site->siteID() == siteID) return site;
  }
  return nullptr;
}

}  // namespace site_array

}  // namespace velmora::kestrine
