#pragma once

#include <functional>
#include <memory>
#include <string>

#include "beacons/microlocation/KSEventManagerPorts.h"

namespace velmora::kestrine {

class KSApiOperationManager;
class KSApiSiteCachePort;
class KSInstanceProvider;
class KSLocalStorageManager;

// The event manager's store over the SDK's storage manager: trigger summaries and logged
// events. The manager is looked up at every call, so the adapter can be made before the
// store is; without one, writes do nothing, lookups answer nothing and the unposted-events
// fetch succeeds with none.
class KSEventStorageAdapter final : public KSEventStore {
 public:
  using StorageGetter = std::function<std::shared_ptr<KSLocalStorageManager>()>;
  explicit KSEventStorageAdapter(StorageGetter storage);
  explicit KSEventStorageAdapter(std::shared_ptr<KSLocalStorageManager> storage);

  bool localStorageEnabled() override;
  std::shared_ptr<KSEventSummary> eventSummaryForIdentifier(const std::string& eventIdentifier) override;
  void storeEventSummary(const KSEventSummary& summary) override;
  void storeEvent(const std::shared_ptr<KSEvent>& event) override;
  void deleteEventsThatBeganBeforeDate(platform::Date date, std::uint64_t limit) override;
  // The rows read on the store's queue; success runs there.
  void fetchUnpostedEvents(std::function<void(Events)> success,
                           std::function<void(platform::Error)> failure) override;

 private:
  StorageGetter storage_;
};

// Hands logged events to the cloud API operation manager, which posts them in batches and
// marks each one's stored row posted. The manager is looked up at every post; while there is
// none (the SDK has not made it yet) the event is not queued, and stays unposted in the store
// for the next launch.
class KSEventOperationPoster final : public KSEventPoster {
 public:
  using ManagerGetter = std::function<std::shared_ptr<KSApiOperationManager>()>;
  explicit KSEventOperationPoster(ManagerGetter manager);
  void postEvent(const std::shared_ptr<KSEvent>& event) override;

 private:
  ManagerGetter manager_;
};

// The cached sites of the site manager, looked up at every call; none while there is no
// site manager.
class KSEventSiteManagerSource final : public KSEventSiteSource {
 public:
  using SitesGetter = std::function<std::shared_ptr<KSApiSiteCachePort>()>;
  explicit KSEventSiteManagerSource(SitesGetter sites);
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) override;

 private:
  SitesGetter sites_;
};

// What every event manager made on a registry uses unless given its own: the registry's
// storage manager (made on first use, as every store client of the registry does), its API
// operation manager and its site manager. The operation and site managers are only used
// once the SDK has made them: making an event manager creates neither.
struct KSEventRegistryPorts {
  std::shared_ptr<KSEventSiteSource> sites;
  std::shared_ptr<KSEventStore> store;
  std::shared_ptr<KSEventPoster> poster;
};
KSEventRegistryPorts KSEventRegistryPortsFor(KSInstanceProvider& provider);

// Installs the registry's event manager, on the registry's ports (above). A maker already
// installed (a test's), or a manager already made, is kept.
void installEventManagerMaker(KSInstanceProvider& provider);

}  // namespace velmora::kestrine
