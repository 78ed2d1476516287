#pragma once

#include <functional>
#include <memory>
#include <string>

#include "beacons/api/KSApiOperationPorts.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApiClient;
class KSBeacon;
class KSRecordApi;

// The beacon cloud calls the configuration commands make, on one cloud client. Success and
// failure blocks run on the client's completion queue; callers hop onto their own queue.
//
// The calls are virtual so that a host without a network (a simulation) can answer them.
class KSBeaconConfigurationCloud {
 public:
  using Success = std::function<void(const platform::Value& reply)>;
  using Failure = std::function<void(const platform::Error& error)>;

  // The ports reach the hub's cache, which a refreshed beacon record is handed to.
  explicit KSBeaconConfigurationCloud(std::shared_ptr<KSApiClient> client, KSApiOperationManagerPorts ports = {});
  virtual ~KSBeaconConfigurationCloud() = default;
  // On the shared cloud client, made on first use.
  static std::shared_ptr<KSBeaconConfigurationCloud> shared();

  const std::shared_ptr<KSApiClient>& client() const { return client_; }

  // GET "beacons/{beaconID}/milk" with "water" and "status" as base64 query values.
  virtual void getMilk(const KSBeacon& beacon, const platform::Bytes& water, const platform::Bytes& status, Success success,
               Failure failure);
  // PUT "beacons/{beaconID}/versions/confirm?status=<base64 in 64-character lines, escaped>"
  // with empty parameters; on success the beacon's record is refreshed. Nobody waits for
  // either and both outcomes are dropped. A beacon without an id sends nothing.
  virtual void postStatus(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& status);

  // The relative path of the status confirmation, escaped as it goes on the wire.
  static std::string statusConfirmationPath(const std::string& beaconID, const platform::Bytes& status);

 private:
  const std::shared_ptr<KSApiClient> client_;
  const std::shared_ptr<KSRecordApi> records_;
};

}  // namespace velmora::kestrine
