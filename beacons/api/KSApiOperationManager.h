#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/api/KSApiOperation.h"
#include "beacons/api/KSApiOperationPorts.h"
#include "platform/core/Error.h"
#include "platform/location/Location.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSNetworkReachabilityManager;
class KSApiClient;
class KSBeacon;
class KSOperationQueue;
class KSUserDefaultsManager;

// Re-asking for the neighbourhood of a synced beacon waits this long.
inline constexpr double KSApiNearbyBeaconsResyncIntervalInSeconds = 300.0;

// The scheduler of every synchronisation with the cloud API. Requests pass a gate (network
// reachable, API in use, app token verified, no pending retry-after time) and an add test
// (no live twin), then queue one operation on one of five serial queues; when the operation
// is about to run, a start test asks the consumers' cache state whether the call is still
// worth making. Parsed pages go to the beacon, site and region caches as sync results;
// visits and events post ten at a time. 429, 5xx and failures without a response while
// reachable close the gate for the server's Retry-After (10 s by default), persisted in user
// defaults; 401 stops the SDK and cancels everything queued.
//
// Requests may come from any thread. Results, failures and post successes arrive on the API
// client's completion queue. The pending lists are guarded by their own locks.
class KSApiOperationManager : public KSPaginatorOperationDelegate,
                              public KSPOSTSessionDataTaskOperationDelegate,
                              public std::enable_shared_from_this<KSApiOperationManager> {
 public:
  // The longest throttle a server's "Retry-After" can set: a larger delay (up to 1e300 s, or
  // one beyond any date) closes the gate for this long, so the SDK asks again a day later and
  // the retry time stays a date the user defaults can hold.
  static constexpr double kLongestRetryAfterInSeconds = 86400.0;

  static constexpr std::string_view kSingletonName = "KSApiOperationManager";

  // Observes `center` for reachability changes and takes `reachability`'s status as its
  // first (unknown without one).
  static std::shared_ptr<KSApiOperationManager> create(std::shared_ptr<KSApiClient> client,
                                                       std::shared_ptr<KSUserDefaultsManager> defaults,
                                                       KSApiOperationManagerPorts ports,
                                                       std::shared_ptr<KSNetworkReachabilityManager> reachability,
                                                       std::shared_ptr<platform::NotificationCenter> center = nullptr);
  ~KSApiOperationManager() override;

  // --- requests
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> modifiedAfter);
  void syncBeaconsInSiteWithSiteID(const std::string& siteID, std::optional<platform::Date> modifiedAfter);
  void syncBeaconsNearbyBeaconWithIdentifier(const std::string& identifier, std::int64_t identifierType);
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& key);
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address);
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid);
  void syncAllSitesForAppModifiedAfter(std::optional<platform::Date> modifiedAfter);
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>& location);
  // True when an operation was queued.
  bool syncBeaconRegionsWithAppToken(const std::string& appToken);
  void syncBeaconWithIdentifier(const std::string& identifier, std::int64_t identifierType);
  void syncBeaconWithBluetoothAddress(const std::string& address);
  void syncBeaconWithSerialNumber(const std::string& serialNumber);
  void syncSiteWithSiteID(const std::string& siteID);
  void postBeaconVisit(std::shared_ptr<KSApiPostable> visit);
  void postEvent(std::shared_ptr<KSApiPostable> event);

  void cancelAllOperations();
  static double distanceFilter();
  std::shared_ptr<KSBeacon> cachedBeaconWithIdentifier(const std::string& identifier, std::int64_t identifierType);

  // --- the gate
  bool shouldRunOperations();
  bool networkIsReachable() const;
  bool isUsingApi();
  bool isTimeToRetry();
  int networkReachabilityStatus() const { return reachabilityStatus_.load(); }

  // --- posting steps
  void queueNextBeaconVisitRequestOperation();
  void queueNextEventRequestOperation();
  bool hasBeaconVisitToPost() const;
  bool hasEventToPost() const;
  std::size_t pendingBeaconVisitCount() const;
  std::size_t pendingEventCount() const;

  const std::shared_ptr<KSOperationQueue>& beaconApiOperationQueue() const { return queues_[0]; }
  const std::shared_ptr<KSOperationQueue>& siteApiOperationQueue() const { return queues_[1]; }
  const std::shared_ptr<KSOperationQueue>& beaconRegionApiOperationQueue() const { return queues_[2]; }
  const std::shared_ptr<KSOperationQueue>& beaconVisitApiOperationQueue() const { return queues_[3]; }
  const std::shared_ptr<KSOperationQueue>& eventApiOperationQueue() const { return queues_[4]; }
  std::optional<platform::location::Location> locationOfLastNearbySitesRequestOperation() const;

  // --- operation delegate
  bool operationShouldStart(const std::shared_ptr<KSOperation>& operation) override;
  void operationDidFinish(const std::shared_ptr<KSOperation>& operation) override;
  void operationDidCancel(const std::shared_ptr<KSOperation>&) override {}
  void operationDidLoadJSON(const std::shared_ptr<KSApiOperation>& operation, const platform::Value& json) override;
  void operationPaginatorDidLoadJSON(const std::shared_ptr<KSPaginatorOperation>& operation,
                                     const std::shared_ptr<KSPaginator>& paginator,
                                     const platform::Value& items) override;
  void operationDidFailWithError(const std::shared_ptr<KSApiOperation>& operation,
                                 const platform::Error& error) override;
  KSRange operationNeedsRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) override;
  std::optional<KSApiPostables> operationObjectsForRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation,
                                                         KSRange range) override;
  void operationDidSucceed(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) override;

  void networkReachabilityDidChange(int status);

 private:
  struct Token {};

 public:
  KSApiOperationManager(Token, std::shared_ptr<KSApiClient> client, std::shared_ptr<KSUserDefaultsManager> defaults,
                        KSApiOperationManagerPorts ports, std::shared_ptr<platform::NotificationCenter> center);

 private:
  struct Pending {
    mutable std::recursive_mutex lock;
    KSApiPostables items;
  };

  const std::shared_ptr<KSOperationQueue>& queueForType(std::int32_t type) const;
  // A live operation of the type in its own queue that also passes `same`.
  template <class Op, class Same>
  bool hasLiveOperation(std::int32_t type, Same same) const;
  void add(const std::shared_ptr<KSApiOperation>& operation);
  void queueNextPost(std::int32_t type);
  Pending& pendingFor(std::int32_t type);
  const Pending& pendingFor(std::int32_t type) const;
  void setRetryAfterFromError(const platform::Error& error);
  platform::Date now() const;

  const std::shared_ptr<KSApiClient> client_;
  const std::shared_ptr<KSUserDefaultsManager> defaults_;
  const KSApiOperationManagerPorts ports_;
  std::shared_ptr<platform::NotificationCenter> ownedCenter_;
  platform::NotificationCenter* center_ = nullptr;
  platform::NotificationCenter::ObserverToken reachabilityObserver_;
  std::shared_ptr<KSOperationQueue> queues_[5];
  std::atomic<int> reachabilityStatus_{-1};
  mutable std::mutex locationMutex_;
  std::optional<platform::location::Location> lastNearbySitesLocation_;
  Pending visits_;
  Pending events_;
};

}  // namespace velmora::kestrine
