#include "beacons/api/KSApiOperation.h"

#include <utility>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSStringify.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

// --- base -----------------------------------------------------------------------------------

std::shared_ptr<KSApiClient> KSApiOperation::client() const {
  return client_ ? client_ : KSApiClient::sharedApiClient();
}

std::shared_ptr<KSApiOperationDelegate> KSApiOperation::apiDelegate() const {
  return std::dynamic_pointer_cast<KSApiOperationDelegate>(delegate());
}

// --- one request ----------------------------------------------------------------------------

std::shared_ptr<KSApiDataTask> KSSessionDataTaskOperation::sessionDataTask() const {
  std::lock_guard lock(taskMutex_);
  return sessionDataTask_;
}

bool KSSessionDataTaskOperation::doOperation() {
  auto task = createSessionDataTask();
  {
    std::lock_guard lock(taskMutex_);
    sessionDataTask_ = task;
  }
  if (!task) return false;
  task->resume();
  return true;
}

void KSSessionDataTaskOperation::cancel() {
  std::lock_guard guard(lock());
  if (isExecuting()) {
    // The task fails with a cancellation, which reaches the delegate and finishes us.
    if (auto task = sessionDataTask()) task->cancel();
    return;
  }
  cancelWithoutLocking();
}

void KSSessionDataTaskOperation::cancelOperation() {
  if (auto task = sessionDataTask()) task->cancel();
}

std::shared_ptr<KSApiDataTask> KSGETSessionDataTaskOperation::createSessionDataTask() {
  std::weak_ptr<KSGETSessionDataTaskOperation> weak = self<KSGETSessionDataTaskOperation>();
  return client()->dataTaskWithHTTPMethod(
      "GET", path_, parameters_,
      [weak](const KSApiClient::Task&, const platform::Value& json) {
        auto op = weak.lock();
        if (!op) return;
        if (auto delegate = op->apiDelegate()) delegate->operationDidLoadJSON(op, json);
        op->finish();
      },
      [weak](const KSApiClient::Task&, const platform::Error& error) {
        auto op = weak.lock();
        if (!op) return;
        if (auto delegate = op->apiDelegate()) delegate->operationDidFailWithError(op, error);
        op->finish();
      });
}

bool KSPOSTSessionDataTaskOperation::succeeded() const {
  std::lock_guard lock(mutex_);
  return succeeded_;
}
KSApiPostables KSPOSTSessionDataTaskOperation::objects() const {
  std::lock_guard lock(mutex_);
  return objects_;
}
KSRange KSPOSTSessionDataTaskOperation::rangeForObjects() const {
  std::lock_guard lock(mutex_);
  return rangeForObjects_;
}
std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate> KSPOSTSessionDataTaskOperation::postDelegate() const {
  return std::dynamic_pointer_cast<KSPOSTSessionDataTaskOperationDelegate>(delegate());
}

std::shared_ptr<KSApiDataTask> KSPOSTSessionDataTaskOperation::createSessionDataTask() {
  auto delegate = postDelegate();
  if (!delegate) return nullptr;
  auto me = self<KSPOSTSessionDataTaskOperation>();
  const KSRange range = delegate->operationNeedsRange(me);
  {
    std::lock_guard lock(mutex_);
    rangeForObjects_ = range;
  }
  if (range.length == 0) return nullptr;
  auto objects = delegate->operationObjectsForRange(me, range);
  if (!objects || objects->empty()) return nullptr;
  platform::Array dictionaries;
  dictionaries.reserve(objects->size());
  for (const auto& object : *objects) dictionaries.push_back(object ? object->toDictionary() : platform::Value());
  {
    std::lock_guard lock(mutex_);
    objects_ = *objects;
  }
  platform::Value body;
  body.set(resourcePath_, platform::Value(std::move(dictionaries)));
  std::string lowerPath = resourcePath_;
  for (char& c : lowerPath) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  std::weak_ptr<KSPOSTSessionDataTaskOperation> weak = me;
  auto task = client()->dataTaskWithHTTPMethod(
      "POST", lowerPath, body,
      [weak](const KSApiClient::Task&, const platform::Value&) {
        auto op = weak.lock();
        if (!op) return;
        {
          std::lock_guard lock(op->mutex_);
          op->succeeded_ = true;
        }
        if (auto d = op->postDelegate()) d->operationDidSucceed(op);
        op->finish();
      },
      [weak](const KSApiClient::Task&, const platform::Error& error) {
        auto op = weak.lock();
        if (!op) return;
        if (auto d = op->apiDelegate()) d->operationDidFailWithError(op, error);
        op->finish();
      });
  delegate->operationWillStart(me);
  return task;
}

