#pragma once

namespace velmora::kestrine {

class KSInstanceProvider;

// Installs the makers of every singleton the SDK itself makes (the hub, the location client,
// the region and session managers, the configurator with all its ports, the services, the
// site layer and the operation makers), each making the fully wired object.
//
// Every registry calls it once, as it is created, before anyone can ask it for anything: so
// whoever asks first (the SDK entry, a facade or a lane service the host made before
// starting the SDK, another singleton) gets the same object the SDK would make, and no
// accessor's own maker ever runs for these names. A test puts a fake in place by installing
// its maker after creating the registry; that replaces the standard one.
//
// Declared here for the registry and defined by the SDK entry, which sits above every class
// it wires.
void KSInstallStandardSingletonMakers(KSInstanceProvider& provider);

}  // namespace velmora::kestrine
