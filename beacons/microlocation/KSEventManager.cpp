#include "beacons/microlocation/KSEventManager.h"

#include <algorithm>
#include <exception>
#include <set>
#include <unordered_set>

#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManagerAdapters.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSIdentityProvider.h"
#include "platform/app/Application.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

// The registry's identity provider as the manager's identity source.
class RegistryIdentity : public KSEventIdentitySource {
 public:
  explicit RegistryIdentity(std::shared_ptr<KSIdentityProvider> provider) : provider_(std::move(provider)) {}
  std::optional<std::string> deviceIdentifier() override {
    if (!provider_) return std::nullopt;
    return provider_->deviceIdentifier();
  }
  std::optional<std::string> sessionIdentifier() override {
    if (!provider_) return std::nullopt;
    return provider_->sessionIdentifier();
  }

 private:
  std::shared_ptr<KSIdentityProvider> provider_;
};

constexpr double kSecondsPerDay = 86400.0;
constexpr int kStoredEventDays = 3;
constexpr std::uint64_t kStoredEventLimit = 2000;
constexpr double kSummarySaveSpacing = 60.0;
constexpr std::int64_t kSummarySaveEvery = 10;

}  // namespace

KSEventManager::KSEventManager(Ports ports) : ports_(std::move(ports)) {
  clock_ = ports_.scheduler ? ports_.scheduler->clock() : nullptr;
  if (!clock_) clock_ = std::make_shared<platform::SystemClock>();
  if (ports_.scheduler) queue_ = ports_.scheduler->mainQueue();
  resolvers_.push_back(std::make_shared<KSEventFilterResolver>());
}

std::shared_ptr<KSEventManager> KSEventManager::create(Ports ports, KSInstanceProvider* provider) {
  if (provider) {
    const auto& platform = provider->platform();
    if (!ports.scheduler) ports.scheduler = platform.scheduler;
    if (!ports.app) ports.app = platform.app;
    if (!ports.notificationCenter) ports.notificationCenter = platform.notificationCenter.get();
    if (!ports.hub) ports.hub = KSBeaconManagerInternal::sharedInternal(*provider);
    if (!ports.identity) ports.identity = std::make_shared<RegistryIdentity>(KSIdentityProvider::sharedIdentityProvider(*provider));
    // Every manager on a registry, the shared one or a component's own (the zone monitor's,
    // the lasso manager's), finds sites, keeps summaries and posts events there.
    if (!ports.sites || !ports.store || !ports.poster) {
      auto registry = KSEventRegistryPortsFor(*provider);
      if (!ports.sites) ports.sites = std::move(registry.sites);
      if (!ports.store) ports.store = std::move(registry.store);
      if (!ports.poster) ports.poster = std::move(registry.poster);
    }
  }
  if (!ports.scheduler) ports.scheduler = platform::dispatch::Scheduler::shared();
  auto manager = std::shared_ptr<KSEventManager>(new KSEventManager(std::move(ports)));
  if (manager->ports_.hub) manager->ports_.hub->addDelegate(manager);
  return manager;
}

KSEventManager::~KSEventManager() {
  for (const auto& token : observers_) center().removeObserver(token);
  // Leave the hub first, so no pass starts on a manager being torn down; a pass already
  // queued finds the manager gone. Then hand every waiting event over.
  if (ports_.hub) ports_.hub->removeDelegate(this);
  std::vector<std::shared_ptr<KSEvent>> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(loggedEvents_);
  }
  try {
    postEvents(std::move(waiting));
  } catch (const std::exception& e) {
    platform::Log::error("KSEventManager", "the waiting events were dropped: {}", e.what());
  } catch (...) {
    platform::Log::error("KSEventManager", "the waiting events were dropped");
  }
}

std::shared_ptr<KSEventManager> KSEventManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSEventManager> KSEventManager::sharedManager(KSInstanceProvider& provider) {
  return provider.singleton<KSEventManager>(kSingletonName, [](KSInstanceProvider& p) {
    auto manager = create({}, &p);
    manager->registerForApplicationStateTransitionNotifications();
    return manager;
  });
}

void KSEventManager::installMaker(KSInstanceProvider& provider, Ports ports) {
  provider.installMaker<KSEventManager>(std::string(kSingletonName), [ports](KSInstanceProvider& p) {
    auto manager = create(ports, &p);
    manager->registerForApplicationStateTransitionNotifications();
    return manager;
  });
}

platform::NotificationCenter& KSEventManager::center() const {
  return ports_.notificationCenter ? *ports_.notificationCenter : platform::NotificationCenter::defaultCenter();
}

