#include "beacons/api/KSApiOperationManager.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kLog = "api-operations";
constexpr std::size_t kNearbyBeaconsQueueLimit = 5;

constexpr std::string_view kQueueNames[5] = {
    "com.kestrine.beaconApiOperationQueue", "com.kestrine.siteApiOperationQueue",
    "com.kestrine.beaconRegionApiOperationQueue", "com.kestrine.beaconVisitApiOperationQueue",
    "com.kestrine.eventApiOperationQueue"};

std::optional<std::int64_t> statusOf(const platform::Error& error) {
  auto it = error.userInfo.find(KSNetworkingTaskResponseStatusCodeKey);
  return it == error.userInfo.end() ? std::nullopt : it->second.toInt64();
}

// Great-circle distance in metres.
double distanceBetween(const platform::location::Location& a, const platform::location::Location& b) {
  constexpr double kEarthRadius = 6371008.8;
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double dLat = (b.latitude - a.latitude) * kRad;
  const double dLon = (b.longitude - a.longitude) * kRad;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.latitude * kRad) * std::cos(b.latitude * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

// The records of a page; an item that does not import is logged and left out, so one bad
// record cannot cost the rest of its page. Nothing when the page holds no list.
template <class T>
std::optional<std::vector<std::shared_ptr<T>>> recordsOfPage(const platform::Value& items, std::string_view what) {
  const platform::Array* array = items.array();
  if (!array) return std::nullopt;
  std::vector<std::shared_ptr<T>> out;
  out.reserve(array->size());
  for (const auto& item : *array) {
    platform::Error error;
    if (auto record = T::initWithDictionary(item, &error)) {
      out.push_back(std::move(record));
    } else {
      platform::Log::warning(kLog, "skipped a {} that does not import: {}", what, error.localizedDescription);
    }
  }
  return out;
}

template <class P>
std::shared_ptr<P> find(const std::function<std::shared_ptr<P>()>& port) {
  return port ? port() : nullptr;
}

}  // namespace

KSApiOperationManager::KSApiOperationManager(Token, std::shared_ptr<KSApiClient> client,
                                             std::shared_ptr<KSUserDefaultsManager> defaults,
                                             KSApiOperationManagerPorts ports,
                                             std::shared_ptr<platform::NotificationCenter> center)
    : client_(std::move(client)), defaults_(std::move(defaults)), ports_(std::move(ports)), ownedCenter_(std::move(center)) {
  center_ = ownedCenter_ ? ownedCenter_.get() : &platform::NotificationCenter::defaultCenter();
  for (std::size_t i = 0; i < 5; ++i) {
    queues_[i] = KSOperationQueue::create(std::string(kQueueNames[i]), client_->scheduler());
    queues_[i]->setMaxConcurrentOperationCount(1);
  }
}

std::shared_ptr<KSApiOperationManager> KSApiOperationManager::create(
    std::shared_ptr<KSApiClient> client, std::shared_ptr<KSUserDefaultsManager> defaults,
    KSApiOperationManagerPorts ports, std::shared_ptr<KSNetworkReachabilityManager> reachability,
    std::shared_ptr<platform::NotificationCenter> center) {
  auto manager = std::make_shared<KSApiOperationManager>(Token{}, std::move(client), std::move(defaults),
                                                         std::move(ports), std::move(center));
  if (reachability) manager->reachabilityStatus_.store(reachability->networkReachabilityStatus());
  std::weak_ptr<KSApiOperationManager> weak = manager;
  manager->reachabilityObserver_ = manager->center_->addObserver(
      std::string(KSNetworkingReachabilityDidChangeNotification), nullptr, nullptr,
      [weak](const platform::Notification& n) {
        auto self = weak.lock();
        if (!self) return;
        auto it = n.userInfo.find(KSNetworkingReachabilityNotificationStatusItem);
        const auto status = it == n.userInfo.end() ? std::nullopt : it->second.toInt64();
        self->networkReachabilityDidChange(static_cast<int>(status.value_or(KSNetworkReachabilityStatusUnknown)));
      });
  return manager;
}

KSApiOperationManager::~KSApiOperationManager() {
  center_->removeObserver(reachabilityObserver_);
  for (const auto& queue : queues_) {
    for (const auto& operation : queue->operations()) operation->setDelegate(nullptr);
    queue->cancelAllOperations();
  }
}

