#include "beacons/ranging/KSSiteSingletonMakers.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSEventManagerAdapters.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/ranging/KSRangingServicePorts.h"

namespace kestrine {
namespace {

// The SDK entry's events (its own analytics and the host's logEventWithIdentifier) go to the
// registry's event manager, which stores and posts them.
class EventManagerLogging final : public KSEventLogging {
 public:
  explicit EventManagerLogging(std::shared_ptr<KSEventManager> manager) : manager_(std::move(manager)) {}
  void logEvent(const std::shared_ptr<KSEvent>& event, int priority) override { manager_->logEvent(event, priority); }

 private:
  const std::shared_ptr<KSEventManager> manager_;
};

}  // namespace

void installSiteSingletonMakers(KSInstanceProvider& provider) {
  KSSiteManagerInternal::installMaker(provider);
  KSVisitTracker::installMaker(provider);
  KSLocalNotificationManager::installMaker(provider);
  installEventManagerMaker(provider);
  // A logger already installed (a test's) is kept.
  if (!provider.hasMaker(KSEventLogging::kSingletonName) && !provider.hasSingleton(KSEventLogging::kSingletonName)) {
    provider.installMaker<KSEventLogging>(std::string(KSEventLogging::kSingletonName), [](KSInstanceProvider& p) {
      return std::make_shared<EventManagerLogging>(KSEventManager::sharedManager(p));
    });
  }
}

}  // namespace kestrine
