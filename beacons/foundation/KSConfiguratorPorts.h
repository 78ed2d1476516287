#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// What the configurator drives lives above it (HTTP, API, ranging); it reaches each through
// one of these narrow interfaces, which the owning class implements.

// The shared network-reachability manager.
class KSReachabilityMonitor {
 public:
  virtual ~KSReachabilityMonitor() = default;
  virtual void startMonitoring() = 0;
};

// The identity provider: the installation identifier sent with every API call.
class KSInstallationIdentity {
 public:
  virtual ~KSInstallationIdentity() = default;
  virtual std::string kestrineIdentifier() = 0;
};

// The location-services client.
class KSLocationControl {
 public:
  virtual ~KSLocationControl() = default;
  virtual void startUpdatingLocation() = 0;
  virtual void stopUpdatingLocation() = 0;
  virtual void setBeaconRegionMonitoringEnabled(bool enabled) = 0;
};

// The internal beacon manager (the hub).
class KSDiscoveryControl {
 public:
  virtual ~KSDiscoveryControl() = default;
  virtual bool isDiscoveringBeacons() = 0;
  virtual void startDiscoveringBeacons() = 0;
  virtual void stopDiscoveringBeacons() = 0;
  virtual void cacheBeaconsForApp() = 0;
};

// The beacon-region manager.
class KSRegionCaching {
 public:
  virtual ~KSRegionCaching() = default;
  virtual void cacheBeaconRegions() = 0;
};

// The account manager. The verified app record is passed through opaquely.
class KSAppVerification {
 public:
  using App = std::shared_ptr<platform::Object>;
  virtual ~KSAppVerification() = default;
  virtual void verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                                  std::function<void(platform::Error)> failure) = 0;
  // KSAppTokenStatus: 0 none, 1 unverified, 2 verified, 3 invalid.
  virtual int appTokenStatus() = 0;
};

// The API client's request headers.
class KSApiHeaders {
 public:
  virtual ~KSApiHeaders() = default;
  virtual void setAuthorizationHeaderWithAppToken(const std::string& token) = 0;
  virtual void setAuthorizationHeaderWithAppToken(const std::string& token, const std::string& userName,
                                                  const std::string& password) = 0;
  virtual void setValueForHTTPHeaderField(const std::string& value, const std::string& field) = 0;
};

// How the configurator finds them. Each is asked at the moment of use, so objects made
// after the configurator are found; an empty function or a nullptr answer skips the call,
// logged.
struct KSConfiguratorPorts {
  std::function<std::shared_ptr<KSReachabilityMonitor>()> reachabilityMonitor;
  std::function<std::shared_ptr<KSInstallationIdentity>()> identity;
  std::function<std::shared_ptr<KSLocationControl>()> locationClient;
  std::function<std::shared_ptr<KSDiscoveryControl>()> beaconManager;
  std::function<std::shared_ptr<KSRegionCaching>()> regionManager;
  std::function<std::shared_ptr<KSAppVerification>()> accountManager;
  std::function<std::shared_ptr<KSApiHeaders>()> apiClient;
};

}  // namespace velmora::kestrine