platform::Date KSApiOperationManager::now() const { return client_->scheduler()->clock()->now(); }

double KSApiOperationManager::distanceFilter() { return KSDefaultNearbySitesDistanceFilterInMeters * 0.5; }

std::optional<platform::location::Location> KSApiOperationManager::locationOfLastNearbySitesRequestOperation() const {
  std::lock_guard lock(locationMutex_);
  return lastNearbySitesLocation_;
}

// --- the gate -------------------------------------------------------------------------------

bool KSApiOperationManager::networkIsReachable() const {
  const int status = reachabilityStatus_.load();
  return status == KSNetworkReachabilityStatusReachableViaWWAN || status == KSNetworkReachabilityStatusReachableViaWiFi;
}

bool KSApiOperationManager::isUsingApi() {
  auto sdk = find(ports_.sdk);
  return sdk && sdk->isUsingApi();
}

bool KSApiOperationManager::isTimeToRetry() {
  if (!defaults_) return true;
  auto retryAfter = defaults_->apiRetryAfter();
  return !retryAfter || now() > *retryAfter;
}

bool KSApiOperationManager::shouldRunOperations() {
  if (!networkIsReachable() || !isUsingApi()) return false;
  auto sdk = find(ports_.sdk);
  if (!sdk || sdk->appTokenVerificationStatus() != 2) return false;
  return isTimeToRetry();
}

// --- queues and add tests ---------------------------------------------------------------------

const std::shared_ptr<KSOperationQueue>& KSApiOperationManager::queueForType(std::int32_t type) const {
  switch (type) {
    case KSApiOperationTypeSyncBeaconsInSiteWithSiteID:
    case KSApiOperationTypeSyncBeaconWithIdentifier:
    case KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier:
    case KSApiOperationTypeSyncAllBeaconsForApp:
      return queues_[0];
    case KSApiOperationTypeSyncSitesNearbyLocation:
    case KSApiOperationTypeSyncSiteWithSiteID:
    case KSApiOperationTypeSyncAllSitesForApp:
      return queues_[1];
    case KSApiOperationTypeSyncBeaconRegionsWithAppToken:
      return queues_[2];
    case KSApiOperationTypePostBeaconVisits:
      return queues_[3];
    default:
      return queues_[4];
  }
}

template <class Op, class Same>
bool KSApiOperationManager::hasLiveOperation(std::int32_t type, Same same) const {
  for (const auto& operation : queueForType(type)->operations()) {
    auto op = std::dynamic_pointer_cast<Op>(operation);
    if (!op || op->operationType() != type || op->isFinished() || op->isCancelled()) continue;
    if (same(*op)) return true;
  }
  return false;
}

void KSApiOperationManager::add(const std::shared_ptr<KSApiOperation>& operation) {
  if (!operation) return;
  operation->setClient(client_);
  queueForType(operation->operationType())->addOperation(operation);
}

namespace {
constexpr auto any = [](const auto&) { return true; };
}

void KSApiOperationManager::syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) {
  if (!shouldRunOperations() || hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncAllBeaconsForApp, any)) {
    return;
  }
  add(KSApiOperation::operationForSyncAllBeaconsForAppModifiedAfter(modifiedAfter, shared_from_this()));
}

void KSApiOperationManager::syncBeaconsInSiteWithSiteID(const std::string& siteID,
                                                        std::optional<platform::Date> modifiedAfter) {
  if (!shouldRunOperations() || siteID.empty()) return;
  if (hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconsInSiteWithSiteID,
                                             [&](const KSPaginatorOperation& op) { return op.siteID() == siteID; })) {
    return;
  }
  add(KSApiOperation::operationForSyncBeaconsInSiteWithSiteID(siteID, modifiedAfter, shared_from_this()));
}

