#include "beacons/storage/KSManagedBeacon.h"

#include <fmt/format.h>

#include <array>
#include <set>
#include <span>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
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

namespace velmora::kestrine {

using platform::Dict;
using platform::Value;
using platform::store::Field;
using platform::store::ObjectID;
using platform::store::StoreContext;

namespace {

constexpr std::string_view kLog = "local-storage";

// A field for a write: the text, or null to clear the attribute.
Value orNull(std::optional<std::string>&& v) { return v ? Value(std::move(*v)) : Value(platform::null); }
Value orNull(const std::optional<std::string>& v) { return v ? Value(*v) : Value(platform::null); }
Value orNull(const std::optional<platform::Date>& v) { return v ? Value(*v) : Value(platform::null); }
Value orNull(Value&& v) { return v.isAbsent() ? Value(platform::null) : std::move(v); }

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

void update(StoreContext& ctx, ObjectID row, std::span<const Field> values) {
  platform::Error error;
  if (!ctx.updateRow(row, values, &error)) {
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
  const std::array<Field, 4> fields{Field{"key", Value(*value.key())}, Field{"value", Value(*value.value())},
                                    Field{"customValueID", Value(*value.customValueID())},
                                    Field{link, Value(owner.pk)}};
  auto row = ctx.insertRow(KSCustomValueEntityName, fields, &error);
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
        const std::array<Field, 2> fields{Field{"key", Value(*value->key())}, Field{"value", Value(*value->value())}};
        update(ctx, id, fields);
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
  std::array<Field, 4> values{Field{"beaconID", Value(*beaconID)}, Field{"categoryID", Value(*categoryID)}};
  std::size_t count = 2;
  if (auto name = category.name()) values[count++] = {"name", Value(std::move(*name))};
  if (beacon) values[count++] = {"beacon", Value(beacon->pk)};
  auto row = ctx.insertRow(KSBeaconCategoryEntityName, std::span(values.data(), count), &error);
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
  replaceMatchedCategory(ctx, row, category);
}

void KSManagedBeaconCategory::replaceMatchedCategory(StoreContext& ctx, ObjectID row, const KSCategory& category) {
  const Field name{"name", orNull(category.name())};
  update(ctx, row, std::span(&name, 1));
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
std::vector<Field> beaconValues(const KSBeacon& beacon) {
  std::vector<Field> values;
  values.reserve(24);
  values.push_back({"iBeaconKey", orNull(beacon.iBeaconKey())});
  values.push_back({"proximityUUIDString", orNull(beacon.proximityUUIDString())});
  values.push_back({"major", orNull(beacon.major())});
  values.push_back({"minor", orNull(beacon.minor())});
  values.push_back({"bluetoothAddress", orNull(beacon.bluetoothAddress())});
  values.push_back({"teamID", orNull(beacon.teamID())});
  values.push_back({"siteID", orNull(beacon.siteID())});
  values.push_back({"siteName", orNull(beacon.siteName())});
  values.push_back({"name", orNull(beacon.name())});
  values.push_back({"serialNumber", orNull(beacon.serialNumber())});
  values.push_back({"syncedAt", orNull(beacon.syncedAt())});
  values.push_back({"syncStatus", Value(beacon.syncStatus())});
  values.push_back({"featureBitmask", Value(static_cast<std::int64_t>(beacon.featureBitmask()))});
  values.push_back({"wireframeURLString", orNull(beacon.wireframeURLString())});
  // The row requires its beacon ID: a record without one keeps the stored ID.
  if (auto beaconID = beacon.beaconID()) values.push_back({"beaconID", Value(std::move(*beaconID))});
  if (auto eddystone = beacon.eddystone()) values.push_back({"eddystoneUIDString", orNull(eddystone->UIDString())});
  if (Value power = beacon.measuredPowerAt1Meter(); power.isNumber()) {
    values.push_back({"measuredPowerAt1Meter", std::move(power)});
  } else if (auto loudness = beacon.beaconLoudness()) {
    values.push_back({"measuredPowerAt1Meter", Value(loudness->measuredPowerAt1Meter())});
  }
  if (auto mapPoint = beacon.mapPoint()) {
    const auto& point = mapPoint->point();
    values.push_back({"mapID", orNull(mapPoint->mapID())});
    values.push_back({"mapPointX", point ? Value(point->x()) : Value(platform::null)});
    values.push_back({"mapPointY", point ? Value(point->y()) : Value(platform::null)});
  }
  if (auto access = beacon.networkAccess()) {
    const auto& ownership = access->ownership();
    values.push_back({"networkAccessOwnershipID",
                      ownership ? Value(ownership->networkAccessOwnershipID()) : Value(platform::null)});
    values.push_back({"networkAccessPermittedRoleIDs",
                      access->permittedRoles() ? Value(joinRoles(*access->permittedRoles())) : Value(platform::null)});
    values.push_back({"networkAccessBeginsAt", orNull(access->beginsAt())});
    values.push_back({"networkAccessEndsAt", orNull(access->endsAt())});
  }
  return values;
}

}  // namespace

KSManagedBeacon::Snapshot KSManagedBeacon::snapshotOf(const KSBeacon& beacon) {
  Snapshot out;
  out.beaconID = beacon.beaconID();
  out.serialNumber = beacon.serialNumber();
  out.fields = beaconValues(beacon);
  if (auto categories = beacon.categories()) {
    out.categories.emplace();
    out.categories->reserve(categories->size());
    for (const auto& c : *categories) out.categories->push_back(c ? c->copy() : nullptr);
  }
  if (auto values = beacon.customValues()) {
    out.customValues.emplace();
    out.customValues->reserve(values->size());
    for (const auto& v : *values) out.customValues->push_back(v ? v->copy() : nullptr);
  }
  // Every property of the region, team included (the region's own copy leaves the team out).
  if (auto region = beacon.beaconRegion()) out.beaconRegion = std::static_pointer_cast<KSBeaconRegion>(region->copyModel());
  return out;
}

std::optional<ObjectID> KSManagedBeacon::managedObjectFromBeacon(StoreContext& ctx, const KSBeacon& beacon) {
  return managedObjectFromBeacon(ctx, snapshotOf(beacon));
}

std::optional<ObjectID> KSManagedBeacon::managedObjectFromBeacon(StoreContext& ctx, const Snapshot& beacon) {
  const auto& beaconID = beacon.beaconID;
  if (!beaconID) {
    platform::Log::warning(kLog, "beacon {} has no beacon ID and is not stored", beacon.serialNumber.value_or(""));
    return std::nullopt;
  }
  std::vector<Field> values = beacon.fields;
  // A new row's columns start empty: binding the empty ones again is wasted work.
  std::erase_if(values, [](const Field& field) { return field.value.isNull(); });
  platform::Error error;
  auto row = ctx.insertRow(KSBeaconEntityName, values, &error);
  if (!row) {
    platform::Log::error(kLog, "storing beacon {} failed: {}", *beaconID, error.localizedDescription);
    return std::nullopt;
  }
  // A new row has no categories or custom values to reconcile with.
  for (const auto& category : beacon.categories.value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
    if (category) KSManagedBeaconCategory::managedObjectFromCategory(ctx, *category, beaconID, *row);
  }
  for (const auto& value : beacon.customValues.value_or(std::vector<std::shared_ptr<KSCustomValue>>{})) {
    if (value) KSManagedCustomValue::managedObjectFromCustomValue(ctx, *value, "beacon", *row);
  }
  return row;
}

void KSManagedBeacon::setValuesWithBeacon(StoreContext& ctx, ObjectID row, const KSBeacon& beacon) {
  setValuesWithBeacon(ctx, row, snapshotOf(beacon));
}

void KSManagedBeacon::setValuesWithBeacon(StoreContext& ctx, ObjectID row, const Snapshot& beacon) {
  const auto& beaconID = beacon.beaconID;
  update(ctx, row, beacon.fields);

  // Category rows carry the beacon's ID: the record's, or the one the row keeps.
  const auto rowBeaconID = beaconID ? beaconID : text(ctx.values(row).value_or(Dict{}), "beaconID");
  std::vector<std::pair<ObjectID, std::optional<std::string>>> current;
  for (ObjectID id : ctx.relatedMany(row, "categories")) {
    current.emplace_back(id, text(ctx.values(id).value_or(Dict{}), "categoryID"));
  }
  std::set<std::string> kept;
  for (const auto& category : beacon.categories.value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
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
        // Matched on its categoryID just now: no need to read the row again.
        KSManagedBeaconCategory::replaceMatchedCategory(ctx, id, *category);
        matched = true;
      }
    }
    if (!matched) KSManagedBeaconCategory::managedObjectFromCategory(ctx, *category, rowBeaconID, row);
  }
  for (const auto& [id, storedID] : current) {
    if (!storedID || !kept.count(*storedID)) ctx.setRelated(id, "beacon", std::nullopt);
  }

  KSManagedCustomValue::reconcile(ctx, row, "customValues", "beacon", beacon.customValues);
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

}  // namespace velmora::kestrine
