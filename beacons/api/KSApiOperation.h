#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSOperation.h"
#include "beacons/foundation/KSOperationDelegate.h"
#include "beacons/model/KSBeacon.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/location/Location.h"

namespace velmora::kestrine {

class KSApiClient;
class KSURLSessionTask;
using KSApiDataTask = KSURLSessionTask;
class KSPaginator;
class KSPaginatorOperation;
class KSPOSTSessionDataTaskOperation;

enum KSApiOperationType : std::int32_t {
  KSApiOperationTypeSyncBeaconsInSiteWithSiteID = 1,
  KSApiOperationTypeSyncBeaconWithIdentifier = 2,
  KSApiOperationTypeSyncSitesNearbyLocation = 3,
  KSApiOperationTypeSyncSiteWithSiteID = 4,
  KSApiOperationTypePostBeaconVisits = 5,
  KSApiOperationTypeSyncBeaconRegionsWithAppToken = 6,
  KSApiOperationTypeSyncBeaconsNearbyBeaconWithIdentifier = 7,
  KSApiOperationTypePostEvents = 8,
  KSApiOperationTypeSyncAllBeaconsForApp = 9,
  KSApiOperationTypeSyncAllSitesForApp = 10,
};


// A location and length, as a batch of pending records is addressed.
struct KSRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;
  friend bool operator==(const KSRange&, const KSRange&) = default;
};

// A record posted in batches (a visit or an event): its JSON form, and what posting it
// leaves behind.
class KSApiPostable {
 public:
  virtual ~KSApiPostable() = default;
  virtual platform::Value toDictionary() const = 0;
  // A visit stamps its lastPostedAt (written through to its stored row).
  virtual void setLastPostedAt(platform::Date /*at*/) {}
  // An event names its stored row, which the store marks posted.
  virtual std::optional<std::string> eventID() const { return std::nullopt; }
};
using KSApiPostables = std::vector<std::shared_ptr<KSApiPostable>>;

class KSApiOperation;

// What an API operation tells its delegate besides start, cancel and finish. Results come on
// the API client's completion queue.
class KSApiOperationDelegate : public KSOperationDelegate {
 public:
  virtual void operationDidFailWithError(const std::shared_ptr<KSApiOperation>& operation,
                                         const platform::Error& error) = 0;
  virtual void operationDidLoadJSON(const std::shared_ptr<KSApiOperation>& /*operation*/,
                                    const platform::Value& /*json*/) {}
};

class KSPaginatorOperationDelegate : public virtual KSApiOperationDelegate {
 public:
  virtual void operationPaginatorDidLoadJSON(const std::shared_ptr<KSPaginatorOperation>& operation,
                                             const std::shared_ptr<KSPaginator>& paginator,
                                             const platform::Value& items) = 0;
};

class KSPOSTSessionDataTaskOperationDelegate : public virtual KSApiOperationDelegate {
 public:
  virtual KSRange operationNeedsRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) = 0;
  virtual std::optional<KSApiPostables> operationObjectsForRange(
      const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation, KSRange range) = 0;
  virtual void operationDidSucceed(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& operation) = 0;
  virtual void operationWillStart(const std::shared_ptr<KSPOSTSessionDataTaskOperation>& /*operation*/) {}
};

// The base of the sync and post operations: an operation type and the client it calls.
// Fields are set by the factories before the operation is queued and read afterwards.
class KSApiOperation : public KSOperation {
 public:
  std::int32_t operationType() const { return operationType_; }
  void setOperationType(std::int32_t type) { operationType_ = type; }
  std::shared_ptr<KSApiClient> client() const;
  void setClient(std::shared_ptr<KSApiClient> client) { client_ = std::move(client); }
  std::shared_ptr<KSApiOperationDelegate> apiDelegate() const;

  std::optional<std::string> siteID() const { return siteID_; }
  void setSiteID(std::optional<std::string> v) { siteID_ = std::move(v); }
  std::int64_t beaconIdentifierType() const { return beaconIdentifierType_; }
  void setBeaconIdentifierType(std::int64_t v) { beaconIdentifierType_ = v; }
  std::optional<std::string> beaconIdentifierString() const { return beaconIdentifierString_; }
  void setBeaconIdentifierString(std::optional<std::string> v) { beaconIdentifierString_ = std::move(v); }