void KSApiOperationManager::syncBeaconsNearbyBeaconWithIdentifier(const std::string& identifier,
                                                                  std::int64_t identifierType) {
  if (!shouldRunOperations() || identifier.empty()) return;
  if (beaconApiOperationQueue()->operationCount() > kNearbyBeaconsQueueLimit) return;
  if (hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconsInSiteWithSiteID, any)) return;
  if (hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier,
                                             [&](const KSPaginatorOperation& op) {
                                               return op.beaconIdentifierType() == identifierType &&
                                                      op.beaconIdentifierString() == identifier;
                                             })) {
    return;
  }
  add(KSApiOperation::operationForSyncBeaconsNearbyBeaconWithIdentifier(identifier, identifierType, shared_from_this()));
}

void KSApiOperationManager::syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& key) {
  syncBeaconsNearbyBeaconWithIdentifier(key, KSBeaconIdentifierTypeIBeaconKey);
}
void KSApiOperationManager::syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address) {
  syncBeaconsNearbyBeaconWithIdentifier(address, KSBeaconIdentifierTypeBluetoothAddress);
}
void KSApiOperationManager::syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid) {
  syncBeaconsNearbyBeaconWithIdentifier(uid, KSBeaconIdentifierTypeEddystoneUID);
}

void KSApiOperationManager::syncAllSitesForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) {
  if (!shouldRunOperations() || hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncAllSitesForApp, any)) {
    return;
  }
  add(KSApiOperation::operationForSyncAllSitesForAppModifiedAfter(modifiedAfter, shared_from_this()));
}

void KSApiOperationManager::syncSitesNearbyLocation(const std::optional<platform::location::Location>& location) {
  if (!shouldRunOperations() || !location) return;
  add(KSApiOperation::operationForSyncSitesNearbyLocation(location, shared_from_this()));
}

bool KSApiOperationManager::syncBeaconRegionsWithAppToken(const std::string& appToken) {
  if (!shouldRunOperations() ||
      hasLiveOperation<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconRegionsWithAppToken, any)) {
    return false;
  }
  auto op = KSApiOperation::operationForSyncBeaconRegionsWithAppToken(appToken, shared_from_this());
  if (!op) return false;
  add(op);
  return true;
}

void KSApiOperationManager::syncBeaconWithIdentifier(const std::string& identifier, std::int64_t identifierType) {
  if (!shouldRunOperations() || identifier.empty()) return;
  if (hasLiveOperation<KSGETSessionDataTaskOperation>(KSApiOperationTypeSyncBeaconWithIdentifier,
                                                      [&](const KSGETSessionDataTaskOperation& op) {
                                                        return op.beaconIdentifierType() == identifierType &&
                                                               op.beaconIdentifierString() == identifier;
                                                      })) {
    return;
  }
  add(KSApiOperation::operationForSyncBeaconWithIdentifier(identifier, identifierType, shared_from_this()));
}

void KSApiOperationManager::syncBeaconWithBluetoothAddress(const std::string& address) {
  syncBeaconWithIdentifier(address, KSBeaconIdentifierTypeBluetoothAddress);
}
void KSApiOperationManager::syncBeaconWithSerialNumber(const std::string& serialNumber) {
  syncBeaconWithIdentifier(serialNumber, KSBeaconIdentifierTypeSerialNumber);
}

void KSApiOperationManager::syncSiteWithSiteID(const std::string& siteID) {
  if (!shouldRunOperations() || siteID.empty()) return;
  if (hasLiveOperation<KSGETSessionDataTaskOperation>(
          KSApiOperationTypeSyncSiteWithSiteID,
          [&](const KSGETSessionDataTaskOperation& op) { return op.siteID() == siteID; })) {
    return;
  }
  add(KSApiOperation::operationForSyncSiteWithSiteID(siteID, shared_from_this()));
}

void KSApiOperationManager::cancelAllOperations() {
  for (const auto& queue : queues_) queue->cancelAllOperations();
}

std::shared_ptr<KSBeacon> KSApiOperationManager::cachedBeaconWithIdentifier(const std::string& identifier,
                                                                           std::int64_t identifierType) {
  auto hub = find(ports_.beaconCache);
  if (!hub) return nullptr;
  switch (identifierType) {
    case KSBeaconIdentifierTypeSerialNumber: return hub->cachedBeaconWithSerialNumber(identifier);
    case KSBeaconIdentifierTypeBluetoothAddress: return hub->cachedBeaconWithBluetoothAddress(identifier);
    case KSBeaconIdentifierTypeBeaconID: return hub->cachedBeaconWithBeaconID(identifier);
    case KSBeaconIdentifierTypeIBeaconKey: return hub->cachedBeaconWithIBeaconKey(identifier);
    case KSBeaconIdentifierTypeEddystoneUID: return hub->cachedBeaconWithEddystoneUIDString(identifier);
    default: return nullptr;
  }
}

