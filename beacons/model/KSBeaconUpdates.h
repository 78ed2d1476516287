#pragma once

#include <cstdint>
#include <string>

namespace velmora::kestrine {

class KSBeacon;

// What a beacon record says about its own updates over Bluetooth.
namespace beacon_updates {

// Availability of an update: 0 undetermined (not discovered over Bluetooth, or not
// synced), 1 not supported by the beacon, 2 possible.
std::int64_t settingsUpdateAvailabilityStatus(const KSBeacon& beacon);

// The same for a firmware update, read from the firmware bits (13, 14, 15).
std::int64_t firmwareUpdateAvailabilityStatus(const KSBeacon& beacon);

// True when a settings update is possible and due: a pending version is waiting, or the
// settings version the beacon advertises differs from the recorded one. The flag is not
// read.
bool shouldUpdateSettingsCrowdSourced(const KSBeacon& beacon, bool crowdSourced);

// True when a firmware update is possible and due: the beacon advertises other firmware than
// the latest, or it advertises the latest while its record does not say so and no settings
// version is pending. Firmware ids compare ignoring case.
bool shouldUpdateFirmware(const KSBeacon& beacon);

// A settings update due, else a firmware update due.
bool shouldUpdate(const KSBeacon& beacon);

// The names of the feature bits set, in bit order, each followed by one blank.
std::string featureSupportDebug(std::uint32_t featureBitmask);
std::string featureSupportDebug(const KSBeacon& beacon);

}  // namespace beacon_updates
}  // namespace velmora::kestrine
