#include "beacons/model/KSBeaconVisit.h"

#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSStoredValues.h"

namespace velmora::kestrine {

using platform::Date;
using platform::Value;
namespace sv = stored_values;

const KSJSONModelClass& KSBeaconVisit::jsonClass() {
  using V = KSBeaconVisit;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<V>("KSBeaconVisit", [](auto& c) {
    c.keyMapper({{"id", "beaconVisitID"}, {"proximityUUID", "proximityUUIDString"}});
    c.allOptional();
    c.whitelist({"beaconVisitID", "SDKVersion", "firmwareUID", "proximityUUIDString", "bluetoothAddress", "major",
                 "minor", "version", "serialNumber", "siteID", "deviceUUID", "sessionUUID", "beganAt",
                 "rssiWhenVisitBegan", "endedAt", "rssiWhenVisitEnded", "batteryLevel", "latitude", "longitude",
                 "deviceWasClosestAt", "cDist", "rssiWhenDeviceWasClosest", "enteredCProxAt", "rssiWhenCProxEntered",
                 "exitedCProxAt", "rssiWhenCProxExited", "cProx", "cProxID", "lastRangedAt", "lastPostedAt",
                 "beganInBackground", "endedInBackground"});
    c.text("beaconVisitID", &V::beaconVisitID, &V::setBeaconVisitID);
    c.text("SDKVersion", &V::SDKVersion, &V::setSDKVersion);
    c.text("firmwareUID", &V::firmwareUID, &V::setFirmwareUID);
    c.text("proximityUUIDString", &V::proximityUUIDString, &V::setProximityUUIDString);
    c.text("bluetoothAddress", &V::bluetoothAddress, &V::setBluetoothAddress);
    c.number("major", &V::major, &V::setMajor);
    c.number("minor", &V::minor, &V::setMinor);
    c.number("version", &V::version, &V::setVersion);
    c.text("serialNumber", &V::serialNumber, &V::setSerialNumber);
    c.text("siteID", &V::siteID, &V::setSiteID);
    c.text("deviceUUID", &V::deviceUUID, &V::setDeviceUUID);
    c.text("sessionUUID", &V::sessionUUID, &V::setSessionUUID);
    c.date("beganAt", &V::beganAt, &V::setBeganAt);
    c.number("rssiWhenVisitBegan", &V::rssiWhenVisitBegan, &V::setRssiWhenVisitBegan);
    c.date("endedAt", &V::endedAt, &V::setEndedAt);
    c.number("rssiWhenVisitEnded", &V::rssiWhenVisitEnded, &V::setRssiWhenVisitEnded);
    c.number("batteryLevel", &V::batteryLevel, &V::setBatteryLevel);
    c.number("latitude", &V::latitude, &V::setLatitude);
    c.number("longitude", &V::longitude, &V::setLongitude);
    c.date("deviceWasClosestAt", &V::deviceWasClosestAt, &V::setDeviceWasClosestAt);
    c.number("cDist", &V::cDist, &V::setCDist);
    c.number("rssiWhenDeviceWasClosest", &V::rssiWhenDeviceWasClosest, &V::setRssiWhenDeviceWasClosest);
    c.date("enteredCProxAt", &V::enteredCProxAt, &V::setEnteredCProxAt);
    c.number("rssiWhenCProxEntered", &V::rssiWhenCProxEntered, &V::setRssiWhenCProxEntered);
    c.date("exitedCProxAt", &V::exitedCProxAt, &V::setExitedCProxAt);
    c.number("rssiWhenCProxExited", &V::rssiWhenCProxExited, &V::setRssiWhenCProxExited);
    c.scalar("cProx", &V::cProx, &V::setCProx);
    c.number("cProxID", &V::cProxID, &V::setCProxID);
    c.date("lastRangedAt", &V::lastRangedAt, &V::setLastRangedAt);
    c.date("lastPostedAt", &V::lastPostedAt, &V::setLastPostedAt);
    c.scalar("beganInBackground", &V::beganInBackground, &V::setBeganInBackground);
    c.scalar("endedInBackground", &V::endedInBackground, &V::setEndedInBackground);
    c.scalar("beaconModeID", &V::beaconModeID, &V::setBeaconModeID);
  });
  return cls;
}

KSBeaconVisit::KSBeaconVisit() { f_.cProxID = Value(std::int32_t{0}); }

std::shared_ptr<KSBeaconVisit> KSBeaconVisit::initWithManagedBeaconVisit(std::shared_ptr<KSStoredRow> row) {
  auto visit = std::make_shared<KSBeaconVisit>();
  if (!row) return visit;
  Fields read;
  row->performBlockAndWait([&] {
    const KSStoredRow& r = *row;
    read.beaconVisitID = sv::text(r.valueForKey("beaconVisitID"));
    read.SDKVersion = sv::text(r.valueForKey("SDKVersion"));
    read.firmwareUID = sv::text(r.valueForKey("firmwareUID"));
    read.proximityUUIDString = sv::text(r.valueForKey("proximityUUIDString"));
    read.bluetoothAddress = sv::text(r.valueForKey("bluetoothAddress"));
    read.major = sv::number(r.valueForKey("major"));
    read.minor = sv::number(r.valueForKey("minor"));
    read.serialNumber = sv::text(r.valueForKey("serialNumber"));
    read.siteID = sv::text(r.valueForKey("siteID"));
    read.deviceUUID = sv::text(r.valueForKey("deviceUUID"));
    read.sessionUUID = sv::text(r.valueForKey("sessionUUID"));
    read.beganAt = sv::date(r.valueForKey("beganAt"));
    read.rssiWhenVisitBegan = sv::number(r.valueForKey("rssiWhenVisitBegan"));
    read.endedAt = sv::date(r.valueForKey("endedAt"));
    read.rssiWhenVisitEnded = sv::number(r.valueForKey("rssiWhenVisitEnded"));
    read.batteryLevel = sv::number(r.valueForKey("batteryLevel"));
    read.latitude = sv::number(r.valueForKey("latitude"));
    read.longitude = sv::number(r.valueForKey("longitude"));
    read.deviceWasClosestAt = sv::date(r.valueForKey("deviceWasClosestAt"));
    read.cDist = sv::number(r.valueForKey("cDist"));
    read.rssiWhenDeviceWasClosest = sv::number(r.valueForKey("rssiWhenDeviceWasClosest"));
    read.enteredCProxAt = sv::date(r.valueForKey("enteredCProxAt"));
    read.rssiWhenCProxEntered = sv::number(r.valueForKey("rssiWhenCProxEntered"));
    read.exitedCProxAt = sv::date(r.valueForKey("exitedCProxAt"));
    read.rssiWhenCProxExited = sv::number(r.valueForKey("rssiWhenCProxExited"));
    read.cProxID = sv::number(r.valueForKey("cProxID"));
    read.lastRangedAt = sv::date(r.valueForKey("lastRangedAt"));
    read.lastPostedAt = sv::date(r.valueForKey("lastPostedAt"));
    read.beganInBackground = sv::boolean(r.valueForKey("beganInBackground"));
    read.endedInBackground = sv::boolean(r.valueForKey("endedInBackground"));
    read.version = sv::number(r.valueForKey("version"));
    // The mode is stored with the visit, so a reloaded visit keeps it.
    read.beaconModeID = sv::integer(r.valueForKey("beaconModeID"));
  });
  read.row = std::move(row);
  std::lock_guard lock(visit->mutex_);
  visit->f_ = std::move(read);
  return visit;
}

template <class M>
M KSBeaconVisit::get(M Fields::*member) const {
  std::lock_guard lock(mutex_);
  return f_.*member;
}

template <class M>
void KSBeaconVisit::put(M Fields::*member, M value) {
  std::lock_guard lock(mutex_);
  f_.*member = std::move(value);
}

template <class M>
void KSBeaconVisit::putThrough(M Fields::*member, M value, std::string_view key) {
  Value stored = sv::toValue(value);
  put(member, std::move(value));
  safeSetValue(std::move(stored), key);
}

void KSBeaconVisit::safeSetValue(Value value, std::string_view key) const {
  std::shared_ptr<KSStoredRow> row = get(&Fields::row);
  if (!row || !row->hasContext()) return;
  row->performBlockAndWait([&] { row->setValueForKey(std::move(value), key); });
}

#define KS_VISIT_ACCESSORS(Type, name, Setter)                                     \
  Type KSBeaconVisit::name() const { return get(&Fields::name); }                  \
  void KSBeaconVisit::Setter(Type v) { putThrough(&Fields::name, std::move(v), #name); }

KS_VISIT_ACCESSORS(std::optional<std::string>, beaconVisitID, setBeaconVisitID)
KS_VISIT_ACCESSORS(std::optional<std::string>, SDKVersion, setSDKVersion)
KS_VISIT_ACCESSORS(std::optional<std::string>, firmwareUID, setFirmwareUID)
KS_VISIT_ACCESSORS(std::optional<std::string>, proximityUUIDString, setProximityUUIDString)
KS_VISIT_ACCESSORS(std::optional<std::string>, bluetoothAddress, setBluetoothAddress)
KS_VISIT_ACCESSORS(Value, major, setMajor)
KS_VISIT_ACCESSORS(Value, minor, setMinor)
KS_VISIT_ACCESSORS(Value, version, setVersion)
KS_VISIT_ACCESSORS(std::optional<std::string>, serialNumber, setSerialNumber)
KS_VISIT_ACCESSORS(std::optional<std::string>, siteID, setSiteID)
KS_VISIT_ACCESSORS(std::optional<std::string>, deviceUUID, setDeviceUUID)
KS_VISIT_ACCESSORS(std::optional<std::string>, sessionUUID, setSessionUUID)
KS_VISIT_ACCESSORS(std::optional<Date>, beganAt, setBeganAt)
KS_VISIT_ACCESSORS(Value, rssiWhenVisitBegan, setRssiWhenVisitBegan)
KS_VISIT_ACCESSORS(std::optional<Date>, endedAt, setEndedAt)
KS_VISIT_ACCESSORS(Value, rssiWhenVisitEnded, setRssiWhenVisitEnded)
KS_VISIT_ACCESSORS(Value, batteryLevel, setBatteryLevel)
KS_VISIT_ACCESSORS(std::optional<Date>, deviceWasClosestAt, setDeviceWasClosestAt)
KS_VISIT_ACCESSORS(Value, cDist, setCDist)
KS_VISIT_ACCESSORS(Value, rssiWhenDeviceWasClosest, setRssiWhenDeviceWasClosest)
KS_VISIT_ACCESSORS(std::optional<Date>, enteredCProxAt, setEnteredCProxAt)
KS_VISIT_ACCESSORS(Value, rssiWhenCProxEntered, setRssiWhenCProxEntered)
KS_VISIT_ACCESSORS(std::optional<Date>, exitedCProxAt, setExitedCProxAt)
KS_VISIT_ACCESSORS(Value, rssiWhenCProxExited, setRssiWhenCProxExited)
KS_VISIT_ACCESSORS(std::optional<Date>, lastRangedAt, setLastRangedAt)
KS_VISIT_ACCESSORS(std::optional<Date>, lastPostedAt, setLastPostedAt)
KS_VISIT_ACCESSORS(bool, beganInBackground, setBeganInBackground)
KS_VISIT_ACCESSORS(bool, endedInBackground, setEndedInBackground)
KS_VISIT_ACCESSORS(std::int64_t, beaconModeID, setBeaconModeID)

#undef KS_VISIT_ACCESSORS

Value KSBeaconVisit::latitude() const { return get(&Fields::latitude); }
void KSBeaconVisit::setLatitude(Value v) { put(&Fields::latitude, std::move(v)); }
Value KSBeaconVisit::longitude() const { return get(&Fields::longitude); }
void KSBeaconVisit::setLongitude(Value v) { put(&Fields::longitude, std::move(v)); }

void KSBeaconVisit::setLocation(const std::optional<platform::location::Location>& location) {
  Value latitude = location ? Value(location->latitude) : Value();
  Value longitude = location ? Value(location->longitude) : Value();
  {
    std::lock_guard lock(mutex_);
    f_.latitude = latitude;
    f_.longitude = longitude;
  }
  safeSetValue(std::move(latitude), "latitude");
  safeSetValue(std::move(longitude), "longitude");
}

std::uint64_t KSBeaconVisit::cProx() const {
  const Value id = get(&Fields::cProxID);
  // Read as a 32-bit integer, as the stored number is.
  std::int64_t wide = 0;
  if (auto i = id.toInt64()) {
    wide = *i;
  } else if (auto d = id.toDouble(); d && *d == *d && *d > -9.3e18 && *d < 9.3e18) {
    wide = static_cast<std::int64_t>(*d);
  }
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(wide)));
}

void KSBeaconVisit::setCProx(std::uint64_t v) {
  putThrough(&Fields::cProxID, Value(static_cast<std::int32_t>(v)), "cProxID");
}

Value KSBeaconVisit::cProxID() const { return get(&Fields::cProxID); }
void KSBeaconVisit::setCProxID(Value v) { put(&Fields::cProxID, std::move(v)); }

bool KSBeaconVisit::isCurrentlyVisiting() const { return get(&Fields::currentlyVisiting); }
void KSBeaconVisit::setCurrentlyVisiting(bool v) { put(&Fields::currentlyVisiting, v); }
std::shared_ptr<KSStoredRow> KSBeaconVisit::managedBeaconVisit() const { return get(&Fields::row); }
void KSBeaconVisit::setManagedBeaconVisit(std::shared_ptr<KSStoredRow> row) { put(&Fields::row, std::move(row)); }

std::shared_ptr<KSBeaconVisit> KSBeaconVisit::copy() const {
  Fields fields;
  {
    std::lock_guard lock(mutex_);
    fields = f_;
  }
  fields.row = nullptr;
  fields.currentlyVisiting = false;
  auto visit = std::make_shared<KSBeaconVisit>();
  std::lock_guard lock(visit->mutex_);
  visit->f_ = std::move(fields);
  return visit;
}

void KSBeaconVisit::storedVisitsWithPredicate(
    const std::optional<KSStorePredicate>& predicate, const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
    std::function<void(const std::vector<std::shared_ptr<KSBeaconVisit>>&)> success, KSLocalStoragePort::FailureHandler failure) {
  stored_records::fetch<KSBeaconVisit>(KSBeaconVisitEntityName, predicate, sortDescriptors, &KSStoredRow::toBeaconVisit,
                                       std::move(success), std::move(failure));
}

void KSBeaconVisit::numberOfVisitsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                                KSLocalStoragePort::CountHandler success,
                                                KSLocalStoragePort::FailureHandler failure) {
  stored_records::count(KSBeaconVisitEntityName, predicate, std::move(success), std::move(failure));
}

namespace beacon_visit_array {

std::vector<std::shared_ptr<KSBeaconVisit>> filteredBeaconVisitArrayUsingSiteID(
    const std::vector<std::shared_ptr<KSBeaconVisit>>& visits, std::string_view siteID) {
  std::vector<std::shared_ptr<KSBeaconVisit>> out;
  for (const auto& visit : visits) {
    if (!visit) continue;
    const auto id = visit->siteID();
    if (id && *id == siteID) out.push_back(visit);
  }
  return out;
}

std::vector<std::shared_ptr<KSBeaconVisit>> filteredBeaconVisitArrayUsingLastRangedBeforeDate(
    const std::vector<std::shared_ptr<KSBeaconVisit>>& visits, Date date) {
  std::vector<std::shared_ptr<KSBeaconVisit>> out;
  for (const auto& visit : visits) {
    if (!visit) continue;
    const auto ranged = visit->lastRangedAt();
    if (!ranged || mt::isBefore(*ranged, date)) out.push_back(visit);
  }
  return out;
}

}  // namespace beacon_visit_array

}  // namespace velmora::kestrine