// --- accessors -------------------------------------------------------------------------

std::shared_ptr<KSEventManagerDelegate> KSEventManager::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void KSEventManager::setDelegate(const std::shared_ptr<KSEventManagerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
std::shared_ptr<platform::dispatch::Queue> KSEventManager::queue() const {
  std::lock_guard lock(mutex_);
  return queue_;
}
void KSEventManager::setQueue(std::shared_ptr<platform::dispatch::Queue> queue) {
  std::lock_guard lock(mutex_);
  if (queue) queue_ = std::move(queue);
}
std::optional<std::string> KSEventManager::defaultCustomDeviceIdentifier() const {
  std::lock_guard lock(mutex_);
  return defaultCustomDeviceIdentifier_;
}
void KSEventManager::setDefaultCustomDeviceIdentifier(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  defaultCustomDeviceIdentifier_ = std::move(v);
}
std::vector<std::shared_ptr<KSEventFilterResolving>> KSEventManager::eventFilterResolvers() const {
  std::lock_guard lock(mutex_);
  return resolvers_;
}

// --- monitoring ------------------------------------------------------------------------

void KSEventManager::monitorEventWithTrigger(const std::shared_ptr<KSTrigger>& trigger, bool restoreTriggeredCount,
                                             KSEventMonitor::Handler handler) {
  if (!trigger) return;
  const std::string identifier = trigger->eventIdentifier();
  std::shared_ptr<KSEventSummary> summary;
  if (restoreTriggeredCount) {
    {
      std::lock_guard lock(mutex_);
      auto it = monitors_.find(identifier);
      if (it != monitors_.end()) summary = it->second->eventSummary()->copy();
    }
    if (!summary && ports_.store && ports_.store->localStorageEnabled()) {
      summary = ports_.store->eventSummaryForIdentifier(identifier);
    }
  }
  if (!summary) {
    summary = std::make_shared<KSEventSummary>();
    summary->setEventIdentifier(identifier);
    summary->setEventName(trigger->eventName());
  }
  summary->setEventName(trigger->eventName());
  auto monitor = std::make_shared<KSEventMonitor>(trigger, std::move(handler), std::move(summary), clock_, ports_.app);

  std::shared_ptr<KSEventSummary> replaced;
  {
    std::lock_guard lock(mutex_);
    auto it = monitors_.find(identifier);
    if (it != monitors_.end()) replaced = it->second->eventSummary()->copy();
    monitors_[identifier] = std::move(monitor);
  }
  if (replaced) saveEventSummary(*replaced);
}

void KSEventManager::removeMonitoredEvent(const std::string& eventIdentifier) {
  std::shared_ptr<KSEventSummary> removed;
  {
    std::lock_guard lock(mutex_);
    auto it = monitors_.find(eventIdentifier);
    if (it == monitors_.end()) return;
    removed = it->second->eventSummary()->copy();
    monitors_.erase(it);
  }
  saveEventSummary(*removed);
}

void KSEventManager::removeAllMonitoredEvents() {
  for (const auto& identifier : allMonitoredEventIdentifiers()) removeMonitoredEvent(identifier);
}

std::vector<std::string> KSEventManager::allMonitoredEventIdentifiers() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  ids.reserve(monitors_.size());
  for (const auto& [id, monitor] : monitors_) ids.push_back(id);
  return ids;
}

void KSEventManager::saveEventSummary(const KSEventSummary& summary) {
  if (ports_.store) ports_.store->storeEventSummary(summary);
}

// --- the hub's passes ------------------------------------------------------------------

