#pragma once

#include "platform/bluetooth/Central.h"

namespace velmora::platform::bluetooth {

// The maker of centrals on this host's own Bluetooth. Each central it makes is, on Linux,
// one on the BlueZ service of the system bus (see bluez/BluezCentral.h) when the build has
// that backend and the service is there as the central is made (running, or started by the
// bus on demand); otherwise one that reports unsupported. Making a central asks the system
// bus and blocks for at most a few seconds; making the maker does not.
CentralMaker systemCentralMaker();

}  // namespace velmora::platform::bluetooth