  // --- factories: the sync and post endpoints of the SDK. The delegate is required, as are
  // identifier, site ID, location and app token: a missing one is a programming error that
  // is logged and answered with nullptr.
  static std::shared_ptr<KSPaginatorOperation> operationForSyncAllBeaconsForAppModifiedAfter(
      std::optional<platform::Date> modifiedAfter, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<KSPaginatorOperation> operationForSyncBeaconsInSiteWithSiteID(
      const std::optional<std::string>& siteID, std::optional<platform::Date> modifiedAfter,
      const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<KSPaginatorOperation> operationForSyncBeaconsNearbyBeaconWithIdentifier(
      const std::optional<std::string>& identifier, std::int64_t identifierType,
      const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<KSPaginatorOperation> operationForSyncAllSitesForAppModifiedAfter(
      std::optional<platform::Date> modifiedAfter, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<KSPaginatorOperation> operationForSyncSitesNearbyLocation(
      const std::optional<platform::location::Location>& location,
      const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<KSPaginatorOperation> operationForSyncBeaconRegionsWithAppToken(
      const std::optional<std::string>& appToken, const std::shared_ptr<KSPaginatorOperationDelegate>& delegate);
  static std::shared_ptr<class KSGETSessionDataTaskOperation> operationForSyncBeaconWithIdentifier(
      const std::optional<std::string>& identifier, std::int64_t identifierType,
      const std::shared_ptr<KSApiOperationDelegate>& delegate);
  static std::shared_ptr<class KSGETSessionDataTaskOperation> operationForSyncSiteWithSiteID(
      const std::optional<std::string>& siteID, const std::shared_ptr<KSApiOperationDelegate>& delegate);
  static std::shared_ptr<KSPOSTSessionDataTaskOperation> operationForPostBeaconVisitsWithDelegate(
      const std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate>& delegate);
  static std::shared_ptr<KSPOSTSessionDataTaskOperation> operationForPostEventsWithDelegate(
      const std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate>& delegate);

 protected:
  template <class T>
  std::shared_ptr<T> self() {
    return std::static_pointer_cast<T>(shared_from_this());
  }

 private:
  std::int32_t operationType_ = 0;
  std::shared_ptr<KSApiClient> client_;
  std::optional<std::string> siteID_;
  std::int64_t beaconIdentifierType_ = 0;
  std::optional<std::string> beaconIdentifierString_;
};

// An operation that makes one request: doOperation makes the task and resumes it (no task
// finishes the operation without a request); cancelling it, also while it runs, cancels the
// task, whose failure then reaches the delegate.
class KSSessionDataTaskOperation : public KSApiOperation {
 public:
  std::shared_ptr<KSApiDataTask> sessionDataTask() const;
  void cancel() override;

 protected:
  virtual std::shared_ptr<KSApiDataTask> createSessionDataTask() { return nullptr; }
  bool doOperation() override;
  void cancelOperation() override;

 private:
  mutable std::mutex taskMutex_;
  std::shared_ptr<KSApiDataTask> sessionDataTask_;
};

class KSGETSessionDataTaskOperation : public KSSessionDataTaskOperation {
 public:
  platform::Value parameters() const { return parameters_; }
  void setParameters(platform::Value v) { parameters_ = std::move(v); }
  std::string path() const { return path_; }
  void setPath(std::string v) { path_ = std::move(v); }

 protected:
  std::shared_ptr<KSApiDataTask> createSessionDataTask() override;

 private:
  platform::Value parameters_;
  std::string path_;
};

class KSPOSTSessionDataTaskOperation : public KSSessionDataTaskOperation {
 public:
  bool succeeded() const;
  std::string resourcePath() const { return resourcePath_; }
  void setResourcePath(std::string v) { resourcePath_ = std::move(v); }
  KSApiPostables objects() const;
  KSRange rangeForObjects() const;
  std::shared_ptr<KSPOSTSessionDataTaskOperationDelegate> postDelegate() const;

 protected:
  std::shared_ptr<KSApiDataTask> createSessionDataTask() override;

 private:
  std::string resourcePath_;
  mutable std::mutex mutex_;
  bool succeeded_ = false;
  KSApiPostables objects_;
  KSRange rangeForObjects_;
};

// An operation that walks every page of one list, handing each page to its delegate; it
// finishes after the last page or the first failed one.
class KSPaginatorOperation : public KSApiOperation {
 public:
  platform::Value parameters() const { return parameters_; }
  void setParameters(platform::Value v) { parameters_ = std::move(v); }
  std::string resourcePath() const { return resourcePath_; }
  void setResourcePath(std::string v) { resourcePath_ = std::move(v); }
  std::optional<platform::Date> modifiedAfter() const { return modifiedAfter_; }
  void setModifiedAfter(std::optional<platform::Date> v) { modifiedAfter_ = v; }
  std::optional<platform::location::Location> location() const { return location_; }
  void setLocation(std::optional<platform::location::Location> v) { location_ = v; }
  std::shared_ptr<KSPaginator> paginator() const;
  std::shared_ptr<KSPaginatorOperationDelegate> paginatorDelegate() const;

 protected:
  bool doOperation() override;
  void cancelOperation() override;

 private:
  platform::Value parameters_;
  std::string resourcePath_;
  std::optional<platform::Date> modifiedAfter_;
  std::optional<platform::location::Location> location_;
  mutable std::mutex mutex_;
  std::shared_ptr<KSPaginator> paginator_;
};

}  // namespace velmora::kestrine