// --- posting --------------------------------------------------------------------------------

KSApiOperationManager::Pending& KSApiOperationManager::pendingFor(std::int32_t type) {
  return type == KSApiOperationTypePostBeaconVisits ? visits_ : events_;
}
const KSApiOperationManager::Pending& KSApiOperationManager::pendingFor(std::int32_t type) const {
  return type == KSApiOperationTypePostBeaconVisits ? visits_ : events_;
}

void KSApiOperationManager::postBeaconVisit(std::shared_ptr<KSApiPostable> visit) {
  if (!visit) return;
  {
    std::lock_guard lock(visits_.lock);
    visits_.items.push_back(std::move(visit));
  }
  queueNextBeaconVisitRequestOperation();
}

void KSApiOperationManager::postEvent(std::shared_ptr<KSApiPostable> event) {
  if (!event) return;
  {
    std::lock_guard lock(events_.lock);
    events_.items.push_back(std::move(event));
  }
  queueNextEventRequestOperation();
}

bool KSApiOperationManager::hasBeaconVisitToPost() const { return pendingBeaconVisitCount() > 0; }
bool KSApiOperationManager::hasEventToPost() const { return pendingEventCount() > 0; }

std::size_t KSApiOperationManager::pendingBeaconVisitCount() const {
  std::lock_guard lock(visits_.lock);
  return visits_.items.size();
}
std::size_t KSApiOperationManager::pendingEventCount() const {
  std::lock_guard lock(events_.lock);
  return events_.items.size();
}

void KSApiOperationManager::queueNextPost(std::int32_t type) {
  if (!shouldRunOperations()) return;
  if (hasLiveOperation<KSPOSTSessionDataTaskOperation>(type, any)) return;
  const bool pending = type == KSApiOperationTypePostBeaconVisits ? hasBeaconVisitToPost() : hasEventToPost();
  if (!pending) return;
  add(type == KSApiOperationTypePostBeaconVisits ? KSApiOperation::operationForPostBeaconVisitsWithDelegate(shared_from_this())
                                                 : KSApiOperation::operationForPostEventsWithDelegate(shared_from_this()));
}

void KSApiOperationManager::queueNextBeaconVisitRequestOperation() { queueNextPost(KSApiOperationTypePostBeaconVisits); }
void KSApiOperationManager::queueNextEventRequestOperation() { queueNextPost(KSApiOperationTypePostEvents); }

KSRange KSApiOperationManager::operationNeedsRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) {
  if (!operation) return {};
  const std::int32_t type = operation->operationType();
  if (type == KSApiOperationTypePostBeaconVisits) {
    return {0, std::min<std::uint64_t>(pendingBeaconVisitCount(), KSBeaconVisitsPerPostLimit)};
  }
  if (type == KSApiOperationTypePostEvents) {
    return {0, std::min<std::uint64_t>(pendingEventCount(), KSEventsPerPostLimit)};
  }
  return {};
}

std::optional<KSApiPostables> KSApiOperationManager::operationObjectsForRange(
    const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation, KSRange range) {
  if (!operation) return std::nullopt;
  const std::int32_t type = operation->operationType();
  if (type != KSApiOperationTypePostBeaconVisits && type != KSApiOperationTypePostEvents) return std::nullopt;
  KSApiPostables snapshot;
  {
    const Pending& pending = pendingFor(type);
    std::lock_guard lock(pending.lock);
    snapshot = pending.items;
  }
  if (snapshot.size() < range.location + range.length) return std::nullopt;
  return KSApiPostables(snapshot.begin() + static_cast<std::ptrdiff_t>(range.location),
                        snapshot.begin() + static_cast<std::ptrdiff_t>(range.location + range.length));
}

