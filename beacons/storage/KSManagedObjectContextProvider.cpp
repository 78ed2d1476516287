#include "beacons/storage/KSManagedObjectContextProvider.h"

#include <algorithm>

#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::store::Attribute;
using platform::store::AttributeType;
using platform::store::DeleteRule;
using platform::store::Entity;
using platform::store::Model;
using platform::store::Relationship;

namespace {

constexpr std::string_view kLog = "local-storage";

constexpr AttributeType S = AttributeType::String;
constexpr AttributeType I16 = AttributeType::Int16;
// iBeacon major and minor run to 65535: the region and visit tables keep them unsigned.
constexpr AttributeType U16 = AttributeType::UInt16;
constexpr AttributeType I32 = AttributeType::Int32;
constexpr AttributeType F = AttributeType::Float;
constexpr AttributeType D = AttributeType::Date;
constexpr AttributeType DEC = AttributeType::Decimal;
constexpr AttributeType DBL = AttributeType::Double;
constexpr AttributeType B = AttributeType::Boolean;

Attribute required(std::string name, AttributeType type, bool indexed = false) {
  return Attribute{std::move(name), type, false, indexed};
}

Entity entity(std::string_view name, std::vector<Attribute> attributes) {
  return Entity{std::string(name), std::move(attributes), {}};
}

Relationship toMany(std::string name, std::string_view destination, DeleteRule rule, std::string inverse) {
  return Relationship{std::move(name), std::string(destination), true, rule, std::move(inverse)};
}

Relationship toOne(std::string name, std::string_view destination, std::string inverse) {
  return Relationship{std::move(name), std::string(destination), false, DeleteRule::Nullify, std::move(inverse)};
}

Entity* find(Model& model, std::string_view name) {
  for (auto& e : model.entities()) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

}  // namespace

KSManagedObjectContextProvider::KSManagedObjectContextProvider(
    std::filesystem::path documentsDirectory, std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : documents_(std::move(documentsDirectory)), scheduler_(std::move(scheduler)) {}

Attribute KSManagedObjectContextProvider::defaultAttributeWithName(std::string name, AttributeType type) {
  return Attribute{std::move(name), type, true, false};
}

Attribute KSManagedObjectContextProvider::defaultIndexedAttributeWithName(std::string name, AttributeType type) {
  return Attribute{std::move(name), type, true, true};
}

Entity KSManagedObjectContextProvider::defineBeaconEntity() {
  const auto a = defaultAttributeWithName;
  const auto ix = defaultIndexedAttributeWithName;
  return entity(KSBeaconEntityName,
                {required("beaconID", S), ix("bluetoothAddress", S), ix("iBeaconKey", S), a("major", I32),
                 a("minor", I32), a("proximityUUIDString", S), a("teamID", S), a("siteID", S), a("siteName", S),
                 a("name", S), ix("serialNumber", S), a("syncedAt", D), a("syncStatus", I16), a("mapID", S),
                 a("mapPointX", F), a("mapPointY", F), a("featureBitmask", I32), a("wireframeURLString", S),
                 a("eddystoneUIDString", S), a("measuredPowerAt1Meter", I16), a("networkAccessOwnershipID", I16),
                 a("networkAccessPermittedRoleIDs", S), a("networkAccessBeginsAt", D), a("networkAccessEndsAt", D)});
}

Entity KSManagedObjectContextProvider::defineBeaconCategoryEntity() {
  return entity(KSBeaconCategoryEntityName,
                {required("beaconID", S, true), required("categoryID", S), defaultAttributeWithName("name", S)});
}

Entity KSManagedObjectContextProvider::defineCustomValueEntity() {
  return entity(KSCustomValueEntityName, {required("key", S), required("value", S), required("customValueID", S)});
}

Entity KSManagedObjectContextProvider::defineBeaconVisitEntity() {
  const auto a = defaultAttributeWithName;
  return entity(KSBeaconVisitEntityName,
                {a("beaconVisitID", S),       a("SDKVersion", S),
                 a("firmwareUID", S),         a("proximityUUIDString", S),
                 a("bluetoothAddress", S),    a("major", U16),
                 a("minor", U16),             a("serialNumber", S),
                 a("siteID", S),              a("deviceUUID", S),
                 a("sessionUUID", S),         a("beganAt", D),
                 a("rssiWhenVisitBegan", I16), a("endedAt", D),
                 a("rssiWhenVisitEnded", I16), a("batteryLevel", F),
                 a("latitude", DEC),          a("longitude", DEC),
                 a("deviceWasClosestAt", D),  a("cDist", F),
                 a("rssiWhenDeviceWasClosest", I16), a("enteredCProxAt", D),
                 a("rssiWhenCProxEntered", I16), a("exitedCProxAt", D),
                 a("rssiWhenCProxExited", I16), a("cProxID", I16),
                 a("lastRangedAt", D),        a("lastPostedAt", D),
                 a("beganInBackground", B),   a("endedInBackground", B),
                 a("version", I16),           a("beaconModeID", I16)});
}

Entity KSManagedObjectContextProvider::defineBeaconRegionEntity() {
  const auto a = defaultAttributeWithName;
  return entity(KSBeaconRegionEntityName, {a("beaconRegionID", S), a("name", S), a("identifier", S),
                                           a("proximityUUIDString", S), a("major", U16), a("minor", U16),
                                           a("teamID", S)});
}

Entity KSManagedObjectContextProvider::defineRegionVisitEntity() {
  const auto a = defaultAttributeWithName;
  return entity(KSBeaconRegionVisitEntityName,
                {a("beganAt", D), a("endedAt", D), a("beaconRegionVisitID", S), a("appInForeground", I16)});
}

Entity KSManagedObjectContextProvider::defineEventEntity() {
  const auto a = defaultAttributeWithName;
  const auto ix = defaultIndexedAttributeWithName;
  return entity(KSEventEntityName,
                {ix("eventID", S), ix("eventIdentifier", S), a("eventName", S), a("sessionUUID", S),
                 a("customDeviceIdentifier", S), a("siteID", S), a("siteName", S), a("beaconID", S),
                 a("beaconName", S), a("categoryID", S), a("categoryName", S), a("beganAt", D), a("endedAt", D),
                 a("rssi", I16), a("accuracy", DBL), a("mapID", S), a("mapX", DEC), a("mapY", DEC), a("value1", S),
                 a("value2", S), a("value3", S), a("beganInBackground", B), a("endedInBackground", B),
                 a("lastPostedAt", D)});
}

Entity KSManagedObjectContextProvider::defineEventSummaryEntity() {
  const auto a = defaultAttributeWithName;
  return entity(KSEventSummaryEntityName, {defaultIndexedAttributeWithName("eventIdentifier", S), a("eventName", S),
                                           a("triggeredCount", I32), a("firstTriggeredAt", D),
                                           a("lastTriggeredAt", D)});
}

Entity KSManagedObjectContextProvider::defineSiteEntity() {
  const auto a = defaultAttributeWithName;
  return entity(KSSiteEntityName, {required("siteID", S), a("name", S), a("siteAccessTypeID", I32),
                                   a("siteAccessTypeName", S), a("siteAccessTypeDisplayName", S), a("teamID", S),
                                   a("syncedAt", D), a("syncStatus", I16)});
}

void KSManagedObjectContextProvider::createRelationships(Model& model) {
  // Each entity's ends in the order its rows list them; a to-one end is a foreign-key column
  // whose delete action comes from its to-many inverse.
  const auto add = [&](std::string_view name, std::vector<Relationship> ends) {
    if (Entity* e = find(model, name)) {
      for (auto& r : ends) e->relationships.push_back(std::move(r));
    }
  };
  add(KSBeaconRegionEntityName,
      {toMany("beaconRegionVisits", KSBeaconRegionVisitEntityName, DeleteRule::Cascade, "beaconRegion"),
       toMany("beacons", KSBeaconEntityName, DeleteRule::Nullify, "beaconRegion")});
  add(KSBeaconRegionVisitEntityName, {toOne("beaconRegion", KSBeaconRegionEntityName, "beaconRegionVisits")});
  add(KSBeaconVisitEntityName, {toOne("beacon", KSBeaconEntityName, "beaconVisits")});
  add(KSBeaconEntityName, {toMany("beaconVisits", KSBeaconVisitEntityName, DeleteRule::Cascade, "beacon"),
                           toMany("categories", KSBeaconCategoryEntityName, DeleteRule::Cascade, "beacon"),
                           toMany("customValues", KSCustomValueEntityName, DeleteRule::Cascade, "beacon"),
                           toOne("beaconRegion", KSBeaconRegionEntityName, "beacons")});
  add(KSBeaconCategoryEntityName, {toOne("beacon", KSBeaconEntityName, "categories"),
                                   toMany("customValues", KSCustomValueEntityName, DeleteRule::Cascade, "category")});
  add(KSSiteEntityName, {toMany("customValues", KSCustomValueEntityName, DeleteRule::Cascade, "site")});
  add(KSCustomValueEntityName, {toOne("beacon", KSBeaconEntityName, "customValues"),
                                toOne("category", KSBeaconCategoryEntityName, "customValues"),
                                toOne("site", KSSiteEntityName, "customValues")});
}

Model KSManagedObjectContextProvider::createModel() {
  Model model({defineBeaconEntity(), defineBeaconCategoryEntity(), defineCustomValueEntity(),
               defineBeaconVisitEntity(), defineBeaconRegionEntity(), defineRegionVisitEntity(), defineEventEntity(),
               defineEventSummaryEntity(), defineSiteEntity()});
  createRelationships(model);
  return model;
}

const Model& KSManagedObjectContextProvider::managedObjectModel() {
  static const Model& model = *new Model(createModel());
  return model;
}

std::shared_ptr<platform::store::ObjectStore> KSManagedObjectContextProvider::store() {
  std::lock_guard lock(mutex_);
  if (store_) return store_;
  auto scheduler = scheduler_ ? scheduler_ : platform::dispatch::Scheduler::shared();
  const auto now = scheduler->clock()->uptime();
  if (failures_ > 0 && now < nextAttempt_) return nullptr;
  platform::Error error;
  store_ = platform::store::ObjectStore::open(managedObjectModel(), storePath(), scheduler, &error,
                                              "com.kestrine.localStorage");
  if (store_) {
    if (failures_ > 0) platform::Log::info(kLog, "the store at {} opened after all", storePath().string());
    failures_ = 0;
    return store_;
  }
  // A place that cannot hold the store seldom mends itself: the next attempts come after a
  // wait that doubles with every failure, and until then storage is off without a word.
  const auto wait = std::min(kFirstRetryWait * (std::int64_t{1} << std::min(failures_, 10)), kLongestRetryWait);
  ++failures_;
  nextAttempt_ = now + wait;
  platform::Log::error(kLog, "local storage is off: {}; the next attempt comes in {} s", error.localizedDescription,
                       std::chrono::duration_cast<std::chrono::seconds>(wait).count());
  return nullptr;
}

}  // namespace velmora::kestrine
