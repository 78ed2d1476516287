// The cloud's firmware answers as the firmware updates read them, from the input: the first
// byte picks the reply, the rest is its text.
//   0: a firmware record and a future-settings reply (JSON): the record's fields read with
//      their kinds, the blob cut only when it holds IV, bulk and MAC and its bulk can be
//      numbered;
//   1: a HEX reply: the first line is the "Firmware-Header-Length" value, the rest the reply;
//      the cut stays inside the reply and the records carry every body byte;
//   2: a "Content-Disposition" value: the file name never leaves the documents folder;
//   3: a polled status (JSON) stored as the beacon's status advertisement and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconUpdateDownloads.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "platform/core/Json.h"
#include "platform/crypto/Base64.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Value;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void records(std::string_view text) {
  const auto reply = velmora::platform::json::parse(text);
  if (!reply) return;
  const Value& firmware = (*reply)["firmware"];
  (void)KSBeaconFirmwareUpdateOperation::recordText(firmware, "version");
  (void)KSBeaconFirmwareUpdateOperation::recordText(firmware, "otaFileHash");
  (void)KSBeaconFirmwareUpdateOperation::recordFeatureBitmask(firmware);
  const Value& settings = (*reply)["settings"];
  if (const auto* s = settings.string()) {
    if (const auto blob = velmora::platform::crypto::base64Decode(*s)) {
      const auto cut = KSBeaconFirmwareUpdateOperation::cutFutureSettings(*blob);
      check(cut.has_value() == (blob->size() >= 33 && blob->size() - 32 <= KSFirmwareFutureSettingsMaxBulk));
      if (cut) check(cut->iv.size() == 16 && cut->mac.size() == 16 && cut->bulk.size() == blob->size() - 32);
    }
  }
}

void hexReply(std::string_view text) {
  const auto newline = text.find('\n');
  const std::optional<std::string> field =
      newline == std::string_view::npos ? std::nullopt : std::optional<std::string>(text.substr(0, newline));
  const std::string_view reply = newline == std::string_view::npos ? text : text.substr(newline + 1);
  const auto length = KSBeaconFirmwareEncryptedUpdateOperation::headerLength(field, reply.size());
  if (!length) return;
  check(*length <= reply.size());
  const Bytes body(reply.begin() + static_cast<std::ptrdiff_t>(*length), reply.end());
  const Bytes recs = KSBeaconFirmwareEncryptedUpdateOperation::records(body);
  check(recs.size() == body.size() + 2 * ((body.size() + 15) / 16));
}

void disposition(std::string_view text) {
  const std::string name = beacon_updates::hexFileName("M", std::string(text), "1.2.0");
  check(name.rfind("M_", 0) == 0);
  check(name.find('/') == std::string::npos && name.find('\\') == std::string::npos);
  check(name.find('\0') == std::string::npos);
  check(name != "M_." && name != "M_..");
}

void polledStatus(std::string_view text) {
  const auto status = velmora::platform::json::parse(text);
  if (!status) return;
  KSBeacon beacon;
  Value ad = Value::makeDict({{std::string(KSAdDataTypeKey), std::string(KSAdDataTypeEncryptedStatusKey)}});
  ad.set(KSAdDataEncryptedStatusKey, *status);
  beacon.setAdData(ad, KSAdDataTypeEncryptedStatusKey);
  static constexpr std::string_view kTypes[] = {KSAdDataTypeEncryptedStatusKey};
  (void)beacon.objectFromLatestAdDataForKey(KSAdDataEncryptedStatusKey, kTypes);
  beacon.removeAllAdData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: records(text); break;
    case 1: hexReply(text); break;
    case 2: disposition(text); break;
    default: polledStatus(text); break;
  }
  return 0;
}
