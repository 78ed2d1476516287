#include "beacons/model/KSBeacon.h"

#include <cmath>
#include <fmt/format.h>

#include "beacons/foundation/StringAdditions.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/model/KSModelClock.h"

namespace velmora::kestrine {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

std::optional<std::string> upper(std::optional<std::string> v) {
  if (v) {
    for (auto& ch : *v) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
  }
  return v;
}

// A major or minor as the key takes it: a number of 0 to 65535 (a fraction dropped). Any other
// value makes no key rather than wrap onto another beacon's.
std::optional<std::uint16_t> asUInt16(const platform::Value& v) {
  if (auto u = v.toUInt64()) return *u <= 65535 ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*u)) : std::nullopt;
  if (v.toInt64()) return std::nullopt;  // negative
  if (auto d = v.toDouble(); d && std::isfinite(*d) && std::trunc(*d) >= 0 && std::trunc(*d) <= 65535) {
    return static_cast<std::uint16_t>(*d);
  }
  return std::nullopt;
}

template <class T>
KSBeacon::Records<T> copyElements(const KSBeacon::Records<T>& records) {
  std::vector<std::shared_ptr<T>> out;
  if (records) {
    out.reserve(records->size());
    for (const auto& r : *records) out.push_back(r ? r->copy() : nullptr);
  }
  return out;
}

constexpr std::array<std::string_view, 2> kIBeaconKinds{KSAdDataTypeAppleIBeaconKey, KSAdDataTypeKestrineIBeaconKey};
constexpr std::array<std::string_view, 2> kEddystoneKinds{KSAdDataTypeEddystoneUIDKey, KSAdDataTypeEddystoneURLKey};
constexpr std::array<std::string_view, 7> kKestrineKinds{
    KSAdDataTypeKestrineIBeaconKey,    KSAdDataTypeKestrineBlockDataKey,  KSAdDataTypeKestrineNewbornKey,
    KSAdDataTypeKestrineSecureKey,     KSAdDataTypeKestrineIdentifierKey, KSAdDataTypeKestrineManagementKey,
    KSAdDataTypeKestrineMeasurementKey};
constexpr std::array<std::string_view, 2> kMeasurementKinds{KSAdDataTypeKestrineMeasurementKey, KSAdDataTypeEddystoneTelKey};

bool isMeasurementType(std::string_view typeKey) {
  return string_additions::isEqualIgnoringCase(typeKey, KSAdDataTypeKestrineMeasurementKey) ||
         string_additions::isEqualIgnoringCase(typeKey, KSAdDataTypeEddystoneTelKey);
}

}  // namespace

