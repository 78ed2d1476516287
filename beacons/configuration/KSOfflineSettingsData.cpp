#include "beacons/configuration/KSOfflineSettingsData.h"

#include <cmath>
#include <limits>

#include "beacons/bluetooth/KSEddystoneDefinitions.h"
#include "beacons/configuration/KSAdSchema.h"
#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/model/KSBeaconMode.h"
#include "platform/core/Uuid.h"
#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Dict;
using platform::Error;
using platform::Value;

platform::Dict KSOfflineEncryptedSettings::dictionary() const {
  Dict d;
  d["KSUnencryptedSettingsDataKey"] = unencrypted;
  d["KSEncryptedSettingsDataKey"] = encrypted;
  d["KSInitVectorDataKey"] = initialVector;
  d["KSCMacDataKey"] = mac;
  return d;
}

namespace offline_settings {
namespace {

const Value& lookup(const Dict& d, std::string_view key) {
  static const Value& absent = *new Value();
  auto it = d.find(key);
  return it == d.end() ? absent : it->second;
}

bool fail(Error* error, std::string description) {
  if (error) *error = Error(std::string(kErrorDomain), -1, std::move(description));
  return false;
}

// A number as an integer: integers as they are, booleans as 0 or 1, finite doubles cut
// towards zero when they fit.
std::optional<std::int64_t> integer(const Value& v) {
  if (auto b = v.toBool()) return *b ? 1 : 0;
  if (auto i = v.toInt64()) return *i;
  if (auto u = v.toUInt64()) return static_cast<std::int64_t>(*u);  // above INT64_MAX: kept modulo 2^64
  if (auto d = v.toDouble()) {
    if (!std::isfinite(*d) || *d <= -9.2e18 || *d >= 9.2e18) return std::nullopt;
    return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

// Text length as the phone counts it: UTF-16 code units (a byte that is no valid UTF-8
// counts as one).
std::size_t utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + len > s.size()) len = 1;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    n += len == 4 ? 2 : 1;
    i += len;
  }
  return n;
}

struct Writer {
  Bytes records;
  std::size_t count = 0;
  void record(std::uint16_t tag, const Bytes& value) {
    records.push_back(static_cast<std::uint8_t>(tag >> 8));
    records.push_back(static_cast<std::uint8_t>(tag & 0xFF));
    records.push_back(static_cast<std::uint8_t>((value.size() >> 8) & 0xFF));
    records.push_back(static_cast<std::uint8_t>(value.size() & 0xFF));
    records.insert(records.end(), value.begin(), value.end());
    ++count;
  }
};

Bytes u8(std::int64_t v) { return {static_cast<std::uint8_t>(v & 0xFF)}; }
Bytes u16(std::int64_t v) { return {static_cast<std::uint8_t>((v >> 8) & 0xFF), static_cast<std::uint8_t>(v & 0xFF)}; }

bool validate(const Dict& s, Error* error) {
  if (const Value& v = lookup(s, KSSettingsUpdateAdChannelsKey); !v.isAbsent()) {
    const auto n = integer(v);
    if (!n || *n < 0 || *n >= 256) return fail(error, "Invalid Advertising Channel");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateAuthKeyKey); !v.isAbsent()) {
    if (!v.bytes() || v.bytes()->size() != 16) return fail(error, "Invalid Auth Key");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneInstanceIDKey); !v.isAbsent()) {
    if (!v.bytes() || v.bytes()->size() != 6) return fail(error, "Invalid Eddystone Instance ID");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneNamespaceIDKey); !v.isAbsent()) {
    if (!v.bytes() || v.bytes()->size() != 10) return fail(error, "Invalid Eddystone Namespace ID");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateBeaconModeIDKey); !v.isAbsent()) {
    const auto n = integer(v);
    if (!n || !KSBeaconMode::isValidBeaconModeID(*n)) return fail(error, "Invalid beacon mode");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateProximityUUIDStringKey); !v.isAbsent()) {
    if (!v.string() || !platform::Uuid::parse(*v.string())) return fail(error, "Invalid proximity UUID string");
  }
  if (const Value& v = lookup(s, KSSettingsUpdateLocalNameShortKey); !v.isAbsent()) {
    if (!v.string() || v.string()->empty() || utf16Length(*v.string()) > 12) {
      return fail(error, "Invalid short local name");
    }
  }
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneURLKey); !v.isAbsent()) {
    std::optional<Bytes> encoded;
    if (v.string()) encoded = KSEddystoneDefinitions::dataForNSURL(*v.string());
    if (!encoded || encoded->empty() || encoded->size() > 18) {
      return fail(error, "Eddystone URL must be valid NSURL and length must be between 1 and 18 bytes");
    }
  }
  return true;
}

}  // namespace

