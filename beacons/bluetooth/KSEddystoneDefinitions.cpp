#include "beacons/bluetooth/KSEddystoneDefinitions.h"

#include <algorithm>
#include <cstring>

#include "beacons/bluetooth/AdData.h"
#include "beacons/bluetooth/HexText.h"
#include "platform/core/AsciiText.h"

namespace velmora::kestrine {
namespace {

constexpr std::array<std::string_view, 4> kSchemes = {"http://www.", "https://www.", "http://", "https://"};
constexpr std::array<std::string_view, 14> kExpansions = {
    ".com/", ".org/", ".edu/", ".net/", ".info/", ".biz/", ".gov/",
    ".com",  ".org",  ".edu",  ".net",  ".info",  ".biz",  ".gov",
};

bool isControlOrNonAscii(std::uint8_t b) { return b < 0x20 || b >= 0x7F; }

// Writes the decoded URL to out when it is not null; returns its length either way.
std::size_t decodeInto(std::uint8_t scheme, std::span<const std::uint8_t> encoded, char* out) {
  std::size_t n = 0;
  auto put = [&](std::string_view s) {
    if (out) std::memcpy(out + n, s.data(), s.size());
    n += s.size();
  };
  if (scheme < kSchemes.size()) put(kSchemes[scheme]);
  for (std::uint8_t b : encoded) {
    if (b < kExpansions.size()) {
      put(kExpansions[b]);
    } else if (isControlOrNonAscii(b)) {
      const char escaped[3] = {'%', hextext::kUpper[b >> 4], hextext::kUpper[b & 0x0F]};
      put(std::string_view(escaped, 3));
    } else {
      const char c = static_cast<char>(b);
      put(std::string_view(&c, 1));
    }
  }
  return n;
}

}  // namespace

bool KSEddystoneDefinitions::isServiceUUID(std::string_view uuid) {
  return platform::equalsIgnoringAsciiCase(uuid, "FEAA") ||
         platform::equalsIgnoringAsciiCase(uuid, "0000FEAA-0000-1000-8000-00805F9B34FB");
}

KSEddystoneFrameType KSEddystoneDefinitions::frameTypeForFrame(std::span<const KSServiceDataEntry> serviceData) {
  for (const auto& entry : serviceData) {
    if (isServiceUUID(entry.serviceUUID)) return frameTypeForFrameData(entry.data);
  }
  return KSEddystoneFrameTypeUnknown;
}

KSEddystoneFrameType KSEddystoneDefinitions::frameTypeForFrameData(std::span<const std::uint8_t> frame) {
  if (frame.size() < 2) return KSEddystoneFrameTypeUnknown;
  switch (frame[0]) {
    case 0x00:
      return KSEddystoneFrameTypeUID;
    case 0x20:
      return KSEddystoneFrameTypeTLM;
    case 0x10:
      return KSEddystoneFrameTypeURL;
    case 0x30:
      return KSEddystoneFrameTypeEID;
    case 0x40:
      return KSEddystoneFrameTypeUnparsed;
    default:
      return KSEddystoneFrameTypeUnknown;
  }
}

bool KSEddystoneDefinitions::getFrameField(KSEddystoneUIDFrameField& f, std::span<const std::uint8_t> d) {
  if ((d.size() != 18 && d.size() != 20) || d[0] != 0x00) return false;
  f.frameType = d[0];
  f.txPower = static_cast<std::int8_t>(d[1]);
  std::copy_n(d.begin() + 2, 10, f.namespaceID.begin());
  std::copy_n(d.begin() + 12, 6, f.instanceID.begin());
  return true;
}

bool KSEddystoneDefinitions::getFrameField(KSEddystoneURLFrameField& f, std::span<const std::uint8_t> d) {
  if (d.size() < 3 || d[0] != 0x10) return false;
  f.frameType = d[0];
  f.txPower = static_cast<std::int8_t>(d[1]);
  f.scheme = d[2];
  f.encodedURL = d.subspan(3);
  return true;
}

bool KSEddystoneDefinitions::getFrameField(KSEddystoneTelFrameField& f, std::span<const std::uint8_t> d) {
  if (d.size() != 14 || d[0] != 0x20) return false;
  f.frameType = d[0];
  f.version = d[1];
  std::copy_n(d.begin() + 2, 2, f.batteryVoltage.begin());
  std::copy_n(d.begin() + 4, 2, f.temperature.begin());
  f.advertisementCount = static_cast<std::uint32_t>(d[6]) << 24 | static_cast<std::uint32_t>(d[7]) << 16 |
                         static_cast<std::uint32_t>(d[8]) << 8 | d[9];
  std::copy_n(d.begin() + 10, 4, f.uptime.begin());
  return true;
}

bool KSEddystoneDefinitions::getFrameField(KSEddystoneEIDFrameField& f, std::span<const std::uint8_t> d) {
  if (d.size() != 10 || d[0] != 0x30) return false;
  f.frameType = d[0];
  f.txPower = static_cast<std::int8_t>(d[1]);
  std::copy_n(d.begin() + 2, 8, f.ephemeralID.begin());
  return true;
}

KSAdData KSEddystoneDefinitions::dictionaryFromUIDFrameFields(const KSEddystoneUIDFrameField& f) {
  KSAdData ad(KSAdDataKind::EddystoneUID);
  char uid[32];
  hextext::write(f.namespaceID, uid, true);
  hextext::write(f.instanceID, uid + 20, true);
  ad.setText(KSAdDataField::EddystoneUIDString, std::string_view(uid, 32));
  ad.setText(KSAdDataField::EddystoneUIDNameSpace, std::string_view(uid, 20));
  ad.setInteger(KSAdDataField::TxPowerLevel, f.txPower);
  ad.setInteger(KSAdDataField::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromTxPower(f.txPower));
  return ad;
}

KSAdData KSEddystoneDefinitions::dictionaryFromURLFrameFields(const KSEddystoneURLFrameField& f) {
  KSAdData ad(KSAdDataKind::EddystoneURL);
  const std::size_t length = decodeInto(f.scheme, f.encodedURL, nullptr);
  char stackText[256];
  if (length <= sizeof stackText) {
    decodeInto(f.scheme, f.encodedURL, stackText);
    ad.setText(KSAdDataField::EddystoneURLString, std::string_view(stackText, length));
  } else {
    ad.setText(KSAdDataField::EddystoneURLString, decodeURL(f.scheme, f.encodedURL));
  }
  ad.setInteger(KSAdDataField::EddystoneURLScheme, f.scheme);
  ad.setInteger(KSAdDataField::TxPowerLevel, f.txPower);
  ad.setInteger(KSAdDataField::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromTxPower(f.txPower));
  return ad;
}

KSAdData KSEddystoneDefinitions::dictionaryFromTelFrameFields(const KSEddystoneTelFrameField& f) {
  KSAdData ad(KSAdDataKind::EddystoneTel);
  ad.setBytes(KSAdDataField::BatteryVoltageData, f.batteryVoltage);
  ad.setBytes(KSAdDataField::TempData, f.temperature);
  ad.setInteger(KSAdDataField::AdCount, f.advertisementCount);
  ad.setBytes(KSAdDataField::UptimeData, f.uptime);
  return ad;
}

KSAdData KSEddystoneDefinitions::dictionaryFromEIDFrameFields(const KSEddystoneEIDFrameField& f) {
  KSAdData ad(KSAdDataKind::EddystoneEID);
  char eid[16];
  hextext::write(f.ephemeralID, eid, false);
  ad.setText(KSAdDataField::EddystoneEIDString, std::string_view(eid, 16));
  ad.setInteger(KSAdDataField::TxPowerLevel, f.txPower);
  ad.setInteger(KSAdDataField::MeasuredPowerAt1Meter, measuredPowerAt1MeterFromTxPower(f.txPower));
  return ad;
}

std::span<const std::string_view> KSEddystoneDefinitions::URLSchemePrefixMap() { return kSchemes; }

std::span<const std::string_view> KSEddystoneDefinitions::URLDomainMap() { return kExpansions; }

std::string KSEddystoneDefinitions::decodeURL(std::uint8_t scheme, std::span<const std::uint8_t> encoded) {
  std::string text(decodeInto(scheme, encoded, nullptr), '\0');
  decodeInto(scheme, encoded, text.data());
  return text;
}

std::optional<platform::Bytes> KSEddystoneDefinitions::dataForNSURL(std::string_view url) {
  std::size_t scheme = 0;
  while (scheme < kSchemes.size() && !url.starts_with(kSchemes[scheme])) ++scheme;
  if (scheme == kSchemes.size()) return std::nullopt;
  const std::string_view rest = url.substr(kSchemes[scheme].size());
  for (char c : rest) {
    if (isControlOrNonAscii(static_cast<std::uint8_t>(c)) || c == ' ') return std::nullopt;
  }
  platform::Bytes out;
  out.reserve(rest.size() + 1);
  out.push_back(static_cast<std::uint8_t>(scheme));
  out.insert(out.end(), rest.begin(), rest.end());
  for (std::size_t code = 0; code < kExpansions.size(); ++code) {
    const std::string_view expansion = kExpansions[code];
    const auto at = std::search(out.begin() + 1, out.end(), expansion.begin(), expansion.end(),
                                [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
    if (at == out.end()) continue;
    *at = static_cast<std::uint8_t>(code);
    out.erase(at + 1, at + static_cast<std::ptrdiff_t>(expansion.size()));
  }
  return out;
}

namespace eddyStoneAdData {

bool isEddyStoneUIDAdData(const KSAdData& adData) { return adData.kind() == KSAdDataKind::EddystoneUID; }

bool isInCachedBeaconRegionNameSpaceArray(const KSAdData& adData, std::span<const std::string> namespaces) {
  const auto ns = adData.text(KSAdDataField::EddystoneUIDNameSpace);
  if (!ns || ns->empty() || namespaces.empty()) return false;
  return std::any_of(namespaces.begin(), namespaces.end(),
                     [&](const std::string& entry) { return platform::equalsIgnoringAsciiCase(entry, *ns); });
}

}  // namespace eddyStoneAdData
}  // namespace velmora::kestrine