const KSJSONModelClass& KSBeacon::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSBeacon>("KSBeacon", [](auto& c) {
    c.keyMapper({{"id", "beaconID"}, {"proximityUUID", "proximityUUIDString"}, {"wireframeUrl", "wireframeURLString"}});
    c.allOptional();
    c.whitelist({"name", "proximityUUIDString", "major", "minor", "beaconLoudness", "categories", "customValues",
                 "mapPoint", "networkAccess", "targetSpeed", "beaconMode", "beaconRegion", "version", "serialNumber",
                 "bluetoothAddress", "siteID", "teamID", "beaconID", "privacyDuration", "measuredPowerAt1Meter",
                 "eddystone", "featureBitmask", "wireframeURLString"});
    c.text("beaconID", &KSBeacon::beaconID, &KSBeacon::setBeaconID);
    c.text("name", &KSBeacon::name, &KSBeacon::setName);
    c.text("serialNumber", &KSBeacon::serialNumber, &KSBeacon::setSerialNumber);
    c.text("modelNumber", &KSBeacon::modelNumber, &KSBeacon::setModelNumber);
    c.text("proximityUUIDString", &KSBeacon::proximityUUIDString, &KSBeacon::setProximityUUIDString);
    // Read through the getters that prefer the latest maker advertisement, as every by-name
    // read is: the export carries what the beacon says it is now. Both are 16-bit: any
    // other number is an import error, never another beacon's identity.
    c.number("major", &KSBeacon::major, &KSBeacon::setMajor).range(0, 65535);
    c.number("minor", &KSBeacon::minor, &KSBeacon::setMinor).range(0, 65535);
    c.readOnly("iBeaconKey", &KSBeacon::iBeaconKey);
    c.text("bluetoothAddress", &KSBeacon::bluetoothAddress, &KSBeacon::setBluetoothAddress);
    c.number("version", &KSBeacon::version, &KSBeacon::setVersion);
    c.number("pendingVersion", &KSBeacon::pendingVersion, &KSBeacon::setPendingVersion);
    c.text("firmwareVersion", &KSBeacon::firmwareVersion, &KSBeacon::setFirmwareVersion);
    c.text("firmwareUID", &KSBeacon::firmwareUID, &KSBeacon::setFirmwareUID);
    c.text("latestFirmwareVersion", &KSBeacon::latestFirmwareVersion, &KSBeacon::setLatestFirmwareVersion);
    c.text("latestFirmwareUID", &KSBeacon::latestFirmwareUID, &KSBeacon::setLatestFirmwareUID);
    c.scalar("upgradableOTA", &KSBeacon::upgradableOTA, &KSBeacon::setUpgradableOTA);
    c.number("lastKnownBatteryLevel", &KSBeacon::lastKnownBatteryLevel, &KSBeacon::setLastKnownBatteryLevel);
    c.record("batteryStatus", &KSBeacon::batteryStatus, &KSBeacon::setBatteryStatus);
    c.number("privacyDuration", &KSBeacon::privacyDuration, &KSBeacon::setPrivacyDuration);
    c.number("measuredPowerAt1Meter", &KSBeacon::measuredPowerAt1Meter, &KSBeacon::setMeasuredPowerAt1Meter);
    c.record("beaconMode", &KSBeacon::beaconMode, &KSBeacon::setBeaconMode);
    c.record("beaconLoudness", &KSBeacon::beaconLoudness, &KSBeacon::setBeaconLoudness);
    c.record("targetSpeed", &KSBeacon::targetSpeed, &KSBeacon::setTargetSpeed);
    c.scalar("featureBitmask", &KSBeacon::featureBitmask, &KSBeacon::setFeatureBitmask);
    c.record("eddystone", &KSBeacon::eddystone, &KSBeacon::setEddystone);
    c.record("mapPoint", &KSBeacon::mapPoint, &KSBeacon::setMapPoint);
    c.record("site", &KSBeacon::site, &KSBeacon::setSite);
    c.text("siteID", &KSBeacon::siteID, &KSBeacon::setSiteID);
    c.text("siteName", &KSBeacon::siteName, &KSBeacon::setSiteName);
    c.text("teamID", &KSBeacon::teamID, &KSBeacon::setTeamID);
    c.record("networkAccess", &KSBeacon::networkAccess, &KSBeacon::setNetworkAccess);
    c.record("beaconRegion", &KSBeacon::beaconRegion, &KSBeacon::setBeaconRegion);
    c.records("categories", &KSBeacon::categories, &KSBeacon::setCategories);
    c.records("customValues", &KSBeacon::customValues, &KSBeacon::setCustomValues);
    c.text("wireframeURLString", &KSBeacon::wireframeURLString, &KSBeacon::setWireframeURLString);
    c.date("createdAt", &KSBeacon::createdAt, &KSBeacon::setCreatedAt);
    c.date("modifiedAt", &KSBeacon::modifiedAt, &KSBeacon::setModifiedAt);
    c.date("cachedAt", &KSBeacon::cachedAt, &KSBeacon::setCachedAt);
    c.date("syncedAt", &KSBeacon::syncedAt, &KSBeacon::setSyncedAt);
    c.scalar("syncStatus", &KSBeacon::syncStatus, &KSBeacon::setSyncStatus);
  });
  return cls;
}

// --- plain guarded accessors ---------------------------------------------------------------

#define KS_GUARDED(Type, getter, setter, field)          \
  Type KSBeacon::getter() const {                        \
    Lock l(mutex_);                                      \
    return field;                                        \
  }                                                      \
  void KSBeacon::setter(Type v) {                        \
    Lock l(mutex_);                                      \
    field = std::move(v);                                \
  }
