// The offline payload builder from dictionaries made of the input: every key of the settings
// family (and one it does not know), each with a value of any kind, tables of any length. A
// payload is whole blocks, at most 4,096 bytes, and its header counts what follows; the
// encryption of an accepted dictionary always succeeds and keeps the length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "beacons/configuration/KSAdSchema.h"
#include "beacons/configuration/KSOfflineSettingsData.h"
#include "beacons/configuration/KSSettingsKeys.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Value;

namespace {

const std::string_view kKeys[] = {
    KSSettingsUpdateNewPasscodeKey, KSSettingsUpdateAuthKeyKey, KSSettingsUpdateSecurityTypeKey, KSSettingsUpdateMinorKey,
    KSSettingsUpdateMajorKey, KSSettingsUpdateProximityUUIDStringKey, KSSettingsUpdateEddystoneNamespaceIDKey,
    KSSettingsUpdateEddystoneInstanceIDKey, KSSettingsUpdatePrivacyDurationKey, KSSettingsUpdateMeasuredPowerKey,
    KSSettingsUpdateLoudnessLevelKey, KSSettingsUpdateTargetSpeedInMillisecondsKey, KSSettingsUpdateBeaconModeIDKey,
    KSSettingsUpdateLocalNameShortKey, KSSettingsUpdateEddystoneURLKey, KSSettingsUpdateAdSchemaKey,
    KSSettingsUpdateAdAndBurstTableSchemaKey, KSSettingsUpdateAdChannelsKey, KSSettingsUpdateVersionKey,
    KSSettingsUpdateCurrentPasscodeKey, "SomeOtherKey"};

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool empty() const { return at >= size; }
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  Bytes bytes() {
    std::size_t n = byte();
    if (n == 0xFF) n = 16 * byte() * 2;  // long tables, up to 8 KiB
    n = std::min(n, size - std::min(at, size));
    Bytes out(data + at, data + at + n);
    at += n;
    return out;
  }
};

Value valueOf(Reader& r) {
  switch (r.byte() % 9) {
    case 0: {
      std::int64_t v = 0;
      for (int i = 0; i < 8; ++i) v = (v << 8) | r.byte();
      return v;
    }
    case 1: {
      std::uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v = (v << 8) | r.byte();
      return v;
    }
    case 2: {
      const Bytes b = r.bytes();
      double d = 0;
      if (b.size() >= sizeof d) std::memcpy(&d, b.data(), sizeof d);
      return d;
    }
    case 3: {
      const Bytes b = r.bytes();
      return std::string(b.begin(), b.end());
    }
    case 4: return r.bytes();
    case 5: return (r.byte() & 1) != 0;
    case 6: {
      Value d = Value::makeDict();
      if (r.byte() & 1) d.set(ad_schema::KSAdDataTableKey, r.bytes());
      if (r.byte() & 1) d.set(ad_schema::KSBurstDataTableKey, r.bytes());
      return d;
    }
    case 7: return Value::makeArray({r.bytes()});
    default: return Value(velmora::platform::Null{});
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader r{data, size};
  velmora::platform::Dict settings;
  while (!r.empty()) {
    const auto key = kKeys[r.byte() % std::size(kKeys)];
    settings[std::string(key)] = valueOf(r);
  }
  velmora::platform::Error error;
  auto payload = offline_settings::unencryptedSettingsData(settings, &error);
  if (!payload) {
    if (error.localizedDescription.empty()) std::abort();
    return 0;
  }
  if (payload->empty() || payload->size() % 16 != 0 || payload->size() > offline_settings::kMaximumPayloadLength) std::abort();
  const std::size_t total = (static_cast<std::size_t>((*payload)[0]) << 8) | (*payload)[1];
  if (total < 4 || total > payload->size() || payload->size() - total >= 16) std::abort();
  const Bytes key(16, 0x5A);
  auto encrypted = offline_settings::encryptedSettings(settings, key, key, Bytes(16, 0x01), &error);
  if (!encrypted || encrypted->encrypted.size() != payload->size() || encrypted->mac.size() != 16) std::abort();
  return 0;
}