std::optional<Bytes> unencryptedSettingsData(const Dict& s, Error* error) {
  if (!validate(s, error)) return std::nullopt;
  Writer w;
  auto invalid = [&](std::string_view key) {
    fail(error, "Invalid setting " + std::string(key));
    return std::nullopt;
  };
  // Numbers of the records below, in the beacon's order; each present one must be a number.
  struct NumberRecord {
    std::string_view key;
    std::uint16_t tag;
    bool wide;
  };

  const Value& authKey = lookup(s, KSSettingsUpdateAuthKeyKey);
  const Value& newPasscode = lookup(s, KSSettingsUpdateNewPasscodeKey);
  if (!newPasscode.isAbsent() && !newPasscode.string()) return invalid(KSSettingsUpdateNewPasscodeKey);
  if (authKey.bytes()) {
    w.record(0x0F, *authKey.bytes());
  } else if (newPasscode.string() && !newPasscode.string()->empty()) {
    w.record(0x0F, KSBeaconOperation::passcodeDataFromPasscodeString(*newPasscode.string()));
  }

  std::string_view badKey;
  auto numbers = [&](std::initializer_list<NumberRecord> list) -> bool {
    for (const auto& r : list) {
      const Value& v = lookup(s, r.key);
      if (v.isAbsent()) continue;
      const auto n = integer(v);
      if (!n) {
        badKey = r.key;
        return false;
      }
      w.record(r.tag, r.wide ? u16(*n) : u8(*n));
    }
    return true;
  };

  if (!numbers({{KSSettingsUpdateSecurityTypeKey, 0x0E, false},
                     {KSSettingsUpdateMinorKey, 0x04, true},
                     {KSSettingsUpdateMajorKey, 0x03, true}})) {
    return invalid(badKey);
  }
  if (const Value& v = lookup(s, KSSettingsUpdateProximityUUIDStringKey); v.string()) {
    const auto uuid = platform::Uuid::parse(*v.string()).value_or(platform::Uuid());
    w.record(0x05, Bytes(uuid.bytes().begin(), uuid.bytes().end()));
  }
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneNamespaceIDKey); v.bytes()) w.record(0x09, *v.bytes());
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneInstanceIDKey); v.bytes()) w.record(0x0A, *v.bytes());
  if (!numbers({{KSSettingsUpdatePrivacyDurationKey, 0x06, true},
                     {KSSettingsUpdateMeasuredPowerKey, 0x02, false},
                     {KSSettingsUpdateLoudnessLevelKey, 0x00, false},
                     {KSSettingsUpdateTargetSpeedInMillisecondsKey, 0x01, true},
                     {KSSettingsUpdateBeaconModeIDKey, 0x08, false}})) {
    return invalid(badKey);
  }
  if (const Value& v = lookup(s, KSSettingsUpdateLocalNameShortKey); v.string()) {
    w.record(0x1B, Bytes(v.string()->begin(), v.string()->end()));
  }
  if (const Value& v = lookup(s, KSSettingsUpdateEddystoneURLKey); v.string()) {
    w.record(0x0B, *KSEddystoneDefinitions::dataForNSURL(*v.string()));
  }
  if (const Value& v = lookup(s, KSSettingsUpdateAdSchemaKey); !v.isAbsent()) {
    if (!v.bytes()) return invalid(KSSettingsUpdateAdSchemaKey);
    w.record(0x0D, *v.bytes());
  }
  if (const Value& v = lookup(s, KSSettingsUpdateAdAndBurstTableSchemaKey); !v.isAbsent()) {
    const Value& ad = v[ad_schema::KSAdDataTableKey];
    const Value& burst = v[ad_schema::KSBurstDataTableKey];
    if (!v.dict() || !ad.bytes() || !burst.bytes()) return invalid(KSSettingsUpdateAdAndBurstTableSchemaKey);
    w.record(0x0D, *ad.bytes());
    w.record(0x1D, *burst.bytes());
  }
  if (!numbers({{KSSettingsUpdateAdChannelsKey, 0x1C, false}, {KSSettingsUpdateVersionKey, 0x07, false}})) {
    return invalid(badKey);
  }

  const std::size_t total = w.records.size() + 4;
  const std::size_t padded = (total + 15) / 16 * 16;
  Bytes out = u16(static_cast<std::int64_t>(total));
  const Bytes count = u16(static_cast<std::int64_t>(w.count));
  out.insert(out.end(), count.begin(), count.end());
  out.insert(out.end(), w.records.begin(), w.records.end());
  // Too long to number in one-byte chunks (and for the u16 length fields).
  if (padded > kMaximumPayloadLength) {
    fail(error, settings_blob::wrongLengthMessage(out));
    return std::nullopt;
  }
  out.resize(padded, 0x00);
  return out;
}

