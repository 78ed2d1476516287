#include "beacons/configuration/KSLegacySettingsLines.h"

#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconVersion.h"
#include "beacons/model/KSTargetSpeed.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine::legacy_settings {

using platform::Bytes;

namespace {

void le16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::uint8_t measuredPowerAt1MeterWithBeaconVersion(const KSBeaconVersion& version) {
  if (auto power = version.measuredPowerAt1Meter()) return static_cast<std::uint8_t>(*power & 0xFF);
  if (const auto& loudness = version.beaconLoudness()) {
    return static_cast<std::uint8_t>(loudness->measuredPowerAt1Meter() & 0xFF);
  }
  return 0;
}

Bytes versionLine1(std::uint8_t loudness, std::uint16_t targetSpeed, std::uint8_t measuredPower, std::uint8_t beaconMode,
                   std::uint16_t major, std::uint16_t minor, std::uint16_t privacyDuration) {
  Bytes out{0x0D, loudness};
  le16(out, targetSpeed);
  out.push_back(measuredPower);
  out.push_back(beaconMode);
  le16(out, major);
  le16(out, minor);
  le16(out, 10000);
  le16(out, privacyDuration);
  return out;
}

Bytes versionLine1(const KSBeaconVersion& v) {
  const auto& loudness = v.beaconLoudness();
  const auto& speed = v.targetSpeed();
  const auto& mode = v.beaconMode();
  return versionLine1(static_cast<std::uint8_t>(loudness ? loudness->level() & 0xFF : 0),
                      static_cast<std::uint16_t>(speed ? speed->milliseconds() & 0xFFFF : 0),
                      measuredPowerAt1MeterWithBeaconVersion(v),
                      static_cast<std::uint8_t>(mode ? mode->beaconModeID() & 0xFF : 0), v.major().value_or(0),
                      v.minor().value_or(0), static_cast<std::uint16_t>(v.privacyDuration().value_or(0) & 0xFFFF));
}

std::optional<Bytes> versionLine2(const std::optional<std::string>& text) {
  const std::string_view uuid =
      text && !text->empty() ? std::string_view(*text) : KSDefaultBeaconProximityUUIDString;
  // Only a real UUID makes 16 bytes; anything else would write a short or long line.
  if (!platform::Uuid::parse(uuid)) return std::nullopt;
  auto bytes = dataFromHexString(uuid);
  if (!bytes) return std::nullopt;
  Bytes out{0x0E};
  out.insert(out.end(), bytes->begin(), bytes->end());
  return out;
}

Bytes versionLine3(std::uint8_t version) { return Bytes{0x0F, version}; }

Bytes versionLine3(const KSBeaconVersion& v) { return versionLine3(static_cast<std::uint8_t>(v.version().value_or(0) & 0xFF)); }

std::optional<Bytes> dataFromHexString(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != '-') digits.push_back(c);
  }
  Bytes out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = hexDigit(digits[i]);
    if (hi < 0) return std::nullopt;
    if (i + 1 == digits.size()) {
      out.push_back(static_cast<std::uint8_t>(hi));
      break;
    }
    const int lo = hexDigit(digits[i + 1]);
    if (lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace velmora::kestrine::legacy_settings
