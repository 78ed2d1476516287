#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconFilter.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeacon;
struct KSBeaconSyncResult;

// What the records ask of the ranging hub: data requests, settings updates and opcodes over
// Bluetooth for a beacon, and the hub's beacon cache with its refresh tests for sites and
// apps. The hub implements it and registers itself with setShared.
class KSBeaconHubPort {
 public:
  using Success = std::function<void(platform::Value)>;
  using Status = std::function<void(platform::Value)>;
  using Failure = std::function<void(platform::Error)>;

  virtual ~KSBeaconHubPort() = default;

  virtual void sendDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                               std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void sendDataRequests(const std::vector<platform::Bytes>& requests, const std::shared_ptr<KSBeacon>& beacon,
                                std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void transportDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                                    std::uint64_t endpoint, Success success, Status status, Failure failure) = 0;
  virtual void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon, const platform::Dict& settings,
                                      Success success, Status status, Failure failure) = 0;
  virtual void sendOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data,
                          const std::shared_ptr<KSBeacon>& beacon, Success success, Failure failure) = 0;
  // The cached record under that cache identifier, or nullptr.
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& /*cacheIdentifier*/) {
    return nullptr;
  }

  // The hub's cached beacons for ranging that pass the predicate (all for an empty one),
  // narrowed to those the app may see.
  virtual std::vector<std::shared_ptr<KSBeacon>> cachedBeaconsForRangingWithPredicate(
      const KSBeaconPredicate& predicate) = 0;
  // The hub's sync decisions come with its cache sync; until a hub has them, it refreshes
  // nothing, merges nothing and has never refreshed.
  // Whether the site's cached beacons may be refreshed now, and whether they should be.
  virtual bool canCacheRefreshForSiteID(const std::string& /*siteID*/) { return false; }
  virtual bool shouldCacheRefreshForSiteID(const std::string& /*siteID*/) { return false; }
  // Merges one page of a beacon sync into the hub's cache under its own rules.
  virtual void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& /*result*/) {}
  // The last completed refresh of the app's beacons, and whether a full sync is due.
  virtual std::optional<platform::Date> lastCacheRefreshForApp() { return std::nullopt; }
  virtual bool shouldCacheFullSyncForApp() { return false; }

  static void setShared(std::shared_ptr<KSBeaconHubPort> hub);
  static std::shared_ptr<KSBeaconHubPort> shared();
};

}  // namespace velmora::kestrine
