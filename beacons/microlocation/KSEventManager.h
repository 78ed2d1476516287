#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "beacons/microlocation/KSEventFilterResolver.h"
#include "beacons/microlocation/KSEventManagerPorts.h"
#include "beacons/microlocation/KSEventMonitor.h"
#include "beacons/microlocation/KSTrigger.h"
#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "platform/core/Date.h"
#include "platform/core/Value.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform {
class Clock;
namespace app {
class Application;
}
namespace dispatch {
class Queue;
class Scheduler;
}  // namespace dispatch
}  // namespace velmora::platform

namespace velmora::kestrine {

class KSBeaconManagerInternal;
class KSEventManager;
class KSInstanceProvider;

inline constexpr std::string_view KSEventManagerTriggeredEvent = "KSEventManagerTriggeredEvent";
inline constexpr std::string_view KSEventManagerTriggeredEventItem = "KSEventManagerTriggeredEventItem";

class KSEventManagerDelegate {
 public:
  virtual ~KSEventManagerDelegate() = default;
  virtual void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>& /*manager*/,
                                          const std::shared_ptr<KSTriggeredEvent>& /*event*/) {}
};

// The triggered event as it travels in a notification's user info.
struct KSTriggeredEventItem : platform::Object {
  explicit KSTriggeredEventItem(std::shared_ptr<KSTriggeredEvent> e) : event(std::move(e)) {}
  std::shared_ptr<KSTriggeredEvent> event;
};

// Watches the hub's ranging passes for the triggers it monitors and reports each firing to
// the trigger's handler, its delegate and the notification centre, keeping each trigger's
// summary in the local store. It also collects the analytics events the host logs and hands
// them for posting, spaced at least a minute apart (ten seconds for priority 1). At launch
// the stored events never posted are posted again, except those this manager has already
// handed over (their rows are marked only once the cloud has taken them).
//
// Thread-safety: the monitors, the logged events and the last-post date sit under one lock.
// A pass evaluates a snapshot of the monitors under that lock; handlers, the delegate, the
// notification, the store, the poster and the site source are always called with no lock
// held. A monitor removed or replaced after a pass took its snapshot fires nothing in it.
//
// Queues and lifetime: a trigger's handler runs on the hub's work queue, in the pass; the
// delegate's eventManagerTriggeredEvent runs on the manager's queue (the main queue unless
// setQueue gave another). The delegate is held weakly.
class KSEventManager : public KSBeaconManagerInternalDelegate, public std::enable_shared_from_this<KSEventManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSEventManager";
  static constexpr double kPostSpacing = 60.0;
  static constexpr double kPriorityPostSpacing = 10.0;

  struct Ports {
    std::shared_ptr<KSBeaconManagerInternal> hub;
    std::shared_ptr<KSEventSiteSource> sites;
    std::shared_ptr<KSEventIdentitySource> identity;
    std::shared_ptr<KSEventStore> store;
    std::shared_ptr<KSEventPoster> poster;
    std::shared_ptr<platform::app::Application> app;
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;
    // null: the default centre.
    platform::NotificationCenter* notificationCenter = nullptr;
  };

  // Subscribes to the hub's passes. With a registry, the missing ports come from it (the hub,
  // the app, the scheduler, the identity provider, the site manager, the local store and the
  // API operation manager). Without one, a manager without a store keeps no summaries or
  // events, and without a poster logged events are dropped when posted.
  static std::shared_ptr<KSEventManager> create(Ports ports, KSInstanceProvider* provider = nullptr);
  ~KSEventManager() override;

  // The registry's manager, observing the application's launch and activation.
  static std::shared_ptr<KSEventManager> sharedManager();
  static std::shared_ptr<KSEventManager> sharedManager(KSInstanceProvider& provider);
  static void installMaker(KSInstanceProvider& provider, Ports ports);

  // --- delegate
  // Held weakly.
  void setDelegate(const std::shared_ptr<KSEventManagerDelegate>& delegate);
  std::shared_ptr<KSEventManagerDelegate> delegate() const;
  std::shared_ptr<platform::dispatch::Queue> queue() const;
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue);
  std::optional<std::string> defaultCustomDeviceIdentifier() const;
  void setDefaultCustomDeviceIdentifier(std::optional<std::string> v);
  std::vector<std::shared_ptr<KSEventFilterResolving>> eventFilterResolvers() const;

  // --- monitoring
  void monitorEventWithTrigger(const std::shared_ptr<KSTrigger>& trigger, bool restoreTriggeredCount = false,
                               KSEventMonitor::Handler handler = {});
  // The same without restoring; any callable taking the triggered event is a handler.
  template <class F>
    requires std::is_invocable_v<F&, const std::shared_ptr<KSTriggeredEvent>&>
  void monitorEventWithTrigger(const std::shared_ptr<KSTrigger>& trigger, F&& handler) {
    monitorEventWithTrigger(trigger, false, KSEventMonitor::Handler(std::forward<F>(handler)));
  }
  void removeMonitoredEvent(const std::string& eventIdentifier);
  void removeAllMonitoredEvents();
  std::vector<std::string> allMonitoredEventIdentifiers() const;
  void saveEventSummary(const KSEventSummary& summary);

  // --- logged events
  void logEvent(const std::shared_ptr<KSEvent>& event, std::int32_t priority);
  // Builds an event of that identifier and values and logs it with priority 0.
  void logEventWithIdentifier(const std::string& identifier, std::optional<std::string> value1,
                              std::optional<std::string> value2, std::optional<std::string> value3);
  void postAllEvents();
  void postUnPostedEventsFromLocalStore();
  void registerForApplicationStateTransitionNotifications();
  void applicationDidBecomeActive();
  void applicationDidFinishLaunching();

  // Events handed over for posting that an unposted-events fetch still skips.
  static constexpr double kHandedOverRetention = 600.0;
  static constexpr std::size_t kMaximumHandedOverEvents = 10000;
  std::size_t handedOverEventCount() const;

  // --- the hub's passes
  void beaconManagerInternalDidRangeKestrineBeacons(Hub hub, Beacons beacons) override;

 private:
  explicit KSEventManager(Ports ports);
  void postEvents(std::vector<std::shared_ptr<KSEvent>> events);
  // Takes the waiting events for posting; under the lock.
  std::vector<std::shared_ptr<KSEvent>> takeLoggedEventsLocked();
  platform::NotificationCenter& center() const;

  Ports ports_;
  std::shared_ptr<const platform::Clock> clock_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<KSEventMonitor>> monitors_;
  std::vector<std::shared_ptr<KSEvent>> loggedEvents_;
  std::optional<platform::Date> lastPostedEvents_;
  // The events handed over for posting by this manager, oldest first. Their rows stay
  // unposted until the cloud has taken them, so the unposted-events fetch skips them. One is
  // forgotten once the poster has let it go (taken by the cloud) and it was handed over more
  // than kHandedOverRetention ago; at most kMaximumHandedOverEvents are kept.
  struct HandedOverEvent {
    std::string eventID;
    std::weak_ptr<KSEvent> event;
    platform::Date at;
  };
  void forgetPostedEventsLocked(platform::Date now);
  std::deque<HandedOverEvent> handedOver_;
  std::size_t handedOverSweptSize_ = 0;
  std::weak_ptr<KSEventManagerDelegate> delegate_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::optional<std::string> defaultCustomDeviceIdentifier_;
  std::vector<std::shared_ptr<KSEventFilterResolving>> resolvers_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

}  // namespace velmora::kestrine
