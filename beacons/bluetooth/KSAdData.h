#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// The frame kinds, one per value of KSAdDataTypeKey.
enum class KSAdDataKind : std::uint8_t {
  AppleIBeacon,
  KestrineIBeacon,
  KestrineSecure,
  KestrineBlockData,
  KestrineNewborn,
  KestrineManagement,
  KestrineIdentifier,
  KestrineMeasurement,
  EncryptedStatus,
  EddystoneUID,
  EddystoneURL,
  EddystoneTel,
  EddystoneEID,
};

// The fields an advertisement-data record can carry, one per key constant (the type key
// itself is the record's kind).
enum class KSAdDataField : std::uint8_t {
  KestrineAdDataType,
  ProximityUUIDString,
  Major,
  Minor,
  MeasuredPowerAt1Meter,
  TxPowerLevel,
  BatteryLevel,
  BeaconLoudnessLevel,
  TargetSpeedInMilliseconds,
  SettingsVersion,
  FirmwareUID,
  BluetoothAddressString,
  SequenceNumber,
  TeamID,
  Alert,
  IdentifierData,
  MeasurementData,
  EncryptedStatus,
  BlockDataIdentifier,
  BlockDataType,
  BlockDataIndex,
  BlockDataCount,
  BlockDataEncoding,
  BlockDataLength,
  BlockDataData,
  EddystoneUIDString,
  EddystoneUIDNameSpace,
  EddystoneURLString,
  EddystoneURLScheme,
  EddystoneEIDString,
  BatteryVoltageData,
  TempData,
  AdCount,
  UptimeData,
  LocalName,
  Timestamp,
  FirstDiscoveredAt,
  DiscoveredCount,
};
inline constexpr std::size_t kKSAdDataFieldCount = static_cast<std::size_t>(KSAdDataField::DiscoveredCount) + 1;

// The text of KSAdDataTypeKey for a kind, and the key text of a field.
std::string_view typeKeyForKind(KSAdDataKind kind);
std::string_view keyForField(KSAdDataField field);
// The kind whose type-key text this is, or nothing.
std::optional<KSAdDataKind> kindForTypeKey(std::string_view typeKey);

// One parsed advertisement: the frame kind and its decoded fields, each an integer, a text,
// a byte string or a date.
//
// Parsing runs for every advertisement the radio hears, so the record keeps its fields in
// fixed slots and its texts and bytes in an inline buffer: filling one allocates nothing
// for any frame the SDK knows (only an unusually long decoded URL or payload spills to the
// heap). The dictionary form that the beacon record stores and plug-ins receive is made by
// toDictionary() when a caller needs it. Text and byte views stay valid until the next set.
class KSAdData {
 public:
  explicit KSAdData(KSAdDataKind kind) : kind_(kind) {}

  KSAdDataKind kind() const { return kind_; }
  std::string_view typeKey() const { return typeKeyForKind(kind_); }

  void setInteger(KSAdDataField field, std::int64_t value);
  void setText(KSAdDataField field, std::string_view text);
  void setBytes(KSAdDataField field, std::span<const std::uint8_t> bytes);
  void setDate(KSAdDataField field, platform::Date date);
  void remove(KSAdDataField field);

  bool contains(KSAdDataField field) const { return slot(field).kind != SlotKind::None; }
  std::optional<std::int64_t> integer(KSAdDataField field) const;
  std::optional<std::string_view> text(KSAdDataField field) const;
  std::optional<std::span<const std::uint8_t>> bytes(KSAdDataField field) const;
  std::optional<platform::Date> date(KSAdDataField field) const;
  // Number of fields set, the type key not counted.
  std::size_t fieldCount() const;

  // The dictionary form: KSAdDataTypeKey with the type text, and every field under its key
  // (integers as Int, texts as String, byte strings as Bytes, dates as Date).
  platform::Value toDictionary() const;

  friend bool operator==(const KSAdData& a, const KSAdData& b);

 private:
  enum class SlotKind : std::uint8_t { None, Integer, Text, Bytes, Date };
  struct Slot {
    SlotKind kind = SlotKind::None;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::int64_t number = 0;
  };

  const Slot& slot(KSAdDataField f) const { return slots_[static_cast<std::size_t>(f)]; }
  Slot& slot(KSAdDataField f) { return slots_[static_cast<std::size_t>(f)]; }
  void store(KSAdDataField field, SlotKind kind, const void* data, std::size_t size);
  const char* storage() const { return spill_.empty() ? inline_.data() : spill_.data(); }

  static constexpr std::size_t kInlineCapacity = 192;

  KSAdDataKind kind_;
  std::array<Slot, kKSAdDataFieldCount> slots_{};
  std::uint32_t used_ = 0;
  std::array<char, kInlineCapacity> inline_{};  // zeroed: a copy of the record copies it whole
  std::string spill_;  // holds all stored bytes once they outgrow the inline buffer
};

}  // namespace velmora::kestrine