using OptText = std::optional<std::string>;
using OptDate = std::optional<platform::Date>;
KS_GUARDED(OptText, name, setName, name_)
KS_GUARDED(OptText, serialNumber, setSerialNumber, serialNumber_)
KS_GUARDED(OptText, modelNumber, setModelNumber, modelNumber_)
KS_GUARDED(KSBeacon::Number, version, setVersion, version_)
KS_GUARDED(KSBeacon::Number, pendingVersion, setPendingVersion, pendingVersion_)
KS_GUARDED(OptText, firmwareVersion, setFirmwareVersion, firmwareVersion_)
KS_GUARDED(OptText, latestFirmwareVersion, setLatestFirmwareVersion, latestFirmwareVersion_)
KS_GUARDED(OptText, latestFirmwareUID, setLatestFirmwareUID, latestFirmwareUID_)
KS_GUARDED(bool, upgradableOTA, setUpgradableOTA, upgradableOTA_)
KS_GUARDED(std::shared_ptr<KSBatteryStatus>, batteryStatus, setBatteryStatus, batteryStatus_)
KS_GUARDED(KSBeacon::Number, privacyDuration, setPrivacyDuration, privacyDuration_)
KS_GUARDED(KSBeacon::Number, measuredPowerAt1Meter, setMeasuredPowerAt1Meter, measuredPowerAt1Meter_)
KS_GUARDED(std::shared_ptr<KSBeaconMode>, beaconMode, setBeaconMode, beaconMode_)
KS_GUARDED(std::shared_ptr<KSBeaconLoudness>, beaconLoudness, setBeaconLoudness, beaconLoudness_)
KS_GUARDED(std::shared_ptr<KSTargetSpeed>, targetSpeed, setTargetSpeed, targetSpeed_)
KS_GUARDED(std::uint32_t, featureBitmask, setFeatureBitmask, featureBitmask_)
KS_GUARDED(std::shared_ptr<KSEddystone>, eddystone, setEddystone, eddystone_)
KS_GUARDED(std::shared_ptr<KSMapPoint>, mapPoint, setMapPoint, mapPoint_)
KS_GUARDED(std::shared_ptr<KSSite>, site, setSite, site_)
KS_GUARDED(OptText, siteID, setSiteID, siteID_)
KS_GUARDED(OptText, siteName, setSiteName, siteName_)
KS_GUARDED(OptText, teamID, setTeamID, teamID_)
KS_GUARDED(std::shared_ptr<KSNetworkAccess>, networkAccess, setNetworkAccess, networkAccess_)
KS_GUARDED(std::shared_ptr<KSBeaconRegion>, beaconRegion, setBeaconRegion, beaconRegion_)
KS_GUARDED(KSBeacon::Records<KSCategory>, categories, setCategories, categories_)
KS_GUARDED(OptText, wireframeURLString, setWireframeURLString, wireframeURLString_)
KS_GUARDED(OptDate, createdAt, setCreatedAt, createdAt_)
KS_GUARDED(OptDate, modifiedAt, setModifiedAt, modifiedAt_)
KS_GUARDED(OptDate, cachedAt, setCachedAt, cachedAt_)
KS_GUARDED(OptDate, syncedAt, setSyncedAt, syncedAt_)
KS_GUARDED(std::int64_t, syncStatus, setSyncStatus, syncStatus_)
KS_GUARDED(KSBeacon::Number, rssi, setRssi, rssi_)
KS_GUARDED(double, accuracy, setAccuracy, accuracy_)
KS_GUARDED(std::uint64_t, proximity, setProximity, proximity_)
KS_GUARDED(OptDate, firstDiscoveredAt, setFirstDiscoveredAt, firstDiscoveredAt_)
KS_GUARDED(OptDate, lastDiscoveredAt, setLastDiscoveredAt, lastDiscoveredAt_)
KS_GUARDED(OptDate, firstRangedAt, setFirstRangedAt, firstRangedAt_)
KS_GUARDED(OptDate, lastRangedAt, setLastRangedAt, lastRangedAt_)
KS_GUARDED(std::optional<platform::Uuid>, peripheralIdentifier, setPeripheralIdentifier, peripheralIdentifier_)
KS_GUARDED(OptText, identifierDataString, setIdentifierDataString, identifierDataString_)
KS_GUARDED(OptText, cacheIdentifier, setCacheIdentifier, cacheIdentifier_)
KS_GUARDED(std::optional<platform::Bytes>, rawMeasurementData, setRawMeasurementData, rawMeasurementData_)
#undef KS_GUARDED

// --- identity setters and advertisement-preferring getters ----------------------------------

