#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSAdDataStore.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBlockDataReassembler.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSMeasurement.h"
#include "beacons/model/KSMeasurementHistory.h"
#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

enum KSSyncStatus : std::int64_t {
  KSSyncStatusNotSynced = 0,
  KSSyncStatusUnauthorized = 1,
  KSSyncStatusSynced = 2,
  KSSyncStatusRestored = 3,
  KSSyncStatusExpired = 4,
};

enum KSBeaconIdentifierType : std::int64_t {
  KSBeaconIdentifierTypeSerialNumber = 1,
  KSBeaconIdentifierTypeBluetoothAddress = 2,
  KSBeaconIdentifierTypeBeaconID = 3,
  KSBeaconIdentifierTypeIBeaconKey = 4,
  KSBeaconIdentifierTypeEddystoneUID = 5,
};

// The KSBeaconModeID constants come with KSBeaconMode.h.

// Bits of KSBeacon::featureBitmask.
enum KSFeatureBitmask : std::uint32_t {
  KSFeatureBitmaskTargetSpeedChange = 1u << 7,
  KSFeatureBitmaskLegacyBLESettingsUpdate = 1u << 10,
  KSFeatureBitmaskUnencryptedBLESettingsUpdate = 1u << 11,
  KSFeatureBitmaskAES128CMACBLESettingsUpdate = 1u << 12,
  KSFeatureBitmaskLegacyBLEFirmwareUpdate = 1u << 13,
  KSFeatureBitmaskUnencryptedBLEFirmwareUpdate = 1u << 14,
  KSFeatureBitmaskAES128CMACBLEFirmwareUpdate = 1u << 15,
  KSFeatureBitmaskTwoWayDataTransfer = 1u << 16,
  KSFeatureBitmaskTemperatureData = 1u << 18,
};

class KSBeacon;

// What a beacon tells the one object that follows it (the ranging hub for the beacons it
// caches). Called on the thread that hands the beacon its advertisement, with no lock held.
class KSBeaconDelegate {
 public:
  // An override answers `std::monostate{}`: it took the news. The default body answers none,
  // and the beacon then keeps the news pending for a delegate that takes it.
  using Taken = std::optional<std::monostate>;
  virtual ~KSBeaconDelegate() = default;
  // The measurements decoded from one advertisement, in frame order, when they changed.
  virtual Taken beaconDidUpdateMeasurements(const std::shared_ptr<KSBeacon>& beacon,
                                            const std::vector<std::shared_ptr<KSMeasurement>>& measurements) {
    (void)beacon;
    (void)measurements;
    return std::nullopt;
  }
};

// The one record of a beacon: its platform record (identity and settings, imported from and
// exported to the cloud's JSON) and the live state that scanning and ranging keep on it
// (signal, distance, the latest advertisement of each type, reassembled block data, sensor
// measurements).
//
// The ranging hub writes live state from its work queue while any thread reads the record:
// every field is guarded by the record's own lock, and the delegate is called with no lock
// held, on the thread that hands the record its advertisement (the hub's work queue while
// ranging). The delegate is held weakly. JSON import writes only the platform record; live
// state never comes from or goes to JSON.
class KSBeacon : public KSJSONRecord<KSBeacon>, public std::enable_shared_from_this<KSBeacon> {
 public:
  using Number = platform::Value;  // Absent or a number
  template <class T>
  using Records = std::optional<std::vector<std::shared_ptr<T>>>;
  using CustomValueMap = std::map<std::string, std::string>;

  static const KSJSONModelClass& jsonClass();
  KSBeacon() = default;