void KSApiOperationManager::operationDidSucceed(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) {
  if (!operation) return;
  const std::int32_t type = operation->operationType();
  if (type != KSApiOperationTypePostBeaconVisits && type != KSApiOperationTypePostEvents) return;
  const KSRange range = operation->rangeForObjects();
  Pending& pending = pendingFor(type);
  std::lock_guard lock(pending.lock);
  if (pending.items.size() < range.location + range.length) return;
  const auto first = pending.items.begin() + static_cast<std::ptrdiff_t>(range.location);
  const auto last = first + static_cast<std::ptrdiff_t>(range.length);
  const platform::Date postedAt = now();
  auto store = find(ports_.store);
  if (type == KSApiOperationTypePostBeaconVisits) {
    for (auto it = first; it != last; ++it) (*it)->setLastPostedAt(postedAt);
    if (store) store->saveContext();
  } else if (store) {
    for (auto it = first; it != last; ++it) {
      if (auto id = (*it)->eventID()) store->updateEventPostedAt(*id, postedAt);
    }
  }
  pending.items.erase(first, last);
}

// --- start test -----------------------------------------------------------------------------

bool KSApiOperationManager::operationShouldStart(const std::shared_ptr<KSOperation>& operation) {
  if (!operation || !shouldRunOperations()) return false;
  if (auto post = std::dynamic_pointer_cast<KSPOSTSessionDataTaskOperation>(operation)) {
    switch (post->operationType()) {
      case KSApiOperationTypePostBeaconVisits: return hasBeaconVisitToPost();
      case KSApiOperationTypePostEvents: return hasEventToPost();
      default: return false;
    }
  }
  auto hub = find(ports_.beaconCache);
  auto sites = find(ports_.siteCache);
  if (auto paging = std::dynamic_pointer_cast<KSPaginatorOperation>(operation)) {
    switch (paging->operationType()) {
      case KSApiOperationTypeSyncAllBeaconsForApp:
        if (!hub) return false;
        return paging->modifiedAfter() ? hub->canCacheRefreshForApp() : hub->canCacheFullSyncForApp();
      case KSApiOperationTypeSyncBeaconsInSiteWithSiteID: {
        if (!hub) return false;
        const std::string siteID = paging->siteID().value_or("");
        return paging->modifiedAfter() ? hub->canCacheRefreshForSiteID(siteID) : hub->canCacheFullSyncForSiteID(siteID);
      }
      case KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier: {
        auto beacon = cachedBeaconWithIdentifier(paging->beaconIdentifierString().value_or(""),
                                                 paging->beaconIdentifierType());
        if (!beacon || beacon->syncStatus() != KSSyncStatusSynced) return true;
        auto syncedAt = beacon->syncedAt();
        return !syncedAt || !(*syncedAt > now().addingTimeInterval(-KSApiNearbyBeaconsResyncIntervalInSeconds));
      }
      case KSApiOperationTypeSyncAllSitesForApp:
        return sites && sites->hasCacheExpiredForSitesForApp();
      case KSApiOperationTypeSyncSitesNearbyLocation: {
        auto last = locationOfLastNearbySitesRequestOperation();
        auto location = paging->location();
        return !last || (location && distanceBetween(*last, *location) >= distanceFilter());
      }
      default:
        return true;
    }
  }
  if (auto get = std::dynamic_pointer_cast<KSGETSessionDataTaskOperation>(operation)) {
    switch (get->operationType()) {
      case KSApiOperationTypeSyncBeaconWithIdentifier: {
        auto beacon = cachedBeaconWithIdentifier(get->beaconIdentifierString().value_or(""), get->beaconIdentifierType());
        return !beacon || beacon->syncStatus() != KSSyncStatusSynced;
      }
      case KSApiOperationTypeSyncSiteWithSiteID: {
        if (!sites) return false;
        auto site = sites->cachedSiteWithSiteID(get->siteID().value_or(""));
        if (!site) return false;
        return sites->hasCacheExpiredForSiteWithID(site->siteID().value_or(""));
      }
      default:
        return true;
    }
  }
  return false;
}

void KSApiOperationManager::operationDidFinish(const std::shared_ptr<KSOperation>& operation) {
  auto post = std::dynamic_pointer_cast<KSPOSTSessionDataTaskOperation>(operation);
  if (!post || !post->succeeded()) return;
  queueNextPost(post->operationType());
}

// --- results --------------------------------------------------------------------------------

