#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeaconVersion;

inline constexpr std::string_view KSDefaultBeaconProximityUUIDString = "00000000-0000-0000-0000-000000000000";

// The three version lines a beacon with the legacy settings update takes on Control, each the
// opcode byte and its data (little-endian numbers, every field cut to its width):
//   0D: loudness level, target speed (u16), measured power, mode id, major (u16), minor (u16),
//       10000 (u16), privacy duration (u16)
//   0E: the 16 proximity UUID bytes
//   0F: the settings version number (low byte)
namespace legacy_settings {

// The version's own measured power, else its loudness record's, else 0; the low byte.
std::uint8_t measuredPowerAt1MeterWithBeaconVersion(const KSBeaconVersion& version);

platform::Bytes versionLine1(std::uint8_t loudness, std::uint16_t targetSpeed, std::uint8_t measuredPower,
                             std::uint8_t beaconMode, std::uint16_t major, std::uint16_t minor,
                             std::uint16_t privacyDuration);
platform::Bytes versionLine1(const KSBeaconVersion& version);
// The default UUID for an absent or empty text; nullopt for a text that is no UUID, so the
// line always carries exactly 16 bytes.
std::optional<platform::Bytes> versionLine2(const std::optional<std::string>& proximityUUIDString);
platform::Bytes versionLine3(std::uint8_t version);
platform::Bytes versionLine3(const KSBeaconVersion& version);

// Hex digits two at a time after removing every "-" (an odd last digit read alone); nullopt
// for a character that is no hex digit.
std::optional<platform::Bytes> dataFromHexString(std::string_view text);

}  // namespace legacy_settings
}  // namespace velmora::kestrine