std::optional<std::string> KSBeacon::beaconID() const {
  Lock l(mutex_);
  return beaconID_;
}

void KSBeacon::setBeaconID(std::optional<std::string> v) {
  Lock l(mutex_);
  beaconID_ = std::move(v);
  if (beaconID_ && !beaconID_->empty()) {
    syncedAt_ = KSModelClock::now();
    syncStatus_ = KSSyncStatusSynced;
  }
}

std::optional<std::string> KSBeacon::proximityUUIDString() const {
  Lock l(mutex_);
  return proximityUUIDString_;
}

void KSBeacon::setProximityUUIDString(std::optional<std::string> v) {
  Lock l(mutex_);
  proximityUUIDString_ = upper(std::move(v));
  recomputeIBeaconKeyLocked();
}

void KSBeacon::setMajor(Number v) {
  Lock l(mutex_);
  major_ = std::move(v);
  recomputeIBeaconKeyLocked();
}

void KSBeacon::setMinor(Number v) {
  Lock l(mutex_);
  minor_ = std::move(v);
  recomputeIBeaconKeyLocked();
}

void KSBeacon::recomputeIBeaconKeyLocked() {
  iBeaconKey_ = KSBeaconUtilities::iBeaconKeyForProximityUUIDString(
      proximityUUIDString_ ? std::optional<std::string_view>(*proximityUUIDString_) : std::nullopt, asUInt16(major_),
      asUInt16(minor_));
}

std::optional<std::string> KSBeacon::iBeaconKey() const {
  Lock l(mutex_);
  return iBeaconKey_;
}

KSBeacon::Number KSBeacon::preferAdvertised(std::string_view adKey, const Number& stored) const {
  Lock l(mutex_);
  auto advertised = adData_.objectFromLatest(adKey, KSAdDataStore::kestrineAdDataTypes());
  return advertised.isAbsent() || advertised.isNull() ? stored : advertised;
}

KSBeacon::Number KSBeacon::major() const {
  Lock l(mutex_);
  return preferAdvertised(KSAdDataMajorKey, major_);
}

KSBeacon::Number KSBeacon::minor() const {
  Lock l(mutex_);
  return preferAdvertised(KSAdDataMinorKey, minor_);
}

std::optional<std::string> KSBeacon::firmwareUID() const {
  Lock l(mutex_);
  auto advertised = adData_.objectFromLatest(KSAdDataFirmwareUIDKey, KSAdDataStore::kestrineAdDataTypes());
  if (const auto* text = advertised.string()) return *text;
  return firmwareUID_;
}

KSBeacon::Number KSBeacon::lastKnownBatteryLevel() const {
  Lock l(mutex_);
  return preferAdvertised(KSAdDataBatteryLevelKey, lastKnownBatteryLevel_);
}

std::optional<std::string> KSBeacon::storedFirmwareUID() const {
  Lock l(mutex_);
  return firmwareUID_;
}

void KSBeacon::setFirmwareUID(std::optional<std::string> v) {
  Lock l(mutex_);
  firmwareUID_ = std::move(v);
}

void KSBeacon::setLastKnownBatteryLevel(Number v) {
  Lock l(mutex_);
  lastKnownBatteryLevel_ = std::move(v);
}

std::optional<std::string> KSBeacon::bluetoothAddress() const {
  Lock l(mutex_);
  return bluetoothAddress_;
}

void KSBeacon::setBluetoothAddress(std::optional<std::string> v) {
  Lock l(mutex_);
  bluetoothAddress_ = upper(std::move(v));
}

KSBeacon::Records<KSCustomValue> KSBeacon::customValues() const {
  Lock l(mutex_);
  return customValues_;
}

void KSBeacon::setCustomValues(Records<KSCustomValue> v) {
  std::optional<CustomValueMap> byKey;
  if (v && !v->empty()) {
    byKey.emplace();
    for (const auto& cv : *v) {
      if (!cv) continue;
      auto key = cv->key();
      auto value = cv->value();
      if (key && value) (*byKey)[*key] = *value;
    }
  }
  Lock l(mutex_);
  customValues_ = std::move(v);
  customValueForKey_ = std::move(byKey);
}

std::optional<KSBeacon::CustomValueMap> KSBeacon::customValueForKey() const {
  Lock l(mutex_);
  return customValueForKey_;
}