void KSApiOperationManager::operationDidLoadJSON(const std::shared_ptr<KSApiOperation>& operation,
                                                 const platform::Value& json) {
  if (!operation) return;
  platform::Error error;
  if (operation->operationType() == KSApiOperationTypeSyncBeaconWithIdentifier) {
    auto beacon = KSBeacon::initWithDictionary(json["beacon"], &error);
    auto hub = find(ports_.beaconCache);
    if (!beacon) {
      platform::Log::warning(kLog, "a synced beacon does not import: {}", error.localizedDescription);
      return;
    }
    if (!hub) return;
    KSBeaconSyncResult result;
    result.httpStatusCode = 200;
    result.beacons = {beacon};
    hub->cacheBeaconsFromSyncResult(result);
  } else if (operation->operationType() == KSApiOperationTypeSyncSiteWithSiteID) {
    auto site = KSSite::initWithDictionary(json["site"], &error);
    auto sites = find(ports_.siteCache);
    if (!site) {
      platform::Log::warning(kLog, "a synced site does not import: {}", error.localizedDescription);
      return;
    }
    if (!sites) return;
    KSSiteSyncResult result;
    result.httpStatusCode = 200;
    result.sites = {site};
    sites->cacheSitesFromSyncResult(result);
  }
}

void KSApiOperationManager::operationPaginatorDidLoadJSON(const std::shared_ptr<KSPaginatorOperation>& operation,
                                                          const std::shared_ptr<KSPaginator>& paginator,
                                                          const platform::Value& items) {
  if (!operation || !paginator) return;
  // A cancelled walk is cut short: its last page delivered does not complete a sync.
  const bool lastPage = !paginator->walkContinues() && !paginator->isCancelled();
  const std::int32_t type = operation->operationType();
  switch (type) {
    case KSApiOperationTypeSyncAllBeaconsForApp:
    case KSApiOperationTypeSyncBeaconsInSiteWithSiteID:
    case KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier: {
      auto beacons = recordsOfPage<KSBeacon>(items, "beacon");
      if (!beacons) return;
      KSBeaconSyncResult result;
      result.httpStatusCode = 200;
      result.modifiedAfter = operation->modifiedAfter();
      if (type == KSApiOperationTypeSyncAllBeaconsForApp) result.includeLatestForApp = lastPage;
      if (type == KSApiOperationTypeSyncBeaconsInSiteWithSiteID && lastPage) result.siteID = operation->siteID();
      if (type == KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier && lastPage && items.size() >= 2 &&
          !beacons->empty()) {
        result.siteID = beacons->front()->siteID();
      }
      result.beacons = std::move(*beacons);
      if (auto hub = find(ports_.beaconCache)) hub->cacheBeaconsFromSyncResult(result);
      break;
    }
    case KSApiOperationTypeSyncSitesNearbyLocation:
    case KSApiOperationTypeSyncAllSitesForApp: {
      auto sites = recordsOfPage<KSSite>(items, "site");
      if (!sites) return;
      KSSiteSyncResult result;
      result.httpStatusCode = 200;
      if (type == KSApiOperationTypeSyncAllSitesForApp) {
        result.includeLatestForApp = lastPage;
        result.modifiedAfter = operation->modifiedAfter();
      }
      result.sites = std::move(*sites);
      if (auto cache = find(ports_.siteCache)) cache->cacheSitesFromSyncResult(result);
      if (type == KSApiOperationTypeSyncSitesNearbyLocation) {
        std::lock_guard lock(locationMutex_);
        lastNearbySitesLocation_ = operation->location();
      }
      break;
    }
    case KSApiOperationTypeSyncBeaconRegionsWithAppToken: {
      auto regions = recordsOfPage<KSBeaconRegion>(items, "beacon region");
      if (!regions) return;
      KSBeaconRegionSyncResult result;
      result.httpStatusCode = 200;
      result.beaconRegions = std::move(*regions);
      if (auto cache = find(ports_.regionCache)) cache->cacheBeaconRegionsFromSyncResult(result);
      break;
    }
    default:
      break;
  }
}

// --- failures -------------------------------------------------------------------------------

