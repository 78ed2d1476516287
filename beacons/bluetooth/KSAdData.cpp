#include "beacons/bluetooth/KSAdData.h"

#include <algorithm>
#include <cstring>

#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {

constexpr std::array<std::string_view, 13> kTypeKeys = {
    KSAdDataTypeAppleIBeaconKey,     KSAdDataTypeKestrineIBeaconKey,     KSAdDataTypeKestrineSecureKey,
    KSAdDataTypeKestrineBlockDataKey, KSAdDataTypeKestrineNewbornKey,    KSAdDataTypeKestrineManagementKey,
    KSAdDataTypeKestrineIdentifierKey, KSAdDataTypeKestrineMeasurementKey, KSAdDataTypeEncryptedStatusKey,
    KSAdDataTypeEddystoneUIDKey,     KSAdDataTypeEddystoneURLKey,        KSAdDataTypeEddystoneTelKey,
    KSAdDataTypeEddystoneEIDKey,
};

constexpr std::array<std::string_view, kKSAdDataFieldCount> kFieldKeys = {
    KSKestrineAdDataTypeKey,
    KSAdDataProximityUUIDStringKey,
    KSAdDataMajorKey,
    KSAdDataMinorKey,
    KSAdDataMeasuredPowerAt1MeterKey,
    KSAdDataTxPowerLevelKey,
    KSAdDataBatteryLevelKey,
    KSAdDataBeaconLoudnessLevelKey,
    KSAdDataTargetSpeedInMillisecondsKey,
    KSAdDataSettingsVersionKey,
    KSAdDataFirmwareUIDKey,
    KSAdDataBluetoothAddressStringKey,
    KSAdDataSequenceNumberKey,
    KSAdDataTeamIDKey,
    KSAdDataAlertKey,
    KSAdDataIdentifierDataKey,
    KSAdDataMeasurementDataKey,
    KSAdDataEncryptedStatusKey,
    KSBlockDataIdentifierKey,
    KSBlockDataTypeKey,
    KSBlockDataIndexKey,
    KSBlockDataCountKey,
    KSBlockDataEncodingKey,
    KSBlockDataLengthKey,
    KSBlockDataDataKey,
    KSAdDataEddystoneUIDStringKey,
    KSAdDataEddystoneUIDNameSpaceKey,
    KSAdDataEddystoneURLStringKey,
    KSAdDataEddystoneURLSchemeKey,
    KSAdDataEddystoneEIDStringKey,
    KSAdDataBatteryVoltageDataKey,
    KSAdDataTempDataKey,
    KSAdDataAdCountKey,
    KSAdDataUptimeDataKey,
    KSAdDataLocalNameKey,
    KSAdDataTimestampKey,
    KSAdDataFirstDiscoveredAtKey,
    KSAdDataDiscoveredCountKey,
};

}  // namespace

std::string_view typeKeyForKind(KSAdDataKind kind) { return kTypeKeys[static_cast<std::size_t>(kind)]; }

std::string_view keyForField(KSAdDataField field) { return kFieldKeys[static_cast<std::size_t>(field)]; }

std::optional<KSAdDataKind> kindForTypeKey(std::string_view typeKey) {
  for (std::size_t i = 0; i < kTypeKeys.size(); ++i) {
    if (kTypeKeys[i] == typeKey) return static_cast<KSAdDataKind>(i);
  }
  return std::nullopt;
}

void KSAdData::setInteger(KSAdDataField field, std::int64_t value) {
  Slot& s = slot(field);
  s = Slot{SlotKind::Integer, 0, 0, value};
}

void KSAdData::setDate(KSAdDataField field, platform::Date date) {
  Slot& s = slot(field);
  s = Slot{SlotKind::Date, 0, 0, date.unixMicros()};
}

void KSAdData::setText(KSAdDataField field, std::string_view text) {
  store(field, SlotKind::Text, text.data(), text.size());
}

