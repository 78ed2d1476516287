#include "beacons/microlocation/KSEventManagerAdapters.h"

#include <utility>

#include "beacons/api/KSApiOperation.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/api/KSApiOperationPorts.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSSite.h"
#include "beacons/storage/KSLocalStorageManager.h"

namespace velmora::kestrine {

using platform::Value;
using platform::store::Predicate;

// --- the store

KSEventStorageAdapter::KSEventStorageAdapter(StorageGetter storage) : storage_(std::move(storage)) {}

KSEventStorageAdapter::KSEventStorageAdapter(std::shared_ptr<KSLocalStorageManager> storage)
    : storage_([storage = std::move(storage)] { return storage; }) {}

bool KSEventStorageAdapter::localStorageEnabled() {
  auto s = storage_();
  return s && s->localStorageEnabled();
}

std::shared_ptr<KSEventSummary> KSEventStorageAdapter::eventSummaryForIdentifier(const std::string& eventIdentifier) {
  auto s = storage_();
  return s ? s->eventSummaryForIdentifier(eventIdentifier) : nullptr;
}

void KSEventStorageAdapter::storeEventSummary(const KSEventSummary& summary) {
  if (auto s = storage_()) s->storeEventSummary(summary.copy());
}

void KSEventStorageAdapter::storeEvent(const std::shared_ptr<KSEvent>& event) {
  if (auto s = storage_()) s->storeEvent(event);
}

void KSEventStorageAdapter::deleteEventsThatBeganBeforeDate(platform::Date date, std::uint64_t limit) {
  if (auto s = storage_()) s->deleteManagedEventsFromObjectGraphThatBeganBeforeDate(date, limit);
}

void KSEventStorageAdapter::fetchUnpostedEvents(std::function<void(Events)> success,
                                                std::function<void(platform::Error)> failure) {
  auto s = storage_();
  if (!s) {
    if (success) success({});
    return;
  }
  s->fetchRecordsForEntitiesNamed(
      std::string(KSEventEntityName), Predicate::eq("lastPostedAt", Value()), {{"beganAt", true}},
      [success = std::move(success)](KSLocalStoragePort::Rows rows) {
        Events events;
        events.reserve(rows.size());
        for (const auto& row : rows) {
          if (!row) continue;
          if (auto event = row->toEvent()) events.push_back(std::move(event));
        }
        if (success) success(std::move(events));
      },
      [failure = std::move(failure)](platform::Error error) {
        if (failure) failure(std::move(error));
      });
}

// --- the cloud poster

namespace {

// An event as the operation manager posts it: its exported form, and the ID of its stored
// row, which the operation manager marks posted once the batch went through.
class EventPostable final : public KSApiPostable {
 public:
  explicit EventPostable(std::shared_ptr<KSEvent> event) : event_(std::move(event)) {}
  Value toDictionary() const override { return Value(event_->toDictionary()); }
  std::optional<std::string> eventID() const override { return event_->eventID(); }

 private:
  std::shared_ptr<KSEvent> event_;
};

}  // namespace

KSEventOperationPoster::KSEventOperationPoster(ManagerGetter manager) : manager_(std::move(manager)) {}

void KSEventOperationPoster::postEvent(const std::shared_ptr<KSEvent>& event) {
  if (!event) return;
  if (auto m = manager_()) m->postEvent(std::make_shared<EventPostable>(event));
}

// --- the site source

KSEventSiteManagerSource::KSEventSiteManagerSource(SitesGetter sites) : sites_(std::move(sites)) {}

std::shared_ptr<KSSite> KSEventSiteManagerSource::cachedSiteWithSiteID(const std::string& siteID) {
  auto sites = sites_();
  return sites ? sites->cachedSiteWithSiteID(siteID) : nullptr;
}

// --- the registry's manager

namespace {

// The singleton when the registry has made it; asking never makes one.
template <class T>
std::shared_ptr<T> madeOnly(const std::weak_ptr<KSInstanceProvider>& weak, std::string_view name) {
  auto p = weak.lock();
  if (!p || !p->hasSingleton(name)) return nullptr;
  return p->singleton<T>(name, nullptr);
}

}  // namespace

KSEventRegistryPorts KSEventRegistryPortsFor(KSInstanceProvider& provider) {
  std::weak_ptr<KSInstanceProvider> weak = provider.weak_from_this();
  KSEventRegistryPorts ports;
  ports.store = std::make_shared<KSEventStorageAdapter>([weak]() -> std::shared_ptr<KSLocalStorageManager> {
    auto p = weak.lock();
    return p ? KSLocalStorageManager::sharedManager(*p) : nullptr;
  });
  ports.poster = std::make_shared<KSEventOperationPoster>([weak] {
    return madeOnly<KSApiOperationManager>(weak, KSApiOperationManager::kSingletonName);
  });
  ports.sites = std::make_shared<KSEventSiteManagerSource>([weak]() -> std::shared_ptr<KSApiSiteCachePort> {
    return madeOnly<KSSiteManagerInternal>(weak, KSSiteManagerInternal::kSingletonName);
  });
  return ports;
}

void installEventManagerMaker(KSInstanceProvider& provider) {
  if (provider.hasMaker(KSEventManager::kSingletonName) || provider.hasSingleton(KSEventManager::kSingletonName)) return;
  // The registry fills every port at creation.
  KSEventManager::installMaker(provider, {});
}

}  // namespace velmora::kestrine
