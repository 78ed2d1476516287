#include "beacons/http/KSNetworkReachabilityManager.h"

#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

namespace net = platform::net;

std::string KSStringFromNetworkReachabilityStatus(int status) {
  switch (status) {
    case KSNetworkReachabilityStatusNotReachable:
      return "Not Reachable";
    case KSNetworkReachabilityStatusReachableViaWWAN:
      return "Reachable via WWAN";
    case KSNetworkReachabilityStatusReachableViaWiFi:
      return "Reachable via WiFi";
    default:
      return "Unknown";
  }
}

std::shared_ptr<KSNetworkReachabilityManager> KSNetworkReachabilityManager::sharedManager() {
  static const std::shared_ptr<KSNetworkReachabilityManager>& shared =
      *new std::shared_ptr<KSNetworkReachabilityManager>(manager(KSPlatformBundle::system()));
  return shared;
}

std::shared_ptr<KSNetworkReachabilityManager> KSNetworkReachabilityManager::manager(const KSPlatformBundle& bundle) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forInternet(), bundle.scheduler, bundle.notificationCenter);
}

std::shared_ptr<KSNetworkReachabilityManager> KSNetworkReachabilityManager::managerForDomain(
    const KSPlatformBundle& bundle, std::string domain) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forHost(std::move(domain)), bundle.scheduler,
                              bundle.notificationCenter);
}

std::shared_ptr<KSNetworkReachabilityManager> KSNetworkReachabilityManager::managerForAddress(
    const KSPlatformBundle& bundle, std::string address) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forAddress(std::move(address)), bundle.scheduler,
                              bundle.notificationCenter);
}

std::shared_ptr<KSNetworkReachabilityManager> KSNetworkReachabilityManager::initWithReachability(
    std::shared_ptr<net::Reachability> reachability, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::NotificationCenter> notificationCenter) {
  if (!reachability || !scheduler) return nullptr;
  return std::shared_ptr<KSNetworkReachabilityManager>(new KSNetworkReachabilityManager(
      std::move(reachability), std::move(scheduler), std::move(notificationCenter)));
}

KSNetworkReachabilityManager::KSNetworkReachabilityManager(
    std::shared_ptr<net::Reachability> reachability, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::NotificationCenter> notificationCenter)
    : reachability_(std::move(reachability)),
      scheduler_(std::move(scheduler)),
      notificationCenter_(std::move(notificationCenter)) {}

KSNetworkReachabilityManager::~KSNetworkReachabilityManager() { stopMonitoring(); }

int KSNetworkReachabilityManager::statusForFlags(std::uint32_t flags) {
  if ((flags & net::kReachabilityReachable) == 0) return KSNetworkReachabilityStatusNotReachable;
  const bool needsConnection = (flags & net::kReachabilityConnectionRequired) != 0;
  const bool connectsByItself =
      (flags & (net::kReachabilityConnectionOnTraffic | net::kReachabilityConnectionOnDemand)) != 0 &&
      (flags & net::kReachabilityInterventionRequired) == 0;
  if (needsConnection && !connectsByItself) return KSNetworkReachabilityStatusNotReachable;
  return (flags & net::kReachabilityIsWWAN) != 0 ? KSNetworkReachabilityStatusReachableViaWWAN
                                                 : KSNetworkReachabilityStatusReachableViaWiFi;
}

int KSNetworkReachabilityManager::networkReachabilityStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

bool KSNetworkReachabilityManager::isReachable() const {
  const int s = networkReachabilityStatus();
  return s == KSNetworkReachabilityStatusReachableViaWWAN || s == KSNetworkReachabilityStatusReachableViaWiFi;
}

bool KSNetworkReachabilityManager::isReachableViaWWAN() const {
  return networkReachabilityStatus() == KSNetworkReachabilityStatusReachableViaWWAN;
}

bool KSNetworkReachabilityManager::isReachableViaWiFi() const {
  return networkReachabilityStatus() == KSNetworkReachabilityStatusReachableViaWiFi;
}

std::string KSNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
  return KSStringFromNetworkReachabilityStatus(networkReachabilityStatus());
}

void KSNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
  std::lock_guard lock(mutex_);
  block_ = std::move(block);
}

void KSNetworkReachabilityManager::startMonitoring() {
  stopMonitoring();
  std::weak_ptr<KSNetworkReachabilityManager> weak = weak_from_this();
  auto scheduler = scheduler_;
  // The target's reports already come on the main queue; each is still handed on with an
  // async hop so that a report and the initial read are delivered the same way.
  reachability_->startNotifier(scheduler_->mainQueue(),
                               [weak, scheduler](std::uint32_t flags) { deliver(weak, scheduler, flags); });
  auto reachability = reachability_;
  scheduler_->globalQueue(platform::dispatch::QoS::Background)->async([weak, scheduler, reachability] {
    if (auto flags = reachability->flags()) deliver(weak, scheduler, *flags);
  });
}

void KSNetworkReachabilityManager::stopMonitoring() { reachability_->stopNotifier(); }

void KSNetworkReachabilityManager::deliver(const std::weak_ptr<KSNetworkReachabilityManager>& weak,
                                             const std::shared_ptr<platform::dispatch::Scheduler>& scheduler,
                                             std::uint32_t flags) {
  const int status = statusForFlags(flags);
  scheduler->mainQueue()->async([weak, status] {
    if (auto self = weak.lock()) self->apply(status);
  });
}

void KSNetworkReachabilityManager::apply(int status) {
  StatusBlock block;
  {
    std::lock_guard lock(mutex_);
    status_ = status;
    block = block_;
  }
  if (block) block(status);
  if (notificationCenter_) {
    platform::Dict userInfo;
    userInfo.emplace(std::string(KSNetworkingReachabilityNotificationStatusItem),
                     platform::Value(static_cast<std::int64_t>(status)));
    notificationCenter_->post(std::string(KSNetworkingReachabilityDidChangeNotification), nullptr,
                              std::move(userInfo));
  }
}

}  // namespace velmora::kestrine