void KSEventManager::beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) {
  std::vector<std::pair<std::string, std::shared_ptr<KSEventMonitor>>> snapshot;
  std::shared_ptr<KSEventManagerDelegate> delegate;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue;
  {
    std::lock_guard lock(mutex_);
    if (monitors_.empty()) return;
    snapshot.assign(monitors_.begin(), monitors_.end());
  }

  // The sites of the pass's beacons, each looked up once.
  std::map<std::string, std::shared_ptr<KSSite>> siteForSiteID;
  std::unordered_set<std::string> looked;
  if (ports_.sites) {
    for (const auto& beacon : beacons) {
      if (!beacon) continue;
      auto id = beacon->siteID();
      if (!id || id->empty() || !looked.insert(*id).second) continue;
      if (auto site = ports_.sites->cachedSiteWithSiteID(*id)) siteForSiteID[*id] = site->copy();
    }
  }
  std::vector<std::shared_ptr<KSSite>> sites;
  sites.reserve(siteForSiteID.size());
  for (const auto& [id, site] : siteForSiteID) sites.push_back(site);
  // One map of the sites by their own ids for all the monitors of the pass.
  const auto siteMap = std::make_shared<const KSEventFilterContext::SiteMap>(KSEventMonitor::siteMapOf(sites));

  auto self = shared_from_this();
  for (const auto& [identifier, monitor] : snapshot) {
    std::shared_ptr<KSTriggeredEvent> result;
    std::shared_ptr<KSEventSummary> toSave;
    {
      std::lock_guard lock(mutex_);
      auto it = monitors_.find(identifier);
      if (it == monitors_.end() || it->second != monitor) continue;  // removed or replaced meanwhile
      const auto previous = monitor->eventSummary()->lastTriggeredAt();
      result = monitor->triggerEventWithRangedBeaconsInSiteMap(beacons, siteMap);
      if (result->triggerState == 2) {
        toSave = monitor->eventSummary()->copy();
        monitors_.erase(it);
      } else if (result->triggerState == 1) {
        auto& summary = *monitor->eventSummary();
        summary.setFirstTriggeredAt(result->firstTriggeredAt);
        summary.setLastTriggeredAt(result->lastTriggeredAt);
        summary.setTriggeredCount(result->triggeredCount);
        const bool recent = previous && result->lastTriggeredAt &&
                            result->lastTriggeredAt->timeIntervalSince(*previous) <= kSummarySaveSpacing;
        if (!(recent && summary.triggeredCount() % kSummarySaveEvery != 0)) toSave = summary.copy();
      }
      delegate = delegate_.lock();
      delegateQueue = queue_;
    }
    if (result->triggerState == 2) {
      saveEventSummary(*toSave);
      continue;
    }
    if (result->triggerState != 1) continue;

    if (const auto& handler = monitor->eventHandler()) handler(result);
    if (delegate && delegateQueue) {
      // The queued call holds the delegate weakly, as the manager does: a delegate the host
      // let go of before the call runs hears nothing.
      std::weak_ptr<KSEventManagerDelegate> weakDelegate = delegate;
      delegateQueue->async([weakDelegate, self, result] {
        if (auto d = weakDelegate.lock()) d->eventManagerTriggeredEvent(self, result);
      });
    }
    if (toSave) saveEventSummary(*toSave);
    platform::Dict info;
    info[std::string(KSEventManagerTriggeredEventItem)] =
        platform::Value(std::shared_ptr<platform::Object>(std::make_shared<KSTriggeredEventItem>(result)));
    center().post(std::string(KSEventManagerTriggeredEvent), self, std::move(info));
  }
}

// --- logged events ---------------------------------------------------------------------

void KSEventManager::logEvent(const std::shared_ptr<KSEvent>& event, std::int32_t priority) {
  if (!event) return;
  if (ports_.identity) {
    event->setDeviceUUID(ports_.identity->deviceIdentifier());
    event->setSessionUUID(ports_.identity->sessionIdentifier());
  }
  if (!event->customDeviceIdentifier()) event->setCustomDeviceIdentifier(defaultCustomDeviceIdentifier());
  if (ports_.store) ports_.store->storeEvent(event);

  std::vector<std::shared_ptr<KSEvent>> toPost;
  {
    std::lock_guard lock(mutex_);
    if (priority == 1) {
      loggedEvents_.insert(loggedEvents_.begin(), event);
    } else {
      loggedEvents_.push_back(event);
    }
    const double spacing = priority == 1 ? kPriorityPostSpacing : kPostSpacing;
    const auto now = clock_->now();
    if (!lastPostedEvents_ || now.timeIntervalSince(*lastPostedEvents_) > spacing) {
      toPost = takeLoggedEventsLocked();
      lastPostedEvents_ = now;
    }
  }
  postEvents(std::move(toPost));
}

void KSEventManager::logEventWithIdentifier(const std::string& identifier, std::optional<std::string> value1,
                                            std::optional<std::string> value2, std::optional<std::string> value3) {
  auto event = std::make_shared<KSEvent>();
  event->setEventID(platform::Uuid::random().string());
  event->setEventIdentifier(identifier);
  event->setEventName(identifier);
  event->setValue1(std::move(value1));
  event->setValue2(std::move(value2));
  event->setValue3(std::move(value3));
  const auto now = clock_->now();
  event->setBeganAt(now);
  event->setEndedAt(now);
  const bool background = KSDefinitionsInternal::isAppInBackground(ports_.app.get());
  event->setBeganInBackground(background);
  event->setEndedInBackground(background);
  logEvent(event, 0);
}

