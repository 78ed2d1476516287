#include "beacons/model/KSAdDataStore.h"

#include <array>
#include <optional>

#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {
constexpr std::array<std::string_view, 6> kKestrine{KSAdDataTypeKestrineSecureKey,      KSAdDataTypeKestrineIBeaconKey,
                                                    KSAdDataTypeKestrineNewbornKey,     KSAdDataTypeKestrineMeasurementKey,
                                                    KSAdDataTypeKestrineIdentifierKey, KSAdDataTypeKestrineManagementKey};
constexpr std::array<std::string_view, 2> kIBeacon{KSAdDataTypeAppleIBeaconKey, KSAdDataTypeKestrineIBeaconKey};
constexpr std::array<std::string_view, 3> kEddystone{KSAdDataTypeEddystoneTelKey, KSAdDataTypeEddystoneUIDKey,
                                                     KSAdDataTypeEddystoneURLKey};
constexpr std::array<std::string_view, 11> kAll{
    KSAdDataTypeKestrineSecureKey,     KSAdDataTypeKestrineIBeaconKey,    KSAdDataTypeKestrineNewbornKey,
    KSAdDataTypeKestrineMeasurementKey, KSAdDataTypeKestrineIdentifierKey, KSAdDataTypeKestrineManagementKey,
    KSAdDataTypeAppleIBeaconKey,       KSAdDataTypeKestrineIBeaconKey,    KSAdDataTypeEddystoneTelKey,
    KSAdDataTypeEddystoneUIDKey,       KSAdDataTypeEddystoneURLKey};
}  // namespace

void KSAdDataStore::set(std::string_view typeKey, KSAdDataRef adData) {
  if (!adData) {
    remove(typeKey);
    return;
  }
  auto it = map_.find(typeKey);
  if (it != map_.end()) {
    it->second = std::move(adData);
  } else {
    map_.emplace(std::string(typeKey), std::move(adData));
  }
}

KSAdDataRef KSAdDataStore::get(std::string_view typeKey) const {
  auto it = map_.find(typeKey);
  return it == map_.end() ? nullptr : it->second;
}

bool KSAdDataStore::hasAny(std::span<const std::string_view> typeKeys) const {
  for (auto key : typeKeys) {
    if (has(key)) return true;
  }
  return false;
}

void KSAdDataStore::remove(std::string_view typeKey) {
  auto it = map_.find(typeKey);
  if (it != map_.end()) map_.erase(it);
}

platform::Value KSAdDataStore::objectFromLatest(std::string_view key, std::span<const std::string_view> typeKeys) const {
  const platform::Value* candidate = nullptr;
  std::optional<platform::Date> candidateAt;
  for (auto typeKey : typeKeys) {
    auto it = map_.find(typeKey);
    if (it == map_.end()) continue;
    auto at = (*it->second)[KSAdDataTimestampKey].toDate();
    if (!candidate || (at && (!candidateAt || *at > *candidateAt))) {
      candidate = it->second.get();
      candidateAt = at;
    }
  }
  return candidate ? (*candidate)[key] : platform::Value();
}

std::span<const std::string_view> KSAdDataStore::kestrineAdDataTypes() { return kKestrine; }
std::span<const std::string_view> KSAdDataStore::iBeaconAdDataTypes() { return kIBeacon; }
std::span<const std::string_view> KSAdDataStore::eddystoneAdDataTypes() { return kEddystone; }
std::span<const std::string_view> KSAdDataStore::allAdDataTypes() { return kAll; }

}  // namespace velmora::kestrine