void KSBeacon::setIdentifierDataStringWithData(const platform::Bytes& data) {
  std::string hex;
  hex.reserve(data.size() * 2);
  for (auto byte : data) hex += fmt::format("{:02X}", byte);
  Lock l(mutex_);
  identifierDataString_ = std::move(hex);
}

bool KSBeacon::hasIdentifierData() const {
  Lock l(mutex_);
  return identifierDataString_.has_value();
}

KSAdDataStore::Map KSBeacon::latestAdData() const {
  Lock l(mutex_);
  return adData_.all();
}

void KSBeacon::setLatestAdData(KSAdDataStore::Map v) {
  Lock l(mutex_);
  adData_.replaceAll(std::move(v));
}

std::deque<KSBlockDataRecord> KSBeacon::reassembledBlockData() const {
  Lock l(mutex_);
  return blocks_.reassembledBlockData();
}

void KSBeacon::setReassembledBlockData(std::deque<KSBlockDataRecord> v) {
  Lock l(mutex_);
  blocks_.setReassembledBlockData(std::move(v));
}

std::optional<platform::Value> KSBeacon::partialBlockData() const {
  Lock l(mutex_);
  return blocks_.partialBlockData();
}

std::shared_ptr<KSBeaconDelegate> KSBeacon::delegate() const {
  Lock l(mutex_);
  return delegate_.lock();
}

void KSBeacon::setDelegate(const std::shared_ptr<KSBeaconDelegate>& d) {
  Lock l(mutex_);
  delegate_ = d;
}

// --- tests ----------------------------------------------------------------------------------

bool KSBeacon::hasAnyLocked(std::span<const std::string_view> typeKeys) const { return adData_.hasAny(typeKeys); }

bool KSBeacon::isSyncedOrRestored() const {
  Lock l(mutex_);
  return syncStatus_ == KSSyncStatusSynced || syncStatus_ == KSSyncStatusRestored;
}
bool KSBeacon::wasDiscovered() const {
  Lock l(mutex_);
  return firstDiscoveredAt_.has_value();
}
bool KSBeacon::isNewborn() const {
  Lock l(mutex_);
  return adData_.has(KSAdDataTypeKestrineNewbornKey);
}
bool KSBeacon::isIBeacon() const {
  Lock l(mutex_);
  return hasAnyLocked(kIBeaconKinds);
}
bool KSBeacon::isSecure() const {
  Lock l(mutex_);
  return adData_.has(KSAdDataTypeKestrineSecureKey);
}
bool KSBeacon::hasDiscoveredEddystoneUIDFrame() const {
  Lock l(mutex_);
  return adData_.has(KSAdDataTypeEddystoneUIDKey);
}
bool KSBeacon::hasDiscoveredEddystoneURLFrame() const {
  Lock l(mutex_);
  return adData_.has(KSAdDataTypeEddystoneURLKey);
}
bool KSBeacon::hasDiscoveredEddystoneTelemetryFrame() const {
  Lock l(mutex_);
  return adData_.has(KSAdDataTypeEddystoneTelKey);
}
bool KSBeacon::isEddystone() const {
  Lock l(mutex_);
  return hasAnyLocked(kEddystoneKinds);
}
bool KSBeacon::isKestrine() const {
  Lock l(mutex_);
  return hasAnyLocked(kKestrineKinds);
}
bool KSBeacon::supportsMeasurement() const {
  Lock l(mutex_);
  return hasAnyLocked(kMeasurementKinds);
}

std::optional<std::string> KSBeacon::localName() const {
  auto v = objectFromLatestKestrineAdDataForKey(KSAdDataLocalNameKey);
  if (const auto* text = v.string()) return *text;
  return std::nullopt;
}

double KSBeacon::averageAdsPerMinuteForAdDataType(std::string_view typeKey) const {
  auto adData = adDataForAdDataTypeKey(typeKey);
  if (!adData) return 0.0;
  auto firstSeen = (*adData)[KSAdDataFirstDiscoveredAtKey].toDate();
  auto count = (*adData)[KSAdDataDiscoveredCountKey].toDouble();
  if (!firstSeen || !count) return 0.0;
  double minutes = firstSeen->timeIntervalSince(KSModelClock::now()) / 60.0;
  if (minutes == 0.0) return 0.0;
  return std::fabs(*count / minutes);
}