// --- paging ---------------------------------------------------------------------------------

std::shared_ptr<KSPaginator> KSPaginatorOperation::paginator() const {
  std::lock_guard lock(mutex_);
  return paginator_;
}

std::shared_ptr<KSPaginatorOperationDelegate> KSPaginatorOperation::paginatorDelegate() const {
  return std::dynamic_pointer_cast<KSPaginatorOperationDelegate>(delegate());
}

bool KSPaginatorOperation::doOperation() {
  std::weak_ptr<KSPaginatorOperation> weak = self<KSPaginatorOperation>();
  auto paginator = KSPaginator::loadAllPagesForPath(
      resourcePath_, parameters_,
      [weak](const platform::Value& items, const std::shared_ptr<KSPaginator>& paginator) {
        auto op = weak.lock();
        if (!op) return;
        if (auto d = op->paginatorDelegate()) d->operationPaginatorDidLoadJSON(op, paginator, items);
        if (!paginator->walkContinues()) op->finish();
      },
      [weak](const platform::Error& error) {
        auto op = weak.lock();
        if (!op) return;
        if (auto d = op->apiDelegate()) d->operationDidFailWithError(op, error);
        op->finish();
      },
      client());
  std::lock_guard lock(mutex_);
  paginator_ = std::move(paginator);
  return true;
}

void KSPaginatorOperation::cancelOperation() {
  if (auto p = paginator()) p->cancel();
}

// --- factories ------------------------------------------------------------------------------

namespace {

bool required(bool present, std::string_view name) { return platform::precondition(present, name); }

template <class Op, class Delegate>
std::shared_ptr<Op> make(std::int32_t type, const std::shared_ptr<Delegate>& delegate) {
  auto op = std::make_shared<Op>();
  op->setOperationType(type);
  op->setDelegate(delegate);
  return op;
}

platform::Value modifiedAfterParameters(const std::optional<platform::Date>& modifiedAfter) {
  platform::Value parameters = platform::Dict{};
  if (modifiedAfter) parameters.set("modifiedAfter", *modifiedAfter);
  return parameters;
}

}  // namespace

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncAllBeaconsForAppModifiedAfter(
    std::optional<platform::Date> modifiedAfter, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncAllBeaconsForApp, delegate);
  op->setResourcePath("beacons");
  op->setParameters(modifiedAfterParameters(modifiedAfter));
  op->setModifiedAfter(modifiedAfter);
  return op;
}

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncBeaconsInSiteWithSiteID(
    const std::optional<std::string>& siteID, std::optional<platform::Date> modifiedAfter,
    const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(siteID.has_value(), "siteID") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconsInSiteWithSiteID, delegate);
  op->setResourcePath(KSApiPath("sites/%@/beacons", {*siteID}));
  op->setParameters(modifiedAfterParameters(modifiedAfter));
  op->setModifiedAfter(modifiedAfter);
  op->setSiteID(siteID);
  return op;
}

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncBeaconsNearbyBeaconWithIdentifier(
    const std::optional<std::string>& identifier, std::int64_t identifierType,
    const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(identifier.has_value(), "identifier") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier, delegate);
  if (identifierType == KSBeaconIdentifierTypeIBeaconKey) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      auto colon = identifier->find(':', start);
      parts.push_back(identifier->substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (!required(parts.size() == 3, "identifier is proximityUUID:major:minor")) return nullptr;
    op->setResourcePath("beacons/nearby");
    op->setParameters(platform::Value::makeDict({{"proximityUUID", parts[0]}, {"major", parts[1]}, {"minor", parts[2]}}));
  } else {
    op->setResourcePath(KSApiPath("beacons/%@/nearby", {*identifier}));
  }
  op->setBeaconIdentifierType(identifierType);
  op->setBeaconIdentifierString(identifier);
  return op;
}

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncAllSitesForAppModifiedAfter(
    std::optional<platform::Date> modifiedAfter, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncAllSitesForApp, delegate);
  op->setResourcePath("sites");
  op->setParameters(modifiedAfterParameters(modifiedAfter));
  op->setModifiedAfter(modifiedAfter);
  return op;
}

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncSitesNearbyLocation(
    const std::optional<platform::location::Location>& location,
    const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(location.has_value(), "location") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncSitesNearbyLocation, delegate);
  op->setResourcePath("sites/nearby");
  op->setParameters(platform::Value::makeDict(
      {{"latitude", number_stringify::coordinateString(location->latitude)},
       {"longitude", number_stringify::coordinateString(location->longitude)},
       {"distance", std::to_string(static_cast<long>(KSDistanceFromSiteInMeters))}}));
  op->setLocation(location);
  return op;
}

