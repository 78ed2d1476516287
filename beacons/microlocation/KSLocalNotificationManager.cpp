#include "beacons/microlocation/KSLocalNotificationManager.h"

#include <algorithm>
#include <utility>

#include "beacons/foundation/KSEnumUtilities.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSSite.h"
#include "platform/app/Application.h"

namespace velmora::kestrine {

namespace {

bool categoryMatches(const KSCategory& wanted, const KSCategory& seen) {
  if (auto id = wanted.categoryID()) return seen.categoryID() == id;
  return wanted.name() == seen.name();
}

}  // namespace

std::shared_ptr<KSLocalNotificationManager> KSLocalNotificationManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSLocalNotificationManager> KSLocalNotificationManager::sharedManager(KSInstanceProvider& provider) {
  return provider.singleton<KSLocalNotificationManager>(kSingletonName, {});
}

void KSLocalNotificationManager::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSLocalNotificationManager>(std::string(kSingletonName), [](KSInstanceProvider& p) {
    Ports ports;
    ports.scheduler = p.platform().scheduler;
    ports.center = p.platform().notificationCenter;
    ports.app = p.platform().app;
    ports.siteManager = KSSiteManagerInternal::sharedInternal(p);
    return create(std::move(ports));
  });
}

std::shared_ptr<KSLocalNotificationManager> KSLocalNotificationManager::create(Ports ports) {
  auto manager = std::make_shared<KSLocalNotificationManager>(Token{}, std::move(ports));
  if (manager->ports_.siteManager) manager->ports_.siteManager->addDelegate(manager);
  return manager;
}

KSLocalNotificationManager::KSLocalNotificationManager(Token, Ports ports) : ports_(std::move(ports)) {
  scheduler_ = ports_.scheduler ? ports_.scheduler : platform::dispatch::Scheduler::shared();
  clock_ = ports_.clock ? ports_.clock : scheduler_->clock();
}

KSLocalNotificationManager::~KSLocalNotificationManager() {
  if (ports_.siteManager) ports_.siteManager->removeDelegate(static_cast<KSSiteManagerInternalDelegate*>(this));
}

void KSLocalNotificationManager::postChange() {
  if (ports_.center) {
    ports_.center->post(std::string(KSLocalNotificationManagerDidChangeLocalNotifications), shared_from_this());
  }
}

void KSLocalNotificationManager::scheduleLocalNotification(const std::shared_ptr<KSLocalNotification>& notification) {
  if (!notification) return;
  if (!notification->fireAfter()) notification->setFireAfter(clock_->now());
  {
    std::lock_guard lock(mutex_);
    notifications_.push_back(notification);
  }
  postChange();
}

bool KSLocalNotificationManager::take(const std::shared_ptr<KSLocalNotification>& notification) {
  std::lock_guard lock(mutex_);
  auto it = std::find(notifications_.begin(), notifications_.end(), notification);
  if (it == notifications_.end()) return false;
  notifications_.erase(it);
  return true;
}

void KSLocalNotificationManager::cancelLocalNotification(const std::shared_ptr<KSLocalNotification>& notification) {
  if (notification && take(notification)) postChange();
}

void KSLocalNotificationManager::cancelAllLocalNotifications() {
  Notifications dropped;
  {
    std::lock_guard lock(mutex_);
    std::swap(dropped, notifications_);
  }
  if (!dropped.empty()) postChange();
}

KSLocalNotificationManager::Notifications KSLocalNotificationManager::scheduledLocalNotifications() const {
  std::lock_guard lock(mutex_);
  return notifications_;
}

bool KSLocalNotificationManager::matches(const KSLocalNotification& n,
                                         const std::vector<std::shared_ptr<KSBeacon>>& beacons) {
  const auto wanted = n.fireInCategories();
  if (wanted.empty()) return false;
  const auto bound = n.fireInProximity();
  for (const auto& beacon : beacons) {
    if (!beacon) continue;
    const auto categories = beacon->categories();
    if (!categories || categories->empty()) continue;
    if (!KSEnumUtilities::isProximityInsideOfProximity(beacon->proximity(), bound)) continue;
    for (const auto& seen : *categories) {
      if (!seen) continue;
      for (const auto& w : wanted) {
        if (w && categoryMatches(*w, *seen)) return true;
      }
    }
  }
  return false;
}

std::shared_ptr<KSLocalNotification> KSLocalNotificationManager::findFirstLocalNotificationForBeacons(
    const std::vector<std::shared_ptr<KSBeacon>>& beacons, const std::shared_ptr<KSSite>& site) const {
  if (beacons.empty() || !site) return nullptr;
  const auto scheduled = scheduledLocalNotifications();
  if (scheduled.empty()) return nullptr;
  const auto now = clock_->now();
  const auto siteID = site->siteID();
  const auto siteName = site->name();
  for (const auto& n : scheduled) {
    const auto in = n->fireInSite();
    const bool siteOK = !in || (in->siteID() && in->siteID() == siteID) || (in->name() && in->name() == siteName);
    const auto after = n->fireAfter();
    if (!siteOK || (after && *after > now)) continue;
    if (matches(*n, beacons)) return n;
  }
  return nullptr;
}

void KSLocalNotificationManager::siteManagerInternalDidRangeBeaconsInSite(SiteBeacons beacons,
                                                                           std::shared_ptr<KSSite> site) {
  auto match = findFirstLocalNotificationForBeacons(beacons, site);
  // Taking the match out first means a cancel that won the race is respected and no other
  // pass can present it again.
  if (!match || !take(match)) return;
  platform::app::LocalNotification shown;
  shown.alertBody = match->alertBody();
  shown.alertAction = match->alertAction();
  shown.alertLaunchImage = match->alertLaunchImage();
  shown.soundName = match->soundName();
  shown.userInfo = match->userInfo();
  if (ports_.app) {
    if (match->incrementBadgeNumber()) shown.applicationIconBadgeNumber = ports_.app->applicationIconBadgeNumber() + 1;
    shown.category = match->category();
    ports_.app->presentLocalNotificationNow(shown);
  }
  if (ports_.center) {
    platform::Dict info{{std::string(KSLocalNotificationManagerLocalNotificationItem),
                         platform::Value(std::static_pointer_cast<platform::Object>(match))}};
    ports_.center->post(std::string(KSLocalNotificationManagerDidPresentLocalNotification), shared_from_this(),
                        std::move(info));
  }
  postChange();
}

}  // namespace velmora::kestrine