void KSAdData::setBytes(KSAdDataField field, std::span<const std::uint8_t> bytes) {
  store(field, SlotKind::Bytes, bytes.data(), bytes.size());
}

void KSAdData::store(KSAdDataField field, SlotKind kind, const void* data, std::size_t size) {
  // A replaced value's old bytes stay in the buffer unused; records are short-lived.
  const std::size_t offset = used_;
  if (spill_.empty() && offset + size <= kInlineCapacity) {
    if (size) std::memcpy(inline_.data() + offset, data, size);
  } else {
    if (spill_.empty()) spill_.assign(inline_.data(), used_);
    spill_.append(static_cast<const char*>(data), size);
  }
  used_ = static_cast<std::uint32_t>(offset + size);
  slot(field) = Slot{kind, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(size), 0};
}

void KSAdData::remove(KSAdDataField field) { slot(field) = Slot{}; }

std::optional<std::int64_t> KSAdData::integer(KSAdDataField field) const {
  const Slot& s = slot(field);
  if (s.kind != SlotKind::Integer) return std::nullopt;
  return s.number;
}

std::optional<platform::Date> KSAdData::date(KSAdDataField field) const {
  const Slot& s = slot(field);
  if (s.kind != SlotKind::Date) return std::nullopt;
  return platform::Date::fromUnixMicros(s.number);
}

std::optional<std::string_view> KSAdData::text(KSAdDataField field) const {
  const Slot& s = slot(field);
  if (s.kind != SlotKind::Text) return std::nullopt;
  return std::string_view(storage() + s.offset, s.length);
}

std::optional<std::span<const std::uint8_t>> KSAdData::bytes(KSAdDataField field) const {
  const Slot& s = slot(field);
  if (s.kind != SlotKind::Bytes) return std::nullopt;
  return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(storage()) + s.offset, s.length);
}

std::size_t KSAdData::fieldCount() const {
  std::size_t n = 0;
  for (const Slot& s : slots_) n += s.kind != SlotKind::None;
  return n;
}

platform::Value KSAdData::toDictionary() const {
  platform::Dict dict;
  dict.emplace(std::string(KSAdDataTypeKey), platform::Value(typeKey()));
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const auto field = static_cast<KSAdDataField>(i);
    platform::Value value;
    switch (slots_[i].kind) {
      case SlotKind::None:
        continue;
      case SlotKind::Integer:
        value = platform::Value(slots_[i].number);
        break;
      case SlotKind::Date:
        value = platform::Value(platform::Date::fromUnixMicros(slots_[i].number));
        break;
      case SlotKind::Text:
        value = platform::Value(*text(field));
        break;
      case SlotKind::Bytes: {
        const auto b = *bytes(field);
        value = platform::Value(platform::Bytes(b.begin(), b.end()));
        break;
      }
    }
    dict.insert_or_assign(std::string(keyForField(field)), std::move(value));
  }
  return platform::Value(std::move(dict));
}

bool operator==(const KSAdData& a, const KSAdData& b) {
  if (a.kind_ != b.kind_) return false;
  for (std::size_t i = 0; i < a.slots_.size(); ++i) {
    const auto f = static_cast<KSAdDataField>(i);
    const auto& sa = a.slots_[i];
    const auto& sb = b.slots_[i];
    if (sa.kind != sb.kind) return false;
    switch (sa.kind) {
      case KSAdData::SlotKind::None:
        break;
      case KSAdData::SlotKind::Integer:
      case KSAdData::SlotKind::Date:
        if (sa.number != sb.number) return false;
        break;
      case KSAdData::SlotKind::Text:
        if (*a.text(f) != *b.text(f)) return false;
        break;
      case KSAdData::SlotKind::Bytes: {
        const auto x = *a.bytes(f);
        const auto y = *b.bytes(f);
        if (!std::equal(x.begin(), x.end(), y.begin(), y.end())) return false;
        break;
      }
    }
  }
  return true;
}

}  // namespace velmora::kestrine
