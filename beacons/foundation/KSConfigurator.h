#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSInstanceProvider;

inline constexpr std::string_view KSSDKVersion = "2.1.0";
inline constexpr std::string_view KSInstallationIDHeader = "X-KS-InstallationID";
inline constexpr std::string_view KSSDKVersionHeader = "X-KS-SDKVersion";

// The beacon layer's option store and run switch.
//
// Options come in three layers: the built-in defaults, the host's user options
// (accumulated) and the remote options of the app record (replaced as a whole); a later
// layer wins. The typed getters read one immutable merged snapshot, replaced under the
// lock whenever a layer changes, so they may run on any thread; a key once merged stays in
// the snapshot. The configurator also keeps the app token and credentials and performs the
// three steps of the SDK's life: configure, run and stop.
class KSConfigurator : public std::enable_shared_from_this<KSConfigurator> {
 public:
  static constexpr std::string_view kSingletonName = "KSConfigurator";
  // The singletons the configure step asks the registry for, in this order.
  static constexpr std::array<std::string_view, 10> kConfigureOrder = {
      "KSLocationManagerClient", "KSUserDefaultsManager",   "KSSessionManager",       "KSIdentityProvider",
      "KSBeaconManagerInternal", "KSBeaconRegionManager",   "KSSiteManagerInternal",  "KSApiOperationManager",
      "KSVisitTracker",          "KSLocalNotificationManager"};

  using VerifyCompletion = std::function<void(KSAppVerification::App, std::optional<platform::Error>)>;

  // The shared registry's configurator.
  static std::shared_ptr<KSConfigurator> sharedConfigurator();
  // The registry's configurator, made by the maker the registry was born with (every port
  // wired) or by the one a test installed. When none can be made, that is reported as a
  // programming error and the answer is nullptr: a configurator with no ports is never made
  // in its place.
  static std::shared_ptr<KSConfigurator> sharedConfigurator(KSInstanceProvider& provider);
  // Makes a configurator whose configure step asks `provider`; starts reachability
  // monitoring.
  static std::shared_ptr<KSConfigurator> create(std::weak_ptr<KSInstanceProvider> provider, KSConfiguratorPorts ports);

  // --- options
  void setUserOptions(const platform::Dict& options);
  // KSOptionApiBaseURL is dropped from remote options: a server record must not move the
  // client that carries the app token.
  void setRemoteOptions(const platform::Dict& options);
  platform::Dict options() const;  // the merged view, or the defaults before any merge
  std::optional<platform::Dict> userOptions() const;
  std::optional<platform::Dict> remoteOptions() const;
  const platform::Dict& defaultOptions() const { return *defaults_; }

  bool trackStandardEvents() const { return boolForOptionKey(KSOptionAutoTrackStandardEvents); }
  bool cacheAllBeaconsForApp() const { return boolForOptionKey(KSOptionCacheAllBeaconsForApp); }
  bool cacheAllBeaconsForSite() const { return boolForOptionKey(KSOptionCacheAllBeaconsForSite); }
  bool cacheSitesNearby() const { return boolForOptionKey(KSOptionCacheSitesNearbyByLocation); }
  bool crowdSourceBeaconUpdates() const { return boolForOptionKey(KSOptionCrowdSourceBeaconUpdates); }
  bool discoverBeaconsNearby() const { return boolForOptionKey(KSOptionDiscoverBeaconsNearby); }
  bool isUsingApi() const { return boolForOptionKey(KSOptionUseApi); }
  bool monitorAllAvailableRegionsOnStartup() const { return boolForOptionKey(KSOptionMonitorAllAvailableRegionsOnStartup); }
  bool monitorKestrineRegionOnStartup() const { return boolForOptionKey(KSOptionMonitorKestrineRegionOnStartup); }
  bool scanInBackground() const { return boolForOptionKey(KSOptionScanInBackground); }
  bool showBluetoothPowerWarningMessage() const { return boolForOptionKey(KSOptionShowBluetoothPowerWarningMessage); }
  bool trackBeaconVisits() const { return boolForOptionKey(KSOptionTrackBeaconVisits); }
  bool useEnergySaverScanStrategy() const { return boolForOptionKey(KSOptionUseEnergySaverScanStrategy); }
  bool useLocalStorage() const { return boolForOptionKey(KSOptionUseLocalStorage); }
  bool runWithoutLocationServicesAuthorization() const {
    return boolForOptionKey(KSOptionRunWithoutLocationServicesAuthorization);
  }
  platform::Value targetRegionPrefix() const;  // as stored, unconverted
  double remoteConfigurationExpirationTimeIntervalInSeconds() const;
  double remoteConfigurationRefreshTimeIntervalInSeconds() const;
  std::string apiBaseURL() const;
  double backgroundSessionTimeIntervalInSeconds() const;
  double cacheRefreshTimeInterval() const;
  std::int64_t maximumDailyBackgroundUsageInMinutes() const;
  bool isRemoteConfigurationStale(double age) const { return age >= remoteConfigurationRefreshTimeIntervalInSeconds(); }
  bool isRemoteConfigurationExpired(double age) const {
    return age >= remoteConfigurationExpirationTimeIntervalInSeconds();
  }
  // The option read through boolValue; a key without any value is a programming error.
  bool boolForOptionKey(std::string_view key) const;

  // --- token and credentials
  void setAppToken(const std::string& token);
  void setCredentialsWithUserName(const std::string& userName, const std::string& password);
  std::string appToken() const;
  std::string userName() const;
  std::string password() const;
  // KSAppTokenStatus: 0 with no token, else the account manager's status.
  int appTokenVerificationStatus() const;
  // With no token nothing happens and the completion is not called.
  void verifyAppWithCompletion(VerifyCompletion completion);

  // --- life
  void configureKestrineSDK();
  void configureNetworking();
  void runWithAppToken();
  void stop();
  bool isConfigured() const { return configured_.load(); }
  bool isRunning() const { return running_.load(); }
  bool isStopped() const { return stopped_.load(); }

 private:
  KSConfigurator(std::weak_ptr<KSInstanceProvider> provider, KSConfiguratorPorts ports);
  std::shared_ptr<const platform::Dict> snapshot() const;
  // An option's value (Absent when missing) with the snapshot that holds it.
  struct OptionRef {
    std::shared_ptr<const platform::Dict> view;
    const platform::Value* value;
  };
  OptionRef option(std::string_view key) const;
  void mergeAllOptionsByPriority();  // under mutex_
  void setAuthorization(const std::string& token, const std::string& user, const std::string& password,
                        bool withCredentials);

  template <class Port>
  std::shared_ptr<Port> port(const std::function<std::shared_ptr<Port>()>& find, std::string_view what) const;

  const std::weak_ptr<KSInstanceProvider> provider_;
  const KSConfiguratorPorts ports_;
  const std::shared_ptr<const platform::Dict> defaults_;

  mutable std::recursive_mutex mutex_;
  std::optional<platform::Dict> userOptions_;
  std::optional<platform::Dict> remoteOptions_;
  std::shared_ptr<const platform::Dict> merged_;  // nullptr until the first merge
  std::string appToken_;
  std::string userName_;
  std::string password_;

  std::atomic<bool> configured_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
};

}  // namespace velmora::kestrine
