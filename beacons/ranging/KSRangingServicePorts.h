#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/ranging/KSBeaconSyncRequesting.h"
#include "platform/location/Location.h"

namespace velmora::kestrine {

class KSApp;
class KSBeaconRegion;
class KSEvent;

// The services of the layers below that ranging and the SDK entry use: the cloud API's
// account manager and operation manager, and the local store's region writes. Each is
// found in the registry under its kSingletonName; the SDK installs adapters over the real
// objects there, tests install fakes. A missing one skips the call.

// The cloud API's operation manager, as far as the hub, the region manager and the
// location client ask it for syncs.
class KSApiOperationManaging : public KSBeaconSyncRequesting {
 public:
  static constexpr std::string_view kSingletonName = "KSApiOperationManaging";
  // Metres a device must move before the nearby sites are asked for again.
  static constexpr double kDistanceFilter = 1609.345;

  // True when a region sync was queued.
  virtual bool syncBeaconRegionsWithAppToken(const std::string& appToken) = 0;
  virtual void syncSitesNearbyLocation(const std::optional<platform::location::Location>& location) = 0;
};

// The account manager: the token's verification and the verified app record.
class KSAccountManaging : public KSAppVerification {
 public:
  static constexpr std::string_view kSingletonName = "KSAccountManaging";

  // Verified at once when the cached app matches the token; nothing goes to the network.
  virtual void attemptAppRestoreAndVerifyWithToken(const std::string& token) = 0;
  virtual std::shared_ptr<KSApp> verifiedApp() = 0;
};

// The local store's writes of monitored regions.
class KSBeaconRegionStoring {
 public:
  static constexpr std::string_view kSingletonName = "KSBeaconRegionStoring";
  virtual ~KSBeaconRegionStoring() = default;
  virtual void storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) = 0;
};

// The event manager: where the SDK entry's analytics events go.
class KSEventLogging {
 public:
  static constexpr std::string_view kSingletonName = "KSEventLogging";
  virtual ~KSEventLogging() = default;
  virtual void logEvent(const std::shared_ptr<KSEvent>& event, int priority) = 0;
};

// The API client's request headers, as the configurator sets them.
inline constexpr std::string_view KSApiHeadersSingletonName = "KSApiHeaders";

}  // namespace velmora::kestrine
