#include "beacons/http/KSAFNetworkReachabilityManager.h"

#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace kestrine {

namespace net = platform::net;

std::string KSAFStringFromNetworkReachabilityStatus(int status) {
  switch (status) {
    case KSAFNetworkReachabilityStatusNotReachable:
      return "Not Reachable";
    case KSAFNetworkReachabilityStatusReachableViaWWAN:
      return "Reachable via WWAN";
    case KSAFNetworkReachabilityStatusReachableViaWiFi:
      return "Reachable via WiFi";
    default:
      return "Unknown";
  }
}

std::shared_ptr<KSAFNetworkReachabilityManager> KSAFNetworkReachabilityManager::sharedManager() {
  static const std::shared_ptr<KSAFNetworkReachabilityManager> shared = manager(KSPlatformBundle::system());
  return shared;
}

std::shared_ptr<KSAFNetworkReachabilityManager> KSAFNetworkReachabilityManager::manager(const KSPlatformBundle& bundle) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forInternet(), bundle.scheduler, bundle.notificationCenter);
}

std::shared_ptr<KSAFNetworkReachabilityManager> KSAFNetworkReachabilityManager::managerForDomain(
    const KSPlatformBundle& bundle, std::string domain) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forHost(std::move(domain)), bundle.scheduler,
                              bundle.notificationCenter);
}

std::shared_ptr<KSAFNetworkReachabilityManager> KSAFNetworkReachabilityManager::managerForAddress(
    const KSPlatformBundle& bundle, std::string address) {
  if (!bundle.reachability) return nullptr;
  return initWithReachability(bundle.reachability->forAddress(std::move(address)), bundle.scheduler,
                              bundle.notificationCenter);
}

std::shared_ptr<KSAFNetworkReachabilityManager> KSAFNetworkReachabilityManager::initWithReachability(
    std::shared_ptr<net::Reachability> reachability, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::NotificationCenter> notificationCenter) {
  if (!reachability || !scheduler) return nullptr;
  return std::shared_ptr<KSAFNetworkReachabilityManager>(new KSAFNetworkReachabilityManager(
      std::move(reachability), std::move(scheduler), std::move(notificationCenter)));
}

KSAFNetworkReachabilityManager::KSAFNetworkReachabilityManager(
    std::shared_ptr<net::Reachability> reachability, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::NotificationCenter> notificationCenter)
    : reachability_(std::move(reachability)),
      scheduler_(std::move(scheduler)),
      notificationCenter_(std::move(notificationCenter)) {}

KSAFNetworkReachabilityManager::~KSAFNetworkReachabilityManager() { stopMonitoring(); }

int KSAFNetworkReachabilityManager::statusForFlags(std::uint32_t flags) {
  if ((flags & net::kReachabilityReachable) == 0) return KSAFNetworkReachabilityStatusNotReachable;
  const bool needsConnection = (flags & net::kReachabilityConnectionRequired) != 0;
  const bool connectsByItself =
      (flags & (net::kReachabilityConnectionOnTraffic | net::kReachabilityConnectionOnDemand)) != 0 &&
      (flags & net::kReachabilityInterventionRequired) == 0;
  if (needsConnection && !connectsByItself) return KSAFNetworkReachabilityStatusNotReachable;
  return (flags & net::kReachabilityIsWWAN) != 0 ? KSAFNetworkReachabilityStatusReachableViaWWAN
                                                 : KSAFNetworkReachabilityStatusReachableViaWiFi;
}

int KSAFNetworkReachabilityManager::networkReachabilityStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

bool KSAFNetworkReachabilityManager::isReachable() const {
  const int s = networkReachabilityStatus();
  return s == KSAFNetworkReachabilityStatusReachableViaWWAN || s == KSAFNetworkReachabilityStatusReachableViaWiFi;
}

bool KSAFNetworkReachabilityManager::isReachableViaWWAN() const {
  return networkReachabilityStatus() == KSAFNetworkReachabilityStatusReachableViaWWAN;
}

bool KSAFNetworkReachabilityManager::isReachableViaWiFi() const {
  return networkReachabilityStatus() == KSAFNetworkReachabilityStatusReachableViaWiFi;
}

std::string KSAFNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
  return KSAFStringFromNetworkReachabilityStatus(networkReachabilityStatus());
}

void KSAFNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
  std::lock_guard lock(mutex_);
  block_ = std::move(block);
}

void KSAFNetworkReachabilityManager::startMonitoring() {
  stopMonitoring();
  std::weak_ptr<KSAFNetworkReachabilityManager> weak = weak_from_this();
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

void KSAFNetworkReachabilityManager::stopMonitoring() { reachability_->stopNotifier(); }

void KSAFNetworkReachabilityManager::deliver(const std::weak_ptr<KSAFNetworkReachabilityManager>& weak,
                                             const std::shared_ptr<platform::dispatch::Scheduler>& scheduler,
                                             std::uint32_t flags) {
  const int status = statusForFlags(flags);
  scheduler->mainQueue()->async([weak, status] {
    if (auto self = weak.lock()) self->apply(status);
  });
}

void KSAFNetworkReachabilityManager::apply(int status) {
  StatusBlock block;
  {
    std::lock_guard lock(mutex_);
    status_ = status;
    block = block_;
  }
  if (block) block(status);
  if (notificationCenter_) {
    platform::Dict userInfo;
    userInfo.emplace(std::string(KSAFNetworkingReachabilityNotificationStatusItem),
                     platform::Value(static_cast<std::int64_t>(status)));
    notificationCenter_->post(std::string(KSAFNetworkingReachabilityDidChangeNotification), nullptr,
                              std::move(userInfo));
  }
}

}  // namespace kestrine
