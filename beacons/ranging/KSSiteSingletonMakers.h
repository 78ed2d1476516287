#pragma once

namespace velmora::kestrine {

class KSInstanceProvider;

// Installs the registry makers of the site layer's singletons (the site manager, the visit
// tracker and the local-notification manager). The ranging layer's wiring calls it after
// its own makers; the site layer, which sits above ranging, defines it.
void installSiteSingletonMakers(KSInstanceProvider& provider);

}  // namespace velmora::kestrine
