#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "beacons/microlocation/KSLocalNotification.h"
#include "beacons/ranging/KSSiteManagerInternalDelegate.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::app {
class Application;
}

namespace velmora::kestrine {

class KSBeacon;
class KSInstanceProvider;
class KSSite;
class KSSiteManagerInternal;

inline constexpr std::string_view KSLocalNotificationManagerDidChangeLocalNotifications =
    "KSLocalNotificationManagerDidChangeLocalNotifications";
inline constexpr std::string_view KSLocalNotificationManagerDidPresentLocalNotification =
    "KSLocalNotificationManagerDidPresentLocalNotification";
inline constexpr std::string_view KSLocalNotificationManagerLocalNotificationItem =
    "KSLocalNotificationManagerLocalNotificationItem";

// Keeps the host's scheduled local notifications and presents, on each ranging pass of a
// site, the first one whose site, categories, proximity and date match, then drops it: each
// fires at most once, and at most one is presented per pass.
//
// A match is taken out of the list under the list's lock before it is presented, so one
// cancelled meanwhile is never shown and none is shown twice. Notifications are posted with
// no lock held.
class KSLocalNotificationManager : public KSSiteManagerInternalDelegate,
                                   public std::enable_shared_from_this<KSLocalNotificationManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSLocalNotificationManager";
  using Notifications = std::vector<std::shared_ptr<KSLocalNotification>>;

  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the shared one
    std::shared_ptr<platform::NotificationCenter> center;      // none: no notifications
    std::shared_ptr<platform::app::Application> app;            // where notifications are presented
    std::shared_ptr<KSSiteManagerInternal> siteManager;         // subscribed to on creation
    std::shared_ptr<const platform::Clock> clock;               // none: the scheduler's
  };

  // The registry's manager, made over the registry's app and site manager (the shared
  // registry's without an argument).
  static std::shared_ptr<KSLocalNotificationManager> sharedManager();
  static std::shared_ptr<KSLocalNotificationManager> sharedManager(KSInstanceProvider& provider);
  static void installMaker(KSInstanceProvider& provider);
  static std::shared_ptr<KSLocalNotificationManager> create(Ports ports);
  ~KSLocalNotificationManager() override;

  // Sets fireAfter to now when missing and appends (no duplicate check).
  void scheduleLocalNotification(const std::shared_ptr<KSLocalNotification>& notification);
  // Posts the change only when the description was scheduled.
  void cancelLocalNotification(const std::shared_ptr<KSLocalNotification>& notification);
  // Posts the change once, only when something was scheduled.
  void cancelAllLocalNotifications();
  Notifications scheduledLocalNotifications() const;

  std::shared_ptr<KSLocalNotification> findFirstLocalNotificationForBeacons(
      const std::vector<std::shared_ptr<KSBeacon>>& beacons, const std::shared_ptr<KSSite>& site) const;

  void siteManagerInternalDidRangeBeaconsInSite(SiteBeacons beacons, std::shared_ptr<KSSite> site) override;

 private:
  struct Token {};

 public:
  KSLocalNotificationManager(Token, Ports ports);

 private:
  void postChange();
  // Removes the description; true when it was scheduled.
  bool take(const std::shared_ptr<KSLocalNotification>& notification);
  static bool matches(const KSLocalNotification& n, const std::vector<std::shared_ptr<KSBeacon>>& beacons);

  const Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<const platform::Clock> clock_;
  mutable std::mutex mutex_;
  Notifications notifications_;
};

}  // namespace velmora::kestrine
