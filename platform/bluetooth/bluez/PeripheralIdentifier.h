#pragma once

#include <string_view>

#include "platform/core/Uuid.h"

namespace velmora::platform::bluetooth::bluez {

// A name-based UUID (version 5: SHA-1 of the namespace's bytes and the name).
Uuid nameBasedUuid(const Uuid& nameSpace, std::string_view name);

// The identifier a central on this host gives a remote device: the same for one device
// address heard through one adapter (the adapter's own address, in either case), across
// centrals and runs; different for another adapter.
Uuid peripheralIdentifier(std::string_view adapterAddress, std::string_view deviceAddress);

}  // namespace velmora::platform::bluetooth::bluez