// --- advertisements -------------------------------------------------------------------------

void KSBeacon::setAdData(platform::Value adData, std::string_view typeKey) {
  if (string_additions::isEqualIgnoringCase(typeKey, KSAdDataTypeKestrineBlockDataKey)) {
    reassembleBlockDataWithAdData(adData);
  } else if (isMeasurementType(typeKey)) {
    updateMeasurementDataWithAdData(adData);
  }
  auto stored = std::make_shared<const platform::Value>(std::move(adData));
  Lock l(mutex_);
  adData_.set(typeKey, std::move(stored));
}

KSAdDataRef KSBeacon::adDataForAdDataTypeKey(std::string_view typeKey) const {
  Lock l(mutex_);
  return adData_.get(typeKey);
}

void KSBeacon::removeAdDataForAdDataTypeKey(std::string_view typeKey) {
  Lock l(mutex_);
  adData_.remove(typeKey);
}

void KSBeacon::removeAllAdData() {
  Lock l(mutex_);
  adData_.removeAll();
}

void KSBeacon::needsToRediscoverPeripheral() {
  std::optional<std::string> cacheIdentifier;
  {
    Lock l(mutex_);
    peripheralIdentifier_.reset();
    firstDiscoveredAt_.reset();
    lastDiscoveredAt_.reset();
    adData_.removeAll();
    cacheIdentifier = cacheIdentifier_;
  }
  if (!cacheIdentifier || cacheIdentifier->empty()) return;
  auto hub = KSBeaconHubPort::shared();
  auto cached = hub ? hub->cachedBeaconWithCacheIdentifier(*cacheIdentifier) : nullptr;
  if (cached && cached.get() != this) {
    Lock l(cached->mutex_);
    cached->peripheralIdentifier_.reset();
    cached->firstDiscoveredAt_.reset();
    cached->lastDiscoveredAt_.reset();
    cached->adData_.removeAll();
  }
}

platform::Value KSBeacon::objectFromLatestAdDataForKey(std::string_view key, std::span<const std::string_view> typeKeys) const {
  Lock l(mutex_);
  return adData_.objectFromLatest(key, typeKeys);
}
platform::Value KSBeacon::objectFromLatestKestrineAdDataForKey(std::string_view key) const {
  return objectFromLatestAdDataForKey(key, KSAdDataStore::kestrineAdDataTypes());
}
platform::Value KSBeacon::objectFromLatestIBeaconAdDataForKey(std::string_view key) const {
  return objectFromLatestAdDataForKey(key, KSAdDataStore::iBeaconAdDataTypes());
}
platform::Value KSBeacon::objectFromLatestAdDataWithKey(std::string_view key) const {
  return objectFromLatestAdDataForKey(key, KSAdDataStore::allAdDataTypes());
}

void KSBeacon::reassembleBlockDataWithAdData(const platform::Value& frame) {
  auto now = KSModelClock::now();
  Lock l(mutex_);
  blocks_.reassemble(frame, now);
}

std::vector<KSBlockDataRecord> KSBeacon::reassembledBlockDataWithDataType(std::uint64_t type) const {
  Lock l(mutex_);
  return blocks_.reassembledBlockDataWithDataType(type);
}

KSBlockDataRecord KSBeacon::lastReassembledBlockDataWithDataType(std::uint64_t type) const {
  Lock l(mutex_);
  return blocks_.lastReassembledBlockDataWithDataType(type);
}