void KSEventManager::postAllEvents() {
  std::vector<std::shared_ptr<KSEvent>> toPost;
  {
    std::lock_guard lock(mutex_);
    if (loggedEvents_.empty()) return;
    toPost = takeLoggedEventsLocked();
    lastPostedEvents_ = clock_->now();
  }
  postEvents(std::move(toPost));
}

std::vector<std::shared_ptr<KSEvent>> KSEventManager::takeLoggedEventsLocked() {
  std::vector<std::shared_ptr<KSEvent>> taken;
  taken.swap(loggedEvents_);
  const auto now = clock_->now();
  for (const auto& event : taken) {
    if (event && event->eventID()) handedOver_.push_back({*event->eventID(), event, now});
  }
  forgetPostedEventsLocked(now);
  return taken;
}

void KSEventManager::forgetPostedEventsLocked(platform::Date now) {
  auto posted = [&](const HandedOverEvent& e) {
    return e.event.expired() && now.timeIntervalSince(e.at) > kHandedOverRetention;
  };
  while (!handedOver_.empty() && posted(handedOver_.front())) handedOver_.pop_front();
  // Ones still held by the poster (the cloud failing) may keep older ones ahead of them.
  if (handedOver_.size() >= std::max<std::size_t>(64, 2 * handedOverSweptSize_)) {
    std::erase_if(handedOver_, posted);
    handedOverSweptSize_ = handedOver_.size();
  }
  while (handedOver_.size() > kMaximumHandedOverEvents) handedOver_.pop_front();
}

std::size_t KSEventManager::handedOverEventCount() const {
  std::lock_guard lock(mutex_);
  return handedOver_.size();
}

void KSEventManager::postEvents(std::vector<std::shared_ptr<KSEvent>> events) {
  if (!ports_.poster) return;
  for (const auto& event : events) ports_.poster->postEvent(event);
}

void KSEventManager::postUnPostedEventsFromLocalStore() {
  if (!ports_.store) return;
  std::weak_ptr<KSEventManager> weak = weak_from_this();
  ports_.store->fetchUnpostedEvents(
      [weak](KSEventStore::Events events) {
        auto self = weak.lock();
        if (!self) return;
        // The store keeps no device identifier: a reloaded event gets this device's again.
        std::optional<std::string> device;
        if (self->ports_.identity) device = self->ports_.identity->deviceIdentifier();
        {
          std::lock_guard lock(self->mutex_);
          // An event still waiting here, or already handed over for posting and not yet
          // marked posted in the store, would otherwise go out twice.
          self->forgetPostedEventsLocked(self->clock_->now());
          std::set<std::string> seen;
          for (const auto& e : self->handedOver_) seen.insert(e.eventID);
          for (const auto& e : self->loggedEvents_) {
            if (e && e->eventID()) seen.insert(*e->eventID());
          }
          for (auto& event : events) {
            if (!event) continue;
            if (event->eventID() && !seen.insert(*event->eventID()).second) continue;
            if (!event->deviceUUID()) event->setDeviceUUID(device);
            self->loggedEvents_.push_back(std::move(event));
          }
        }
        self->postAllEvents();
      },
      [](platform::Error) {});
}

void KSEventManager::registerForApplicationStateTransitionNotifications() {
  std::weak_ptr<KSEventManager> weak = weak_from_this();
  auto& nc = center();
  const void* appObject = ports_.app.get();
  observers_.push_back(nc.addObserver(std::string(platform::app::kDidBecomeActiveNotification), appObject, nullptr,
                                      [weak](const platform::Notification&) {
                                        if (auto self = weak.lock()) self->applicationDidBecomeActive();
                                      }));
  observers_.push_back(nc.addObserver(std::string(platform::app::kDidFinishLaunchingNotification), nullptr, nullptr,
                                      [weak](const platform::Notification&) {
                                        if (auto self = weak.lock()) self->applicationDidFinishLaunching();
                                      }));
}

void KSEventManager::applicationDidBecomeActive() { postAllEvents(); }

void KSEventManager::applicationDidFinishLaunching() {
  if (ports_.store) {
    ports_.store->deleteEventsThatBeganBeforeDate(clock_->now().addingTimeInterval(-kStoredEventDays * kSecondsPerDay),
                                                  kStoredEventLimit);
  }
  postUnPostedEventsFromLocalStore();
}

}  // namespace velmora::kestrine
