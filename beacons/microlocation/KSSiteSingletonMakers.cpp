#include "beacons/ranging/KSSiteSingletonMakers.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSEventManagerAdapters.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSRangingServicePorts.h"

namespace velmora::kestrine {
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
  // The API operation manager caches what its site syncs bring in the site manager, and asks
  // it whether the app's sites are due; without it every sync of the app's sites is
  // cancelled before it starts. Like the hub for beacon syncs, the site manager is found
  // only once the SDK has made it: a sync result arriving earlier makes neither it nor the
  // hub. A cache installed first (a test's) is kept.
  KSSiteManagerInternal::installMaker(provider, {}, [](KSInstanceProvider& p,
                                                       const std::shared_ptr<KSSiteManagerInternal>& made) {
    if (p.hasMaker(KSApiSiteCacheSingletonName) || p.hasSingleton(KSApiSiteCacheSingletonName)) return;
    std::weak_ptr<KSSiteManagerInternal> weak = made;
    p.installMaker<KSApiSiteCachePort>(std::string(KSApiSiteCacheSingletonName),
                                       [weak](KSInstanceProvider&) -> std::shared_ptr<KSApiSiteCachePort> {
                                         return weak.lock();
                                       });
  });
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

}  // namespace velmora::kestrine
