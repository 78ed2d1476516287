#include "beacons/storage/KSManagedSite.h"

#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSiteAccessType.h"
#include "beacons/storage/KSManagedBeacon.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Dict;
using platform::Value;
using platform::store::ObjectID;
using platform::store::StoreContext;

std::optional<ObjectID> KSManagedSite::managedObjectFromSite(StoreContext& ctx, const KSSite& site) {
  const auto siteID = site.siteID();
  if (!siteID) {
    platform::Log::warning("local-storage", "a site without its identifier is not stored");
    return std::nullopt;
  }
  platform::Error error;
  auto row = ctx.insert(KSSiteEntityName, Dict{{"siteID", Value(*siteID)}}, &error);
  if (!row) {
    platform::Log::error("local-storage", "storing a site failed: {}", error.localizedDescription);
    return std::nullopt;
  }
  setValuesWithSite(ctx, *row, site);
  return row;
}

namespace {

Value orNull(const std::optional<std::string>& v) { return v ? Value(*v) : Value(platform::null); }

std::optional<std::string> text(const Dict& d, std::string_view key) {
  auto it = d.find(key);
  if (it == d.end() || !it->second.string()) return std::nullopt;
  return *it->second.string();
}

}  // namespace

void KSManagedSite::setValuesWithSite(StoreContext& ctx, ObjectID row, const KSSite& site) {
  Dict values{{"name", orNull(site.name())},
              {"teamID", orNull(site.teamID())},
              {"syncedAt", site.syncedAt() ? Value(*site.syncedAt()) : Value(platform::null)},
              {"syncStatus", Value(site.syncStatus())}};
  // The row requires its site ID: a record without one keeps the stored ID.
  if (auto siteID = site.siteID()) values.emplace("siteID", Value(*siteID));
  // Without an access type on the record the stored one stays.
  if (auto access = site.siteAccessType()) {
    values.emplace("siteAccessTypeID", Value(access->siteAccessTypeID()));
    values.emplace("siteAccessTypeName", orNull(access->name()));
    values.emplace("siteAccessTypeDisplayName", orNull(access->displayName()));
  }
  platform::Error error;
  if (!ctx.update(row, values, &error)) {
    platform::Log::error("local-storage", "writing a site failed: {}", error.localizedDescription);
    return;
  }
  KSManagedCustomValue::reconcile(ctx, row, "customValues", "site", site.customValues());
}

std::shared_ptr<KSSite> KSManagedSite::toSite(StoreContext& ctx, ObjectID row) {
  auto stored = ctx.values(row);
  if (!stored) return nullptr;
  const Dict& v = *stored;
  auto site = std::make_shared<KSSite>();
  site->setSiteID(text(v, "siteID"));
  site->setName(text(v, "name"));
  if (auto it = v.find("siteAccessTypeID"); it != v.end()) {
    if (auto id = it->second.toInt64()) {
      auto access = std::make_shared<KSSiteAccessType>();
      access->setSiteAccessTypeID(*id);
      access->setName(text(v, "siteAccessTypeName"));
      access->setDisplayName(text(v, "siteAccessTypeDisplayName"));
      site->setSiteAccessType(std::move(access));
    }
  }
  site->setTeamID(text(v, "teamID"));
  if (auto it = v.find("syncedAt"); it != v.end()) site->setSyncedAt(it->second.toDate());
  site->setSyncStatus(KSSyncStatusRestored);
  KSSite::CustomValues customValues;
  for (ObjectID id : ctx.relatedMany(row, "customValues")) {
    if (auto value = KSManagedCustomValue::toCustomValue(ctx, id)) customValues.push_back(std::move(value));
  }
  site->setCustomValues(std::move(customValues));
  return site;
}

}  // namespace velmora::kestrine