void KSBeacon::updateMeasurementDataWithAdData(const platform::Value& adData) {
  const auto* type = adData[KSAdDataTypeKey].string();
  if (!type || !isMeasurementType(*type)) return;
  bool telemetry = string_additions::isEqualIgnoringCase(*type, KSAdDataTypeEddystoneTelKey);
  std::optional<platform::Bytes> frame;
  if (telemetry) {
    const auto* temp = adData[KSAdDataTempDataKey].bytes();
    const auto* voltage = adData[KSAdDataBatteryVoltageDataKey].bytes();
    const auto* uptime = adData[KSAdDataUptimeDataKey].bytes();
    if (temp && voltage && uptime) {
      frame.emplace();
      frame->push_back(KSMeasurementTypeTemperature);
      frame->insert(frame->end(), temp->begin(), temp->end());
      frame->push_back(KSMeasurementTypeBatteryVoltage);
      frame->insert(frame->end(), voltage->begin(), voltage->end());
      frame->push_back(KSMeasurementTypeUptime);
      frame->insert(frame->end(), uptime->begin(), uptime->end());
    }
  } else if (const auto* payload = adData[KSAdDataMeasurementDataKey].bytes()) {
    frame = *payload;
  }

  std::vector<std::shared_ptr<KSMeasurement>> decoded;
  std::shared_ptr<KSBeaconDelegate> delegate;
  {
    Lock l(mutex_);
    rawMeasurementData_ = telemetry ? std::nullopt : frame;
    if (!frame) return;
    decoded = measurements_.decodeFrame(*frame);
    if (decoded.empty() || !measurements_.changeFlag()) return;
    delegate = delegate_.lock();
    if (!delegate) return;
  }
  // No lock is held while the delegate runs: it may read this record or others. The news
  // stays pending unless the delegate takes it.
  if (delegate->beaconDidUpdateMeasurements(weak_from_this().lock(), decoded)) {
    Lock l(mutex_);
    measurements_.clearChangeFlag();
  }
}

std::optional<std::vector<std::shared_ptr<KSMeasurement>>> KSBeacon::measurementsOfType(std::int64_t type) const {
  Lock l(mutex_);
  return measurements_.measurementsOfType(type);
}

std::vector<std::int64_t> KSBeacon::availableMeasurementTypes() const {
  Lock l(mutex_);
  return measurements_.availableMeasurementTypes();
}

// --- copy -----------------------------------------------------------------------------------

std::shared_ptr<KSBeacon> KSBeacon::copy() const {
  auto c = std::make_shared<KSBeacon>();
  Lock l(mutex_);
  // Nobody else holds the copy yet, so its fields are written directly rather than through
  // its setters and their lock, one field at a time. What the setters would add is done
  // here: addresses and UUIDs upper-cased, the iBeacon key recomputed, custom values mapped
  // by key. Major, minor, firmware id and battery level take the advertised value when
  // there is one, as their getters do.
  c->beaconID_ = beaconID_;
  c->cacheIdentifier_ = cacheIdentifier_;
  c->name_ = name_;
  c->privacyDuration_ = privacyDuration_;
  c->teamID_ = teamID_;
  c->siteID_ = siteID_;
  c->siteName_ = siteName_;
  c->site_ = site_;
  c->createdAt_ = createdAt_;
  c->modifiedAt_ = modifiedAt_;
  c->categories_ = copyElements(categories_);
  c->setCustomValues(copyElements(customValues_));
  c->bluetoothAddress_ = upper(bluetoothAddress_);
  c->batteryStatus_ = batteryStatus_;
  c->beaconLoudness_ = beaconLoudness_;
  c->targetSpeed_ = targetSpeed_;
  c->beaconMode_ = beaconMode_;
  c->beaconRegion_ = beaconRegion_;
  c->mapPoint_ = mapPoint_;
  c->networkAccess_ = networkAccess_;
  c->peripheralIdentifier_ = peripheralIdentifier_;
  c->firstDiscoveredAt_ = firstDiscoveredAt_;
  c->lastDiscoveredAt_ = lastDiscoveredAt_;
  c->adData_.replaceAll(adData_.all());
  if (blocks_.hasReassembledBlockData()) c->blocks_.setReassembledBlockData(blocks_.reassembledBlockData());
  c->proximityUUIDString_ = upper(proximityUUIDString_);
  c->major_ = major();
  c->minor_ = minor();
  c->recomputeIBeaconKeyLocked();
  c->accuracy_ = accuracy_;
  c->rssi_ = rssi_;
  c->proximity_ = proximity_;
  c->cachedAt_ = cachedAt_;
  c->syncedAt_ = syncedAt_;
  c->syncStatus_ = syncStatus_;
  c->version_ = version_;
  c->pendingVersion_ = pendingVersion_;
  c->measuredPowerAt1Meter_ = measuredPowerAt1Meter_;
  c->lastRangedAt_ = lastRangedAt_;
  c->firstRangedAt_ = firstRangedAt_;
  c->firmwareVersion_ = firmwareVersion_;
  c->firmwareUID_ = firmwareUID();
  c->latestFirmwareVersion_ = latestFirmwareVersion_;
  c->latestFirmwareUID_ = latestFirmwareUID_;
  c->modelNumber_ = modelNumber_;
  c->serialNumber_ = serialNumber_;
  c->upgradableOTA_ = upgradableOTA_;
  c->lastKnownBatteryLevel_ = lastKnownBatteryLevel();
  c->eddystone_ = eddystone_;
  c->featureBitmask_ = featureBitmask_;
  c->wireframeURLString_ = wireframeURLString_;
  c->rawMeasurementData_ = rawMeasurementData_;
  return c;
}

