#include "beacons/configuration/KSAdSchema.h"

#include "beacons/model/KSBeaconMode.h"

namespace velmora::kestrine::ad_schema {

std::uint16_t adSchemaTargetSpeed(std::uint16_t t) {
  const unsigned factor = t < 51 ? 5 : t <= 200 ? 3 : t <= 400 ? 2 : 1;
  return static_cast<std::uint16_t>(factor * t);
}

platform::Bytes adSchemaForModeId(std::int64_t modeID, std::uint16_t targetSpeed) {
  const std::uint16_t T = adSchemaTargetSpeed(targetSpeed);
  const auto hi = static_cast<std::uint8_t>(T >> 8);
  const auto lo = static_cast<std::uint8_t>(T & 0xFF);
  platform::Bytes t{0x00, 0x17, 0x04, 0x00, 0x13, 0x88, 0x00, 0x00, 0x00, hi,   lo,   0x00,
                    0x00, 0x00, 0x13, 0x88, 0x00, 0x00, 0x00, hi,   lo,   0x00, 0x00};
  switch (modeID) {
    case KSBeaconModeIDSecure:
      t[1] = 0x0D, t[2] = 0x02, t[8] = 0x0B;
      break;
    case KSBeaconModeIDIBeacon:
      t[1] = 0x0D, t[2] = 0x02, t[3] = 0x01, t[8] = 0x02;
      break;
    case KSBeaconModeIDIBeaconPlusSecure:
      t[1] = 0x0D, t[2] = 0x02, t[3] = 0x01;
      break;
    case KSBeaconModeIDUID:
      t[3] = 0x07, t[8] = 0x0B, t[13] = 0x07;
      break;
    case KSBeaconModeIDURL:
      t[3] = 0x09, t[8] = 0x0B, t[13] = 0x09;
      break;
    case KSBeaconModeIDNewborn:
      t[1] = 0x08, t[2] = 0x01, t[3] = 0x0C;
      break;
    case KSBeaconModeIDIBeaconPlusUID:
      // Both frames at a fixed 500 ms, whatever the target speed.
      t[3] = 0x01, t[4] = 0x01, t[5] = 0xF4, t[8] = 0x07, t[9] = 0x01, t[10] = 0xF4;
      t[13] = 0x01, t[14] = 0x01, t[15] = 0xF4, t[19] = 0x01, t[20] = 0xF4;
      break;
    default:
      break;
  }
  return t;
}

platform::Bytes burstTableForModeId(std::int64_t modeID) {
  platform::Bytes t{0x00, 0x0D, 0x02, 0x00, 0x01, 0xF4, 0x00, 0x32, 0x0D, 0x01, 0xF4, 0x00, 0x32};
  if (modeID == KSBeaconModeIDIBeacon) t[3] = 0x02;
  if (modeID == KSBeaconModeIDNewborn) t[3] = 0x0C;
  return t;
}

platform::Dict adAndBurstTablesForModeId(std::int64_t modeID, std::uint16_t targetSpeed) {
  platform::Dict d;
  d[std::string(KSAdDataTableKey)] = adSchemaForModeId(modeID, targetSpeed);
  d[std::string(KSBurstDataTableKey)] = burstTableForModeId(modeID);
  return d;
}

}  // namespace velmora::kestrine::ad_schema
