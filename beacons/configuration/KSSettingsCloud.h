#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "beacons/api/KSApiOperationPorts.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApiClient;
class KSBeacon;
class KSBeaconConfigurationCloud;
class KSBeaconVersion;
class KSRecordApi;

// The beacon cloud calls of the settings updates, on one cloud client, and the region sync
// they force afterwards. Blocks run on the client's completion queue; callers hop onto their
// own queue. A beacon without an id fails on that queue without a request.
class KSSettingsCloud {
 public:
  using Failure = std::function<void(const platform::Error&)>;

  // regionSync: what forceSyncBeaconRegions runs (the registry's region manager when empty).
  KSSettingsCloud(std::shared_ptr<KSApiClient> client, KSApiOperationManagerPorts ports = {},
                  std::function<void()> regionSync = nullptr);
  virtual ~KSSettingsCloud() = default;
  // On the shared cloud client, made on first use (and again when the client changes).
  static std::shared_ptr<KSSettingsCloud> shared();

  const std::shared_ptr<KSApiClient>& client() const { return client_; }
  // The login's calls on the same client.
  const std::shared_ptr<KSBeaconConfigurationCloud>& loginCloud() const { return login_; }

  // GET "beacons/{id}/versions/latest/settings?status=<status, escaped>": the reply.
  virtual void getLatestSettings(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& status,
                                 std::function<void(const platform::Value&)> success, Failure failure);
  // PUT "beacons/{id}/versions/confirm?status=<result, escaped>" with empty parameters.
  virtual void confirmSettings(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& result,
                               std::function<void()> success, Failure failure);
  // GET "beacons/{id}/versions/latest": the "version" record.
  virtual void getLatestVersion(const std::shared_ptr<KSBeacon>& beacon,
                                std::function<void(std::shared_ptr<KSBeaconVersion>)> success, Failure failure);
  // PUT "beacons/{id}/versions/{n}/confirm".
  virtual void confirmVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version,
                              std::function<void()> success, Failure failure);
  // GET "beacons/{id}": the record's server fields copied into the beacon.
  virtual void refreshBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void()> success, Failure failure);
  virtual void forceSyncBeaconRegions();

  static std::string latestSettingsPath(const std::string& beaconID, const platform::Bytes& status);

 private:
  bool failWithoutID(const std::shared_ptr<KSBeacon>& beacon, const Failure& failure);

  const std::shared_ptr<KSApiClient> client_;
  const std::shared_ptr<KSRecordApi> records_;
  const std::shared_ptr<KSBeaconConfigurationCloud> login_;
  const std::function<void()> regionSync_;
};

}  // namespace velmora::kestrine
