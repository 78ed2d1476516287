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

namespace velmora::platform {
class NotificationCenter;
namespace dispatch {
class Scheduler;
}
}  // namespace velmora::platform

namespace velmora::kestrine {

// How the network can be reached now.
enum KSNetworkReachabilityStatus : int {
  KSNetworkReachabilityStatusUnknown = -1,
  KSNetworkReachabilityStatusNotReachable = 0,
  KSNetworkReachabilityStatusReachableViaWWAN = 1,
  KSNetworkReachabilityStatusReachableViaWiFi = 2,
};

inline constexpr std::string_view KSNetworkingReachabilityDidChangeNotification =
    "com.kestrine.networking.reachability.change";
inline constexpr std::string_view KSNetworkingReachabilityNotificationStatusItem =
    "KSNetworkingReachabilityNotificationStatusItem";

// The text of a status ("Unknown" for any value but 0, 1 and 2).
std::string KSStringFromNetworkReachabilityStatus(int status);

// Watches whether one reachability target (the internet at large, a host, an address) can
// be reached and by which kind of link. Every status, the first one read after
// startMonitoring and each change the target reports, is delivered on the main queue: the
// status is stored, the status block is called, then the change notification is posted on
// the bundle's centre. A status is delivered even when it equals the previous one.
// Thread-safe; the manager stops monitoring when it goes away.
class KSNetworkReachabilityManager final : public KSReachabilityMonitor,
                                             public std::enable_shared_from_this<KSNetworkReachabilityManager> {
 public:
  using StatusBlock = std::function<void(int status)>;

  // The one manager of the process, for the internet at large, made on first use on the
  // process's own services.
  static std::shared_ptr<KSNetworkReachabilityManager> sharedManager();

  // General internet reachability.
  static std::shared_ptr<KSNetworkReachabilityManager> manager(const KSPlatformBundle& bundle);
  static std::shared_ptr<KSNetworkReachabilityManager> managerForDomain(const KSPlatformBundle& bundle,
                                                                          std::string domain);
  // A numeric IPv4 or IPv6 address.
  static std::shared_ptr<KSNetworkReachabilityManager> managerForAddress(const KSPlatformBundle& bundle,
                                                                           std::string address);
  // Null without a reachability target: a manager always has one.
  static std::shared_ptr<KSNetworkReachabilityManager> initWithReachability(
      std::shared_ptr<platform::net::Reachability> reachability,
      std::shared_ptr<platform::dispatch::Scheduler> scheduler,
      std::shared_ptr<platform::NotificationCenter> notificationCenter);

  ~KSNetworkReachabilityManager() override;
  KSNetworkReachabilityManager(const KSNetworkReachabilityManager&) = delete;
  KSNetworkReachabilityManager& operator=(const KSNetworkReachabilityManager&) = delete;

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
  KSNetworkReachabilityManager(std::shared_ptr<platform::net::Reachability> reachability,
                                 std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                 std::shared_ptr<platform::NotificationCenter> notificationCenter);
  static void deliver(const std::weak_ptr<KSNetworkReachabilityManager>& weak,
                      const std::shared_ptr<platform::dispatch::Scheduler>& scheduler, std::uint32_t flags);
  void apply(int status);

  const std::shared_ptr<platform::net::Reachability> reachability_;
  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const std::shared_ptr<platform::NotificationCenter> notificationCenter_;
  mutable std::mutex mutex_;
  int status_ = KSNetworkReachabilityStatusUnknown;
  StatusBlock block_;
};

}  // namespace velmora::kestrine