  // --- platform record ---
  std::optional<std::string> beaconID() const;
  // A non-empty identifier also marks the record synced now.
  void setBeaconID(std::optional<std::string> v);
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> v);
  std::optional<std::string> serialNumber() const;
  void setSerialNumber(std::optional<std::string> v);
  std::optional<std::string> modelNumber() const;
  void setModelNumber(std::optional<std::string> v);
  std::optional<std::string> proximityUUIDString() const;
  void setProximityUUIDString(std::optional<std::string> v);  // stored upper-cased
  // major, minor, firmwareUID and lastKnownBatteryLevel prefer the value of the newest maker
  // advertisement over the stored one.
  // Parenthesised: glibc's major() and minor() macros may be defined (see KSBeaconRegion.h).
  Number (major)() const;
  void setMajor(Number v);
  Number (minor)() const;
  void setMinor(Number v);
  // "UUID:major:minor" from the stored UUID, major and minor; absent until all three are set.
  std::optional<std::string> iBeaconKey() const;
  std::optional<std::string> bluetoothAddress() const;
  void setBluetoothAddress(std::optional<std::string> v);  // stored upper-cased
  Number version() const;
  void setVersion(Number v);
  Number pendingVersion() const;
  void setPendingVersion(Number v);
  std::optional<std::string> firmwareVersion() const;
  void setFirmwareVersion(std::optional<std::string> v);
  std::optional<std::string> firmwareUID() const;
  void setFirmwareUID(std::optional<std::string> v);
  // The firmware id the record carries, whatever the beacon advertises.
  std::optional<std::string> storedFirmwareUID() const;
  std::optional<std::string> latestFirmwareVersion() const;
  void setLatestFirmwareVersion(std::optional<std::string> v);
  std::optional<std::string> latestFirmwareUID() const;
  void setLatestFirmwareUID(std::optional<std::string> v);
  bool upgradableOTA() const;
  void setUpgradableOTA(bool v);
  Number lastKnownBatteryLevel() const;
  void setLastKnownBatteryLevel(Number v);
  std::shared_ptr<KSBatteryStatus> batteryStatus() const;
  void setBatteryStatus(std::shared_ptr<KSBatteryStatus> v);
  Number privacyDuration() const;
  void setPrivacyDuration(Number v);
  Number measuredPowerAt1Meter() const;
  void setMeasuredPowerAt1Meter(Number v);
  std::shared_ptr<KSBeaconMode> beaconMode() const;
  void setBeaconMode(std::shared_ptr<KSBeaconMode> v);
  std::shared_ptr<KSBeaconLoudness> beaconLoudness() const;
  void setBeaconLoudness(std::shared_ptr<KSBeaconLoudness> v);
  std::shared_ptr<KSTargetSpeed> targetSpeed() const;
  void setTargetSpeed(std::shared_ptr<KSTargetSpeed> v);
  std::uint32_t featureBitmask() const;
  void setFeatureBitmask(std::uint32_t v);
  std::shared_ptr<KSEddystone> eddystone() const;
  void setEddystone(std::shared_ptr<KSEddystone> v);
  std::shared_ptr<KSMapPoint> mapPoint() const;
  void setMapPoint(std::shared_ptr<KSMapPoint> v);
  std::shared_ptr<KSSite> site() const;
  void setSite(std::shared_ptr<KSSite> v);
  std::optional<std::string> siteID() const;
  void setSiteID(std::optional<std::string> v);
  std::optional<std::string> siteName() const;
  void setSiteName(std::optional<std::string> v);
  std::optional<std::string> teamID() const;
  void setTeamID(std::optional<std::string> v);
  std::shared_ptr<KSNetworkAccess> networkAccess() const;
  void setNetworkAccess(std::shared_ptr<KSNetworkAccess> v);
  std::shared_ptr<KSBeaconRegion> beaconRegion() const;
  void setBeaconRegion(std::shared_ptr<KSBeaconRegion> v);
  Records<KSCategory> categories() const;
  void setCategories(Records<KSCategory> v);
  Records<KSCustomValue> customValues() const;
  // Also rebuilds customValueForKey (a later pair of the same key wins).
  void setCustomValues(Records<KSCustomValue> v);
  // Absent when there are no custom values.
  std::optional<CustomValueMap> customValueForKey() const;
  std::optional<std::string> wireframeURLString() const;
  void setWireframeURLString(std::optional<std::string> v);
  std::optional<platform::Date> createdAt() const;
  void setCreatedAt(std::optional<platform::Date> v);
  std::optional<platform::Date> modifiedAt() const;
  void setModifiedAt(std::optional<platform::Date> v);
  std::optional<platform::Date> cachedAt() const;
  void setCachedAt(std::optional<platform::Date> v);
  std::optional<platform::Date> syncedAt() const;
  void setSyncedAt(std::optional<platform::Date> v);
  std::int64_t syncStatus() const;
  void setSyncStatus(std::int64_t v);

  // --- live state ---
  Number rssi() const;
  void setRssi(Number v);
  double accuracy() const;  // -1.0 before any estimate
  void setAccuracy(double v);
  std::uint64_t proximity() const;  // KSProximity
  void setProximity(std::uint64_t v);
  std::optional<platform::Date> firstDiscoveredAt() const;
  void setFirstDiscoveredAt(std::optional<platform::Date> v);
  std::optional<platform::Date> lastDiscoveredAt() const;
  void setLastDiscoveredAt(std::optional<platform::Date> v);
  std::optional<platform::Date> firstRangedAt() const;
  void setFirstRangedAt(std::optional<platform::Date> v);
  std::optional<platform::Date> lastRangedAt() const;
  void setLastRangedAt(std::optional<platform::Date> v);
  std::optional<platform::Uuid> peripheralIdentifier() const;
  void setPeripheralIdentifier(std::optional<platform::Uuid> v);
  std::optional<std::string> identifierDataString() const;
  void setIdentifierDataString(std::optional<std::string> v);
  // Upper-case hex, two digits a byte.
  void setIdentifierDataStringWithData(const platform::Bytes& data);
  bool hasIdentifierData() const;
  std::optional<std::string> cacheIdentifier() const;
  void setCacheIdentifier(std::optional<std::string> v);

  KSAdDataStore::Map latestAdData() const;
  void setLatestAdData(KSAdDataStore::Map v);
  std::deque<KSBlockDataRecord> reassembledBlockData() const;
  void setReassembledBlockData(std::deque<KSBlockDataRecord> v);
  std::optional<platform::Value> partialBlockData() const;
  std::optional<platform::Bytes> rawMeasurementData() const;
  void setRawMeasurementData(std::optional<platform::Bytes> v);

  // Held weakly.
  std::shared_ptr<KSBeaconDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<KSBeaconDelegate>& d);

  // --- tests ---
  bool isSyncedOrRestored() const;
  bool wasDiscovered() const;
  bool isNewborn() const;
  bool isIBeacon() const;
  bool isSecure() const;
  bool hasDiscoveredEddystoneUIDFrame() const;
  bool hasDiscoveredEddystoneURLFrame() const;
  bool hasDiscoveredEddystoneTelemetryFrame() const;
  bool isEddystone() const;  // a UID or URL frame; telemetry alone does not count
  bool isKestrine() const;
  bool supportsMeasurement() const;
  std::optional<std::string> localName() const;
  // Sightings per minute since the type was first seen; 0 without data or when first seen now.
  double averageAdsPerMinuteForAdDataType(std::string_view typeKey) const;

  bool supportsTargetSpeedChange() const { return hasFeature(KSFeatureBitmaskTargetSpeedChange); }
  bool supportsLegacyBLESettingsUpdate() const { return hasFeature(KSFeatureBitmaskLegacyBLESettingsUpdate); }
  bool supportsUnencryptedBLESettingsUpdate() const { return hasFeature(KSFeatureBitmaskUnencryptedBLESettingsUpdate); }
  bool supportsAES128CMACBLESettingsUpdate() const { return hasFeature(KSFeatureBitmaskAES128CMACBLESettingsUpdate); }
  bool supportsLegacyBLEFirmwareUpdate() const { return hasFeature(KSFeatureBitmaskLegacyBLEFirmwareUpdate); }
  bool supportsUnencryptedBLEFirmwareUpdate() const { return hasFeature(KSFeatureBitmaskUnencryptedBLEFirmwareUpdate); }
  bool supportsAES128CMACBLEFirmwareUpdate() const { return hasFeature(KSFeatureBitmaskAES128CMACBLEFirmwareUpdate); }
  bool supportsTwoWayDataTransfer() const { return hasFeature(KSFeatureBitmaskTwoWayDataTransfer); }
  bool supportsTemperatureData() const { return hasFeature(KSFeatureBitmaskTemperatureData); }

  // --- advertisements ---
  // Routes a block-data frame to reassembly and a measurement or telemetry advertisement to
  // decoding (type keys compared ignoring case), then stores it under the type key as given.
  void setAdData(platform::Value adData, std::string_view typeKey);
  KSAdDataRef adDataForAdDataTypeKey(std::string_view typeKey) const;
  void removeAdDataForAdDataTypeKey(std::string_view typeKey);
  void removeAllAdData();
  platform::Value objectFromLatestAdDataForKey(std::string_view key, std::span<const std::string_view> typeKeys) const;
  platform::Value objectFromLatestKestrineAdDataForKey(std::string_view key) const;
  platform::Value objectFromLatestIBeaconAdDataForKey(std::string_view key) const;
  platform::Value objectFromLatestAdDataWithKey(std::string_view key) const;
  static std::span<const std::string_view> kestrineAdDataTypes() { return KSAdDataStore::kestrineAdDataTypes(); }
  static std::span<const std::string_view> iBeaconAdDataTypes() { return KSAdDataStore::iBeaconAdDataTypes(); }
  static std::span<const std::string_view> eddystoneAdDataTypes() { return KSAdDataStore::eddystoneAdDataTypes(); }

  void reassembleBlockDataWithAdData(const platform::Value& frame);
  std::vector<KSBlockDataRecord> reassembledBlockDataWithDataType(std::uint64_t type) const;
  KSBlockDataRecord lastReassembledBlockDataWithDataType(std::uint64_t type) const;

  // Decodes a maker measurement or Eddystone telemetry advertisement and tells the delegate
  // when the values changed; other advertisements change nothing.
  void updateMeasurementDataWithAdData(const platform::Value& adData);
  std::optional<std::vector<std::shared_ptr<KSMeasurement>>> measurementsOfType(std::int64_t type) const;
  std::vector<std::int64_t> availableMeasurementTypes() const;

  // Forgets the peripheral, both discovery dates and every stored advertisement, so the next
  // sighting counts as a first discovery; also on the hub's cached record of the same cache
  // identifier when that is another object.
  void needsToRediscoverPeripheral();

  // --- copy ---
  // Platform record and live state, with categories and custom values copied element by
  // element; not the identifier data, delegate, partial block data or measurement histories.
  std::shared_ptr<KSBeacon> copy() const;

  // --- stored beacons (unauthorised ones never come back, rows that do not convert are left out) ---
  using BeaconsHandler = std::function<void(std::vector<std::shared_ptr<KSBeacon>>)>;
  static void storedBeaconsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                         const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                         BeaconsHandler success, KSLocalStoragePort::FailureHandler failure = {});
  static void numberOfBeaconsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                           KSLocalStoragePort::CountHandler success,
                                           KSLocalStoragePort::FailureHandler failure = {});

  // --- Bluetooth requests, forwarded to the ranging hub with this record ---
  void sendDataRequest(const platform::Bytes& request, std::uint64_t endpoint, KSBeaconHubPort::Success success,
                       KSBeaconHubPort::Status status, KSBeaconHubPort::Failure failure);
  // On success the caller's block gets the requests that were sent.
  void sendDataRequests(const std::vector<platform::Bytes>& requests, std::uint64_t endpoint,
                        std::function<void(std::vector<platform::Bytes>)> success, KSBeaconHubPort::Status status,
                        KSBeaconHubPort::Failure failure);
  void transportDataRequest(const platform::Bytes& request, std::uint64_t endpoint, KSBeaconHubPort::Success success,
                            KSBeaconHubPort::Status status, KSBeaconHubPort::Failure failure);
  void updateSettingsOffPlatformWithSettings(const platform::Dict& settings, KSBeaconHubPort::Success success,
                                             KSBeaconHubPort::Status status, KSBeaconHubPort::Failure failure);
  void sendOpcode(std::int32_t opcode, KSBeaconHubPort::Success success, KSBeaconHubPort::Failure failure);
  void sendOpcode(std::int32_t opcode, const platform::Bytes& data, KSBeaconHubPort::Success success,
                  KSBeaconHubPort::Failure failure);

 private:
  bool hasFeature(std::uint32_t bit) const { return (featureBitmask() & bit) == bit; }
  void recomputeIBeaconKeyLocked();
  bool hasAnyLocked(std::span<const std::string_view> typeKeys) const;
  Number preferAdvertised(std::string_view adKey, const Number& stored) const;
  std::shared_ptr<KSBeaconHubPort> hubOrFail(const KSBeaconHubPort::Failure& failure) const;

  mutable std::recursive_mutex mutex_;
  // platform record
  std::optional<std::string> beaconID_, name_, serialNumber_, modelNumber_, proximityUUIDString_, iBeaconKey_,
      bluetoothAddress_, firmwareVersion_, firmwareUID_, latestFirmwareVersion_, latestFirmwareUID_, siteID_,
      siteName_, teamID_, wireframeURLString_;
  Number major_, minor_, version_, pendingVersion_, lastKnownBatteryLevel_, privacyDuration_, measuredPowerAt1Meter_;
  bool upgradableOTA_ = false;
  std::uint32_t featureBitmask_ = 0;
  std::shared_ptr<KSBatteryStatus> batteryStatus_;
  std::shared_ptr<KSBeaconMode> beaconMode_;
  std::shared_ptr<KSBeaconLoudness> beaconLoudness_;
  std::shared_ptr<KSTargetSpeed> targetSpeed_;
  std::shared_ptr<KSEddystone> eddystone_;
  std::shared_ptr<KSMapPoint> mapPoint_;
  std::shared_ptr<KSSite> site_;
  std::shared_ptr<KSNetworkAccess> networkAccess_;
  std::shared_ptr<KSBeaconRegion> beaconRegion_;
  Records<KSCategory> categories_;
  Records<KSCustomValue> customValues_;
  std::optional<CustomValueMap> customValueForKey_;
  std::optional<platform::Date> createdAt_, modifiedAt_, cachedAt_, syncedAt_;
  std::int64_t syncStatus_ = KSSyncStatusNotSynced;
  // live state
  Number rssi_;
  double accuracy_ = -1.0;
  std::uint64_t proximity_ = 0;
  std::optional<platform::Date> firstDiscoveredAt_, lastDiscoveredAt_, firstRangedAt_, lastRangedAt_;
  std::optional<platform::Uuid> peripheralIdentifier_;
  std::optional<std::string> identifierDataString_, cacheIdentifier_;
  KSAdDataStore adData_;
  KSBlockDataReassembler blocks_;
  KSMeasurementHistory measurements_;
  std::optional<platform::Bytes> rawMeasurementData_;
  std::weak_ptr<KSBeaconDelegate> delegate_;
};

}  // namespace velmora::kestrine