std::shared_ptr<KSPaginatorOperation> KSApiOperation::operationForSyncBeaconRegionsWithAppToken(
    const std::optional<std::string>& appToken, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate) {
  if (!required(appToken.has_value(), "appToken") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPaginatorOperation>(KSApiOperationTypeSyncBeaconRegionsWithAppToken, delegate);
  op->setResourcePath(KSApiPath("apps/%@/beaconRegions", {*appToken}));
  return op;
}

std::shared_ptr<KSGETSessionDataTaskOperation> KSApiOperation::operationForSyncBeaconWithIdentifier(
    const std::optional<std::string>& identifier, std::int64_t identifierType,
    const std::shared_ptr<KSApiOperationDelegate>& delegate) {
  if (!required(identifier.has_value(), "identifier") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSGETSessionDataTaskOperation>(KSApiOperationTypeSyncBeaconWithIdentifier, delegate);
  op->setPath(KSApiPath("beacons/%@", {*identifier}));
  op->setBeaconIdentifierType(identifierType);
  op->setBeaconIdentifierString(identifier);
  return op;
}

std::shared_ptr<KSGETSessionDataTaskOperation> KSApiOperation::operationForSyncSiteWithSiteID(
    const std::optional<std::string>& siteID, const std::shared_ptr<KSApiOperationDelegate>& delegate) {
  if (!required(siteID.has_value(), "siteID") || !required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSGETSessionDataTaskOperation>(KSApiOperationTypeSyncSiteWithSiteID, delegate);
  op->setPath(KSApiPath("sites/%@", {*siteID}));
  op->setSiteID(siteID);
  return op;
}

std::shared_ptr<KSPOSTSessionDataTaskOperation> KSApiOperation::operationForPostBeaconVisitsWithDelegate(
    const std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate>& delegate) {
  if (!required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPOSTSessionDataTaskOperation>(KSApiOperationTypePostBeaconVisits, delegate);
  op->setResourcePath("beaconVisits");
  return op;
}

std::shared_ptr<KSPOSTSessionDataTaskOperation> KSApiOperation::operationForPostEventsWithDelegate(
    const std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate>& delegate) {
  if (!required(delegate != nullptr, "delegate")) return nullptr;
  auto op = make<KSPOSTSessionDataTaskOperation>(KSApiOperationTypePostEvents, delegate);
  op->setResourcePath("events");
  return op;
}

}  // namespace velmora::kestrine
