#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "beacons/bluetooth/KSAdData.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

struct KSServiceDataEntry;

// Frame kind of Eddystone service data, decided by its first byte.
enum KSEddystoneFrameType : int {
  KSEddystoneFrameTypeUnknown = 0,  // any other first byte, fewer than 2 bytes, or no "FEAA" entry
  KSEddystoneFrameTypeUID = 1,      // 0x00
  KSEddystoneFrameTypeTLM = 2,      // 0x20
  KSEddystoneFrameTypeURL = 3,      // 0x10
  KSEddystoneFrameTypeEID = 4,      // 0x30
  KSEddystoneFrameTypeUnparsed = 5, // 0x40: recognised, not parsed
};

struct KSEddystoneUIDFrameField {
  std::uint8_t frameType = 0;
  std::int8_t txPower = 0;  // at 0 m, dBm
  std::array<std::uint8_t, 10> namespaceID{};
  std::array<std::uint8_t, 6> instanceID{};
};

struct KSEddystoneURLFrameField {
  std::uint8_t frameType = 0;
  std::int8_t txPower = 0;
  std::uint8_t scheme = 0;
  std::span<const std::uint8_t> encodedURL;  // a view into the frame it was read from
};

struct KSEddystoneTelFrameField {
  std::uint8_t frameType = 0;
  std::uint8_t version = 0;
  std::array<std::uint8_t, 2> batteryVoltage{};
  std::array<std::uint8_t, 2> temperature{};
  std::uint32_t advertisementCount = 0;
  std::array<std::uint8_t, 4> uptime{};
};

struct KSEddystoneEIDFrameField {
  std::uint8_t frameType = 0;
  std::int8_t txPower = 0;
  std::array<std::uint8_t, 8> ephemeralID{};
};

// The Eddystone frames under service "FEAA": the frame-type rule, field extraction per kind,
// the URL scheme and expansion codes both ways, and the measured-power rule.
class KSEddystoneDefinitions {
 public:
  static std::string_view serviceUUID() { return "FEAA"; }
  // True for "FEAA" or its 128-bit form, in any letter case.
  static bool isServiceUUID(std::string_view uuid);

  // Looks up the "FEAA" entry itself.
  static KSEddystoneFrameType frameTypeForFrame(std::span<const KSServiceDataEntry> serviceData);
  static KSEddystoneFrameType frameTypeForFrameData(std::span<const std::uint8_t> frame);

  // True when the first byte and the length are right for the kind, with the record filled.
  static bool getFrameField(KSEddystoneUIDFrameField& field, std::span<const std::uint8_t> frame);
  static bool getFrameField(KSEddystoneURLFrameField& field, std::span<const std::uint8_t> frame);
  static bool getFrameField(KSEddystoneTelFrameField& field, std::span<const std::uint8_t> frame);
  static bool getFrameField(KSEddystoneEIDFrameField& field, std::span<const std::uint8_t> frame);

  static KSAdData dictionaryFromUIDFrameFields(const KSEddystoneUIDFrameField& field);
  static KSAdData dictionaryFromURLFrameFields(const KSEddystoneURLFrameField& field);
  static KSAdData dictionaryFromTelFrameFields(const KSEddystoneTelFrameField& field);
  static KSAdData dictionaryFromEIDFrameFields(const KSEddystoneEIDFrameField& field);

  // Texts by code: the scheme prefixes (codes 0-3) and the expansions (codes 0-13).
  static std::span<const std::string_view> URLSchemePrefixMap();
  static std::span<const std::string_view> URLDomainMap();

  // The URL text of a scheme code and encoded bytes: the scheme's prefix (none for an unknown
  // code), then each byte's expansion or the byte itself. Control and non-ASCII bytes come
  // out percent-encoded ("%0E", "%C3"), so the text is always printable ASCII.
  static std::string decodeURL(std::uint8_t scheme, std::span<const std::uint8_t> encoded);

  // The Eddystone-URL bytes of an absolute URL text: the first scheme code whose prefix
  // begins it (letter case significant), then the rest with the first occurrence of each
  // expansion replaced by its code, codes tried in ascending order. Nothing for another
  // scheme, and nothing for text holding a space, a control byte or a non-ASCII byte (no
  // absolute URL does, and a byte 0x00-0x0D would read back as an expansion). No length
  // limit is applied.
  static std::optional<platform::Bytes> dataForNSURL(std::string_view absoluteURL);

  static int measuredPowerAt1MeterFromTxPower(int txPower) { return txPower - 41; }
};

// Tests on an advertisement-data record that the central client uses to filter UID frames.
namespace eddyStoneAdData {
bool isEddyStoneUIDAdData(const KSAdData& adData);
// True when the record's namespace is not empty, the list is not empty, and some entry
// equals the namespace ignoring letter case.
bool isInCachedBeaconRegionNameSpaceArray(const KSAdData& adData, std::span<const std::string> namespaces);
}  // namespace eddyStoneAdData

}  // namespace velmora::kestrine