std::optional<Bytes> CMAC(const Bytes& message, const Bytes& key, Error* error) {
  if (message.empty() || message.size() % 16 != 0 || key.size() != 16) {
    if (error) *error = Error(std::string(KSErrorDomain), -1, "CMAC Message Length required to be multiple of 16 bytes");
    return std::nullopt;
  }
  Error cryptoError;
  auto tag = platform::crypto::aesCmac(key, message, &cryptoError);
  if (!tag) {
    if (error) *error = Error(std::string(KSErrorDomain), cryptoError.code, "Failed CMAC - tagOut AES-ECB");
    return std::nullopt;
  }
  return Bytes(tag->begin(), tag->end());
}

std::optional<KSOfflineEncryptedSettings> encryptedSettings(const Dict& settings, const Bytes& bulkKey,
                                                            const Bytes& cmacKey, const Bytes& iv, Error* error) {
  if (cmacKey.size() != 16) return fail(error, "CMAC key required size 16 bytes"), std::nullopt;
  if (bulkKey.size() != 16) return fail(error, "Bulk key required size 16 bytes"), std::nullopt;
  if (iv.size() != 16) return fail(error, "Init vector required size 16 bytes"), std::nullopt;
  KSOfflineEncryptedSettings out;
  auto payload = unencryptedSettingsData(settings, error);
  if (!payload) return std::nullopt;
  out.unencrypted = std::move(*payload);
  Error cryptoError;
  auto ciphertext = platform::crypto::aes128CbcEncrypt(bulkKey, iv, out.unencrypted, platform::crypto::AesPadding::None,
                                                       &cryptoError);
  if (!ciphertext) {
    if (error) *error = Error(std::string(KSErrorDomain), cryptoError.code, "Failed Encrypted Settings AES-CBC");
    return std::nullopt;
  }
  out.encrypted.assign(ciphertext->begin(), ciphertext->end());
  out.initialVector = iv;
  Bytes message = iv;
  message.insert(message.end(), out.encrypted.begin(), out.encrypted.end());
  auto mac = CMAC(message, cmacKey, error);
  if (!mac) return std::nullopt;
  out.mac = std::move(*mac);
  return out;
}

}  // namespace offline_settings
}  // namespace velmora::kestrine
