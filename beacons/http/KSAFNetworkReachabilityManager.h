#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "platform/net/Reachability.h"

namespace platform {
class NotificationCenter;
namespace dispatch {
class Scheduler;
}
}  // namespace platform

namespace kestrine {

// How the network can be reached now.
enum KSAFNetworkReachabilityStatus : int {
  KSAFNetworkReachabilityStatusUnknown = -1,
  KSAFNetworkReachabilityStatusNotReachable = 0,
  KSAFNetworkReachabilityStatusReachableViaWWAN = 1,
  KSAFNetworkReachabilityStatusReachableViaWiFi = 2,
};

inline constexpr std::string_view KSAFNetworkingReachabilityDidChangeNotification =
    "com.kestrine.alamofire.networking.reachability.change";
inline constexpr std::string_view KSAFNetworkingReachabilityNotificationStatusItem =
    "KSAFNetworkingReachabilityNotificationStatusItem";

// The text of a status ("Unknown" for any value but 0, 1 and 2).
std::string KSAFStringFromNetworkReachabilityStatus(int status);

// Watches whether one reachability target (the internet at large, a host, an address) can
// be reached and by which kind of link. Every status, the first one read after
// startMonitoring and each change the target reports, is delivered on the main queue: the
// status is stored, the status block is called, then the change notification is posted on
// the bundle's centre. A status is delivered even when it equals the previous one.
// Thread-safe; the manager stops monitoring when it goes away.
class KSAFNetworkReachabilityManager final : public KSReachabilityMonitor,
                                             public std::enable_shared_from_this<KSAFNetworkReachabilityManager> {
 public:
  using StatusBlock = std::function<void(int status)>;

  // The one manager of the process, for the internet at large, made on first use on the
  // process's own services.
  static std::shared_ptr<KSAFNetworkReachabilityManager> sharedManager();

  // General internet reachability.
  static std::shared_ptr<KSAFNetworkReachabilityManager> manager(const KSPlatformBundle& bundle);
  static std::shared_ptr<KSAFNetworkReachabilityManager> managerForDomain(const KSPlatformBundle& bundle,
                                                                          std::string domain);
  // A numeric IPv4 or IPv6 address.
  static std::shared_ptr<KSAFNetworkReachabilityManager> managerForAddress(const KSPlatformBundle& bundle,
                                                                           std::string address);
  // Null without a reachability target: a manager always has one.
  static std::shared_ptr<KSAFNetworkReachabilityManager> initWithReachability(
      std::shared_ptr<platform::net::Reachability> reachability,
      std::shared_ptr<platform::dispatch::Scheduler> scheduler,
      std::shared_ptr<platform::NotificationCenter> notificationCenter);

  ~KSAFNetworkReachabilityManager() override;
  KSAFNetworkReachabilityManager(const KSAFNetworkReachabilityManager&) = delete;
  KSAFNetworkReachabilityManager& operator=(const KSAFNetworkReachabilityManager&) = delete;

  // The status the platform flags stand for.
  static int statusForFlags(std::uint32_t flags);

  const std::shared_ptr<platform::net::Reachability>& networkReachability() const { return reachability_; }
  int networkReachabilityStatus() const;
  bool isReachable() const;
  bool isReachableViaWWAN() const;
  bool isReachableViaWiFi() const;
  std::string localizedNetworkReachabilityStatusString() const;

  void setReachabilityStatusChangeBlock(StatusBlock block);

  // Stops first, then watches the target and reads its flags once on a background queue,
  // so a newly started manager reports a status without waiting for a change.
  void startMonitoring() override;
  // The status keeps its last value.
  void stopMonitoring();

 private:
  KSAFNetworkReachabilityManager(std::shared_ptr<platform::net::Reachability> reachability,
                                 std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                 std::shared_ptr<platform::NotificationCenter> notificationCenter);
  static void deliver(const std::weak_ptr<KSAFNetworkReachabilityManager>& weak,
                      const std::shared_ptr<platform::dispatch::Scheduler>& scheduler, std::uint32_t flags);
  void apply(int status);

  const std::shared_ptr<platform::net::Reachability> reachability_;
  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  mutable std::mutex mutex_;
  int status_ = KSAFNetworkReachabilityStatusUnknown;
  StatusBlock block_;
};

}  // namespace kestrine