void KSApiOperationManager::operationDidFailWithError(const std::shared_ptr<KSApiOperation>& operation,
                                                      const platform::Error& error) {
  if (!operation) return;
  const auto status = statusOf(error);
  const std::int32_t type = operation->operationType();
  switch (type) {
    case KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier:
    case KSApiOperationTypeSyncBeaconWithIdentifier:
    case KSApiOperationTypeSyncBeaconsInSiteWithSiteID: {
      KSBeaconSyncResult result;
      result.httpStatusCode = status;
      if (type == KSApiOperationTypeSyncBeaconsInSiteWithSiteID) {
        result.siteID = operation->siteID();
      } else {
        result.beaconIdentifierType = operation->beaconIdentifierType();
        result.beaconIdentifierString = operation->beaconIdentifierString();
      }
      if (auto hub = find(ports_.beaconCache)) hub->cacheBeaconsFromSyncResult(result);
      break;
    }
    case KSApiOperationTypeSyncSiteWithSiteID: {
      KSSiteSyncResult result;
      result.httpStatusCode = status;
      result.siteID = operation->siteID();
      if (auto sites = find(ports_.siteCache)) sites->cacheSitesFromSyncResult(result);
      break;
    }
    case KSApiOperationTypePostBeaconVisits:
    case KSApiOperationTypePostEvents: {
      auto post = std::dynamic_pointer_cast<KSPOSTSessionDataTaskOperation>(operation);
      if (post && status && *status >= 400) {
        // A rejected batch is dropped (its rows stay unposted in the store), so one bad
        // record cannot block the queue.
        const KSRange range = post->rangeForObjects();
        Pending& pending = pendingFor(type);
        std::lock_guard lock(pending.lock);
        if (pending.items.size() >= range.location + range.length) {
          const auto first = pending.items.begin() + static_cast<std::ptrdiff_t>(range.location);
          pending.items.erase(first, first + static_cast<std::ptrdiff_t>(range.length));
        }
      }
      break;
    }
    default:
      break;
  }

  if (status == 401) {
    platform::Log::warning(kLog, "the cloud API refused the app token (401): stopping");
    if (auto sdk = find(ports_.sdk)) sdk->stopRunning();
    cancelAllOperations();
    return;
  }
  if ((status && (*status == 429 || *status >= 500)) || (!status && networkIsReachable())) {
    setRetryAfterFromError(error);
  }
}

namespace {

// The decimal number a text begins with (after blanks): digits with an optional fraction and
// exponent, no sign, no hexadecimal, no "inf" or "nan". 0 when the text begins otherwise (an
// HTTP date); a number too large for a double is infinity.
double leadingDecimalNumber(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return 0;
  text.remove_prefix(start);
  const bool digitFirst = text[0] >= '0' && text[0] <= '9';
  const bool pointFirst = text.size() > 1 && text[0] == '.' && text[1] >= '0' && text[1] <= '9';
  if (!digitFirst && !pointFirst) return 0;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond every double (infinity) or below the smallest one (0): the text matched holds
    // only decimal digits, a point and an exponent, which strtod reads the same way.
    return std::strtod(std::string(text.data(), static_cast<std::size_t>(end - text.data())).c_str(), nullptr);
  }
  return ec == std::errc() ? value : 0.0;
}

}  // namespace

void KSApiOperationManager::setRetryAfterFromError(const platform::Error& error) {
  double delay = 0;
  auto it = error.userInfo.find(KSNetworkingTaskResponseRetryAfterKey);
  if (it != error.userInfo.end()) {
    if (const std::string* text = it->second.string()) {
      delay = leadingDecimalNumber(*text);
    } else if (auto number = it->second.toDouble()) {
      delay = *number;
    }
  }
  if (!(delay > 0)) delay = KSApiRetryAfterDefaultTimeIntervalInSeconds;
  delay = std::min(delay, kLongestRetryAfterInSeconds);
  const platform::Date until = now().addingTimeInterval(delay);
  platform::Log::info(kLog, "cloud API throttled for {} s", delay);
  if (defaults_) defaults_->setApiRetryAfter(until);
}

void KSApiOperationManager::networkReachabilityDidChange(int status) {
  reachabilityStatus_.store(status);
  if (!shouldRunOperations()) return;
  queueNextBeaconVisitRequestOperation();
  queueNextEventRequestOperation();
}

}  // namespace velmora::kestrine