// --- stored beacons -------------------------------------------------------------------------

void KSBeacon::storedBeaconsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                          const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                          BeaconsHandler success, KSLocalStoragePort::FailureHandler failure) {
  auto narrowed = predicate.value_or(KSStorePredicate{}).withoutSyncStatus(KSSyncStatusUnauthorized);
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success({});
    return;
  }
  store->fetchRecordsForEntitiesNamed(
      "KSBeacon", narrowed, sortDescriptors,
      [success = std::move(success)](KSLocalStoragePort::Rows rows) {
        std::vector<std::shared_ptr<KSBeacon>> beacons;
        beacons.reserve(rows.size());
        for (const auto& row : rows) {
          if (!row) continue;
          if (auto beacon = row->toBeacon()) beacons.push_back(std::move(beacon));
        }
        if (success) success(std::move(beacons));
      },
      std::move(failure));
}

void KSBeacon::numberOfBeaconsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                            KSLocalStoragePort::CountHandler success,
                                            KSLocalStoragePort::FailureHandler failure) {
  auto narrowed = predicate.value_or(KSStorePredicate{}).withoutSyncStatus(KSSyncStatusUnauthorized);
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success(0);
    return;
  }
  store->countRecordsForEntitiesNamed("KSBeacon", narrowed, std::move(success), std::move(failure));
}

// --- Bluetooth requests ---------------------------------------------------------------------

std::shared_ptr<KSBeaconHubPort> KSBeacon::hubOrFail(const KSBeaconHubPort::Failure& failure) const {
  auto hub = KSBeaconHubPort::shared();
  if (!hub && failure) {
    failure(platform::Error{"com.kestrine.KSBeacon", -1, "The beacon manager is not running", {}});
  }
  return hub;
}

void KSBeacon::sendDataRequest(const platform::Bytes& request, std::uint64_t endpoint, KSBeaconHubPort::Success success,
                               KSBeaconHubPort::Status status, KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->sendDataRequest(request, shared_from_this(), endpoint, std::move(success), std::move(status), std::move(failure));
  }
}

void KSBeacon::sendDataRequests(const std::vector<platform::Bytes>& requests, std::uint64_t endpoint,
                                std::function<void(std::vector<platform::Bytes>)> success, KSBeaconHubPort::Status status,
                                KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->sendDataRequests(
        requests, shared_from_this(), endpoint,
        [requests, success = std::move(success)](const platform::Value&) {
          if (success) success(requests);
        },
        std::move(status), std::move(failure));
  }
}

void KSBeacon::transportDataRequest(const platform::Bytes& request, std::uint64_t endpoint,
                                    KSBeaconHubPort::Success success, KSBeaconHubPort::Status status,
                                    KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->transportDataRequest(request, shared_from_this(), endpoint, std::move(success), std::move(status),
                              std::move(failure));
  }
}

void KSBeacon::updateSettingsOffPlatformWithSettings(const platform::Dict& settings, KSBeaconHubPort::Success success,
                                                     KSBeaconHubPort::Status status, KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->updateSettingsInBeacon(shared_from_this(), settings, std::move(success), std::move(status), std::move(failure));
  }
}

void KSBeacon::sendOpcode(std::int32_t opcode, KSBeaconHubPort::Success success, KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->sendOpcode(opcode, std::nullopt, shared_from_this(), std::move(success), std::move(failure));
  }
}

void KSBeacon::sendOpcode(std::int32_t opcode, const platform::Bytes& data, KSBeaconHubPort::Success success,
                          KSBeaconHubPort::Failure failure) {
  if (auto hub = hubOrFail(failure)) {
    hub->sendOpcode(opcode, data, shared_from_this(), std::move(success), std::move(failure));
  }
}

}  // namespace velmora::kestrine
