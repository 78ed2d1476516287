#include "beacons/storage/KSManagedBeacon.h"

#include <fmt/format.h>

#include <set>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSNetworkAccessOwnership.h"
#include "beacons/model/KSNetworkAccessRole.h"
#include "beacons/model/KSPoint.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/core/Log.h"

#undef major
#undef minor

namespace kestrine {

using platform::Dict;
using platform::Value;
using platform::store::ObjectID;
using platform::store::StoreContext;

namespace {

constexpr std::string_view kLog = "local-storage";

// A field for a write: the text, or null to clear the attribute.
Value orNull(const std::optional<std::string>& v) { return v ? Value(*v) : Value(platform::null); }
Value orNull(const std::optional<platform::Date>& v) { return v ? Value(*v) : Value(platform::null); }
Value orNull(const Value& v) { return v.isAbsent() ? Value(platform::null) : v; }

std::optional<std::string> text(const Dict& d, std::string_view key) {
  auto it = d.find(key);
  if (it == d.end()) return std::nullopt;
  if (const std::string* s = it->second.string()) return *s;
  return std::nullopt;
}
std::optional<platform::Date> date(const Dict& d, std::string_view key) {
  auto it = d.find(key);
  return it == d.end() ? std::nullopt : it->second.toDate();
}
Value number(const Dict& d, std::string_view key) {
  auto it = d.find(key);
  return it == d.end() || !it->second.isNumber() ? Value() : it->second;
}

void update(StoreContext& ctx, ObjectID row, const Dict& values) {
  platform::Error error;
  if (!ctx.update(row, values, &error)) {
    platform::Log::error(kLog, "writing a {} row failed: {}", row.entity->name, error.localizedDescription);
  }
}

std::string joinRoles(const KSNetworkAccess::Roles& roles) {
  std::string out;
  for (const auto& role : roles) {
    if (!role) continue;
    if (!out.empty()) out += ',';
    out += std::to_string(role->networkAccessRoleID());
  }
  return out;
}

}  // namespace

// --- custom values --------------------------------------------------------------------------

bool KSManagedCustomValue::isComplete(const KSCustomValue& value) {
  return value.key() && value.value() && value.customValueID();
}

std::optional<ObjectID> KSManagedCustomValue::managedObjectFromCustomValue(StoreContext& ctx,
                                                                           const KSCustomValue& value,
                                                                           std::string_view link, ObjectID owner) {
  if (!isComplete(value)) {
    platform::Log::warning(kLog, "a custom value without its key, value or identifier is not stored");
    return std::nullopt;
  }
  platform::Error error;
  auto row = ctx.insert(KSCustomValueEntityName,
                        Dict{{"key", Value(*value.key())},
                             {"value", Value(*value.value())},
                             {"customValueID", Value(*value.customValueID())},
                             {std::string(link), Value(owner.pk)}},
                        &error);
  if (!row) platform::Log::error(kLog, "storing a custom value failed: {}", error.localizedDescription);
  return row;
}

std::shared_ptr<KSCustomValue> KSManagedCustomValue::toCustomValue(StoreContext& ctx, ObjectID row) {
  auto values = ctx.values(row);
  if (!values) return nullptr;
  auto out = std::make_shared<KSCustomValue>();
  out->setKey(text(*values, "key"));
  out->setValue(text(*values, "value"));
  out->setCustomValueID(text(*values, "customValueID"));
  return out;
}

void KSManagedCustomValue::reconcile(StoreContext& ctx, ObjectID owner, std::string_view toMany, std::string_view link,
                                     const std::optional<std::vector<std::shared_ptr<KSCustomValue>>>& values) {
  std::vector<std::pair<ObjectID, std::optional<std::string>>> current;
  for (ObjectID id : ctx.relatedMany(owner, toMany)) current.emplace_back(id, text(ctx.values(id).value_or(Dict{}), "customValueID"));
  std::set<std::string> kept;
  for (const auto& value : values.value_or(std::vector<std::shared_ptr<KSCustomValue>>{})) {
    if (!value) continue;
    if (!isComplete(*value)) {
      platform::Log::warning(kLog, "a custom value without its key, value or identifier is not stored");
      continue;
    }
    kept.insert(*value->customValueID());
    bool matched = false;
    for (const auto& [id, valueID] : current) {
      if (valueID == value->customValueID()) {
        update(ctx, id, Dict{{"key", Value(*value->key())}, {"value", Value(*value->value())}});
        matched = true;
      }
    }
    if (!matched) managedObjectFromCustomValue(ctx, *value, link, owner);
  }
  for (const auto& [id, valueID] : current) {
    if (!valueID || !kept.count(*valueID)) ctx.setRelated(id, link, std::nullopt);
  }
}

// --- categories -----------------------------------------------------------------------------

std::optional<ObjectID> KSManagedBeaconCategory::managedObjectFromCategory(StoreContext& ctx, const KSCategory& category,
                                                                           const std::optional<std::string>& beaconID,
                                                                           std::optional<ObjectID> beacon) {
  const auto categoryID = category.categoryID();
  if (!categoryID || !beaconID) {
    platform::Log::warning(kLog, "a category without its identifier or its beacon's is not stored");
    return std::nullopt;
  }
  platform::Error error;
  Dict values{{"beaconID", Value(*beaconID)}, {"categoryID", Value(*categoryID)}};
  if (auto name = category.name()) values.emplace("name", Value(*name));
  if (beacon) values.emplace("beacon", Value(beacon->pk));
  auto row = ctx.insert(KSBeaconCategoryEntityName, values, &error);
  if (!row) {
    platform::Log::error(kLog, "storing a category failed: {}", error.localizedDescription);
    return std::nullopt;
  }
  for (const auto& value : category.customValues().value_or(KSCategory::CustomValues{})) {
    if (value) KSManagedCustomValue::managedObjectFromCustomValue(ctx, *value, "category", *row);
  }
  return row;
}

void KSManagedBeaconCategory::updateByCategory(StoreContext& ctx, ObjectID row, const KSCategory& category) {
  auto values = ctx.values(row);
  if (!values || text(*values, "categoryID") != category.categoryID()) return;
  update(ctx, row, Dict{{"name", orNull(category.name())}});
  for (ObjectID old : ctx.relatedMany(row, "customValues")) ctx.remove(old);
  for (const auto& value : category.customValues().value_or(KSCategory::CustomValues{})) {
    if (value) KSManagedCustomValue::managedObjectFromCustomValue(ctx, *value, "category", row);
  }
}

std::shared_ptr<KSCategory> KSManagedBeaconCategory::toCategory(StoreContext& ctx, ObjectID row) {
  auto values = ctx.values(row);
  if (!values) return nullptr;
  auto out = std::make_shared<KSCategory>();
  out->setCategoryID(text(*values, "categoryID"));
  out->setName(text(*values, "name"));
  KSCategory::CustomValues customValues;
  for (ObjectID id : ctx.relatedMany(row, "customValues")) {
    if (auto v = KSManagedCustomValue::toCustomValue(ctx, id)) customValues.push_back(std::move(v));
  }
  out->setCustomValues(std::move(customValues));
  return out;
}

// --- beacons --------------------------------------------------------------------------------

namespace {

// The beacon's attribute values as the row keeps them (its beacon ID only when it has one).
Dict beaconValues(const KSBeacon& beacon) {
  const auto beaconID = beacon.beaconID();
  Dict values{{"iBeaconKey", orNull(beacon.iBeaconKey())},
              {"proximityUUIDString", orNull(beacon.proximityUUIDString())},
              {"major", orNull(beacon.major())},
              {"minor", orNull(beacon.minor())},
              {"bluetoothAddress", orNull(beacon.bluetoothAddress())},
              {"teamID", orNull(beacon.teamID())},
              {"siteID", orNull(beacon.siteID())},
              {"siteName", orNull(beacon.siteName())},
              {"name", orNull(beacon.name())},
              {"serialNumber", orNull(beacon.serialNumber())},
              {"syncedAt", orNull(beacon.syncedAt())},
              {"syncStatus", Value(beacon.syncStatus())},
              {"featureBitmask", Value(static_cast<std::int64_t>(beacon.featureBitmask()))},
              {"wireframeURLString", orNull(beacon.wireframeURLString())}};
  // The row requires its beacon ID: a record without one keeps the stored ID.
  if (beaconID) values.emplace("beaconID", Value(*beaconID));
  if (auto eddystone = beacon.eddystone()) values.emplace("eddystoneUIDString", orNull(eddystone->UIDString()));
  if (Value power = beacon.measuredPowerAt1Meter(); power.isNumber()) {
    values.emplace("measuredPowerAt1Meter", power);
  } else if (auto loudness = beacon.beaconLoudness()) {
    values.emplace("measuredPowerAt1Meter", Value(loudness->measuredPowerAt1Meter()));
  }
  if (auto mapPoint = beacon.mapPoint()) {
    const auto& point = mapPoint->point();
    values.emplace("mapID", orNull(mapPoint->mapID()));
    values.emplace("mapPointX", point ? Value(point->x()) : Value(platform::null));
    values.emplace("mapPointY", point ? Value(point->y()) : Value(platform::null));
  }
  if (auto access = beacon.networkAccess()) {
    const auto& ownership = access->ownership();
    values.emplace("networkAccessOwnershipID",
                   ownership ? Value(ownership->networkAccessOwnershipID()) : Value(platform::null));
    values.emplace("networkAccessPermittedRoleIDs",
                   access->permittedRoles() ? Value(joinRoles(*access->permittedRoles())) : Value(platform::null));
    values.emplace("networkAccessBeginsAt", orNull(access->beginsAt()));
    values.emplace("networkAccessEndsAt", orNull(access->endsAt()));
  }
  return values;
}

}  // namespace

std::optional<ObjectID> KSManagedBeacon::managedObjectFromBeacon(StoreContext& ctx, const KSBeacon& beacon) {
  const auto beaconID = beacon.beaconID();
  if (!beaconID) {
    platform::Log::warning(kLog, "beacon {} has no beacon ID and is not stored", beacon.serialNumber().value_or(""));
    return std::nullopt;
  }
  Dict values = beaconValues(beacon);
  // A new row's columns start empty: binding the empty ones again is wasted work.
  std::erase_if(values, [](const auto& entry) { return entry.second.isNull(); });
  platform::Error error;
  auto row = ctx.insert(KSBeaconEntityName, values, &error);
  if (!row) {
    platform::Log::error(kLog, "storing beacon {} failed: {}", *beaconID, error.localizedDescription);
    return std::nullopt;
  }
  // A new row has no categories or custom values to reconcile with.
  for (const auto& category : beacon.categories().value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
    if (category) KSManagedBeaconCategory::managedObjectFromCategory(ctx, *category, beaconID, *row);
  }
  for (const auto& value : beacon.customValues().value_or(std::vector<std::shared_ptr<KSCustomValue>>{})) {
    if (value) KSManagedCustomValue::managedObjectFromCustomValue(ctx, *value, "beacon", *row);
  }
  return row;
}

void KSManagedBeacon::setValuesWithBeacon(StoreContext& ctx, ObjectID row, const KSBeacon& beacon) {
  const auto beaconID = beacon.beaconID();
  update(ctx, row, beaconValues(beacon));

  // Category rows carry the beacon's ID: the record's, or the one the row keeps.
  const auto rowBeaconID = beaconID ? beaconID : text(ctx.values(row).value_or(Dict{}), "beaconID");
  std::vector<std::pair<ObjectID, std::optional<std::string>>> current;
  for (ObjectID id : ctx.relatedMany(row, "categories")) {
    current.emplace_back(id, text(ctx.values(id).value_or(Dict{}), "categoryID"));
  }
  std::set<std::string> kept;
  for (const auto& category : beacon.categories().value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
    if (!category) continue;
    const auto categoryID = category->categoryID();
    if (!categoryID) {
      platform::Log::warning(kLog, "a category without its identifier is not stored");
      continue;
    }
    kept.insert(*categoryID);
    bool matched = false;
    for (const auto& [id, storedID] : current) {
      if (storedID == categoryID) {
        KSManagedBeaconCategory::updateByCategory(ctx, id, *category);
        matched = true;
      }
    }
    if (!matched) KSManagedBeaconCategory::managedObjectFromCategory(ctx, *category, rowBeaconID, row);
  }
  for (const auto& [id, storedID] : current) {
    if (!storedID || !kept.count(*storedID)) ctx.setRelated(id, "beacon", std::nullopt);
  }

  KSManagedCustomValue::reconcile(ctx, row, "customValues", "beacon", beacon.customValues());
}

std::shared_ptr<KSBeacon> KSManagedBeacon::toBeacon(StoreContext& ctx, ObjectID row) {
  auto stored = ctx.values(row);
  if (!stored) return nullptr;
  const Dict& v = *stored;
  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID(text(v, "beaconID"));
  beacon->setProximityUUIDString(text(v, "proximityUUIDString"));
  beacon->setMajor(number(v, "major"));
  beacon->setMinor(number(v, "minor"));
  beacon->setTeamID(text(v, "teamID"));
  beacon->setSiteID(text(v, "siteID"));
  beacon->setSiteName(text(v, "siteName"));
  beacon->setName(text(v, "name"));
  beacon->setSerialNumber(text(v, "serialNumber"));
  beacon->setBluetoothAddress(text(v, "bluetoothAddress"));
  beacon->setMeasuredPowerAt1Meter(number(v, "measuredPowerAt1Meter"));
  beacon->setWireframeURLString(text(v, "wireframeURLString"));
  beacon->setFeatureBitmask(static_cast<std::uint32_t>(number(v, "featureBitmask").toInt64().value_or(0)));

  if (auto uid = text(v, "eddystoneUIDString"); uid && !uid->empty()) {
    const auto parts = KSEddystone::namespaceIDAndInstanceIDFromUIDString(*uid);
    if (parts.size() != 2) return nullptr;
    auto eddystone = std::make_shared<KSEddystone>();
    eddystone->setUIDString(*uid);
    eddystone->setNamespaceID(parts[0]);
    eddystone->setInstanceID(parts[1]);
    beacon->setEddystone(std::move(eddystone));
  }
  const auto mapID = text(v, "mapID");
  const auto x = number(v, "mapPointX").toDouble();
  const auto y = number(v, "mapPointY").toDouble();
  if (mapID && x && y) {
    auto mapPoint = std::make_shared<KSMapPoint>();
    mapPoint->setMapID(mapID);
    mapPoint->setPoint(KSPoint::pointWithXY(*x, *y));
    beacon->setMapPoint(std::move(mapPoint));
  }
  // After the beacon ID, whose setter marks the record synced now.
  beacon->setSyncedAt(date(v, "syncedAt"));
  beacon->setSyncStatus(KSSyncStatusRestored);

  std::vector<std::shared_ptr<KSCategory>> categories;
  for (ObjectID id : ctx.relatedMany(row, "categories")) {
    if (auto c = KSManagedBeaconCategory::toCategory(ctx, id)) categories.push_back(std::move(c));
  }
  beacon->setCategories(std::move(categories));
  std::vector<std::shared_ptr<KSCustomValue>> customValues;
  for (ObjectID id : ctx.relatedMany(row, "customValues")) {
    if (auto c = KSManagedCustomValue::toCustomValue(ctx, id)) customValues.push_back(std::move(c));
  }
  beacon->setCustomValues(std::move(customValues));

  const auto ownershipID = number(v, "networkAccessOwnershipID").toInt64();
  const auto roleIDs = text(v, "networkAccessPermittedRoleIDs");
  if (ownershipID && roleIDs) {
    auto access = std::make_shared<KSNetworkAccess>();
    auto ownership = std::make_shared<KSNetworkAccessOwnership>();
    ownership->setNetworkAccessOwnershipID(*ownershipID);
    access->setOwnership(std::move(ownership));
    access->setBeginsAt(date(v, "networkAccessBeginsAt"));
    access->setEndsAt(date(v, "networkAccessEndsAt"));
    KSNetworkAccess::Roles roles;
    std::string_view rest = *roleIDs;
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const std::string part(rest.substr(0, comma));
      auto role = std::make_shared<KSNetworkAccessRole>();
      std::int64_t id = 0;
      try {
        id = std::stoll(part);
      } catch (const std::exception&) {
        id = 0;
      }
      role->setNetworkAccessRoleID(id);
      roles.push_back(std::move(role));
      if (comma == std::string_view::npos) break;
      rest = rest.substr(comma + 1);
    }
    access->setPermittedRoles(std::move(roles));
    beacon->setNetworkAccess(std::move(access));
  }
  return beacon;
}

}  // namespace kestrine
