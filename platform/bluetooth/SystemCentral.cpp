#include "platform/bluetooth/SystemCentral.h"

#ifdef VELMORA_HAVE_BLUEZ
#include "platform/bluetooth/bluez/BluezCentral.h"
#endif

namespace velmora::platform::bluetooth {

CentralMaker systemCentralMaker() {
#ifdef VELMORA_HAVE_BLUEZ
  return CentralMaker([](std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                         CentralOptions options) {
    bluez::BluezOptions probe;
    probe.callTimeout = std::chrono::seconds(3);
    const CentralMaker maker =
        bluez::bluezServiceAvailable(probe) ? bluez::bluezCentralMaker() : unsupportedCentralMaker();
    return maker(std::move(delegate), std::move(queue), options);
  });
#else
  return unsupportedCentralMaker();
#endif
}

}  // namespace velmora::platform::bluetooth
