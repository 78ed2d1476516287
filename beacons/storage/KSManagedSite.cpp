#include "beacons/storage/KSManagedSite.h"

#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/core/Log.h"

namespace kestrine {

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

void KSManagedSite::setValuesWithSite(StoreContext& ctx, ObjectID row, const KSSite& site) {
  const auto name = site.name();
  Dict values{{"name", name ? Value(*name) : Value(platform::null)}};
  if (auto siteID = site.siteID()) values.emplace("siteID", Value(*siteID));
  platform::Error error;
  if (!ctx.update(row, values, &error)) {
    platform::Log::error("local-storage", "writing a site failed: {}", error.localizedDescription);
  }
}

std::shared_ptr<KSSite> KSManagedSite::toSite(StoreContext& ctx, ObjectID row) {
  auto values = ctx.values(row);
  if (!values) return nullptr;
  auto site = std::make_shared<KSSite>();
  if (auto it = values->find("siteID"); it != values->end() && it->second.string()) site->setSiteID(*it->second.string());
  if (auto it = values->find("name"); it != values->end() && it->second.string()) site->setName(*it->second.string());
  return site;
}

}  // namespace kestrine
