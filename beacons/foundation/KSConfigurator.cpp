#include "beacons/foundation/KSConfigurator.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionValue.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

constexpr std::string_view kLog = "configurator";

std::shared_ptr<const platform::Dict> makeDefaults() {
  platform::Dict d;
  const auto flag = [&](std::string_view key, bool on) { d.insert_or_assign(std::string(key), platform::Value(on ? "YES" : "NO")); };
  flag(KSOptionAutoTrackStandardEvents, false);
  flag(KSOptionCacheAllBeaconsForApp, false);
  flag(KSOptionCacheAllBeaconsForSite, false);
  flag(KSOptionCacheSitesNearbyByLocation, false);
  flag(KSOptionCrowdSourceBeaconUpdates, true);
  flag(KSOptionDiscoverBeaconsNearby, true);
  d.insert_or_assign(std::string(KSOptionTargetRegionPrefix), platform::Value("com.kestrine"));
  flag(KSOptionUseApi, true);
  flag(KSOptionMonitorAllAvailableRegionsOnStartup, true);
  flag(KSOptionMonitorKestrineRegionOnStartup, true);
  d.insert_or_assign(std::string(KSOptionRemoteConfigurationExpirationTimeIntervalInSeconds),
                     platform::Value(KSCacheExpiryForAccessInSeconds));
  d.insert_or_assign(std::string(KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds),
                     platform::Value(KSCacheRefreshTimeIntervalLowPriorityInSeconds));
  flag(KSOptionScanInBackground, true);
  flag(KSOptionShowBluetoothPowerWarningMessage, false);
  flag(KSOptionTrackBeaconVisits, true);
  flag(KSOptionUseEnergySaverScanStrategy, true);
  flag(KSOptionUseLocalStorage, true);
  flag(KSOptionRunWithoutLocationServicesAuthorization, false);
  return std::make_shared<const platform::Dict>(std::move(d));
}

bool isHttpUrl(std::string_view s) {
  const auto hasScheme = [&](std::string_view scheme) {
    return s.size() > scheme.size() && platform::equalsIgnoringAsciiCase(s.substr(0, scheme.size()), scheme);
  };
  return hasScheme("http://") || hasScheme("https://");
}

}  // namespace

std::shared_ptr<KSConfigurator> KSConfigurator::sharedConfigurator() {
  return sharedConfigurator(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSConfigurator> KSConfigurator::sharedConfigurator(KSInstanceProvider& provider) {
  auto configurator = provider.singleton<KSConfigurator>(kSingletonName, nullptr);
  if (!configurator) platform::reportProgrammingError("The registry has no maker for the configurator");
  return configurator;
}

std::shared_ptr<KSConfigurator> KSConfigurator::create(std::weak_ptr<KSInstanceProvider> provider,
                                                       KSConfiguratorPorts ports) {
  std::shared_ptr<KSConfigurator> c(new KSConfigurator(std::move(provider), std::move(ports)));
  if (auto monitor = c->port(c->ports_.reachabilityMonitor, "reachability monitor")) monitor->startMonitoring();
  return c;
}

KSConfigurator::KSConfigurator(std::weak_ptr<KSInstanceProvider> provider, KSConfiguratorPorts ports)
    : provider_(std::move(provider)), ports_(std::move(ports)), defaults_(makeDefaults()) {}

template <class Port>
std::shared_ptr<Port> KSConfigurator::port(const std::function<std::shared_ptr<Port>()>& find,
                                           std::string_view what) const {
  std::shared_ptr<Port> p = find ? find() : nullptr;
  if (!p) platform::Log::debug(kLog, "no {} is wired; its call is skipped", what);
  return p;
}

// --- options ------------------------------------------------------------------------------

void KSConfigurator::setUserOptions(const platform::Dict& options) {
  std::lock_guard lock(mutex_);
  if (!userOptions_) userOptions_.emplace();
  for (const auto& [k, v] : options) userOptions_->insert_or_assign(k, v);
  mergeAllOptionsByPriority();
}

void KSConfigurator::setRemoteOptions(const platform::Dict& options) {
  platform::Dict remote = options;
  if (remote.erase(std::string(KSOptionApiBaseURL)) > 0) {
    platform::Log::warning(kLog, "ignored {} from the remote options", KSOptionApiBaseURL);
  }
  std::lock_guard lock(mutex_);
  remoteOptions_ = std::move(remote);
  mergeAllOptionsByPriority();
}

void KSConfigurator::mergeAllOptionsByPriority() {
  // Start from the current view so a key once merged stays in it, then lay the defaults,
  // the user options and the remote options over it, later ones winning.
  auto next = std::make_shared<platform::Dict>(merged_ ? *merged_ : platform::Dict{});
  for (const auto& [k, v] : *defaults_) next->insert_or_assign(k, v);
  if (userOptions_) {
    for (const auto& [k, v] : *userOptions_) next->insert_or_assign(k, v);
  }
  if (remoteOptions_) {
    for (const auto& [k, v] : *remoteOptions_) next->insert_or_assign(k, v);
  }
  merged_ = std::move(next);
}

std::shared_ptr<const platform::Dict> KSConfigurator::snapshot() const {
  std::lock_guard lock(mutex_);
  return merged_ ? merged_ : defaults_;
}

platform::Dict KSConfigurator::options() const { return *snapshot(); }

std::optional<platform::Dict> KSConfigurator::userOptions() const {
  std::lock_guard lock(mutex_);
  return userOptions_;
}

std::optional<platform::Dict> KSConfigurator::remoteOptions() const {
  std::lock_guard lock(mutex_);
  return remoteOptions_;
}

KSConfigurator::OptionRef KSConfigurator::option(std::string_view key) const {
  static const platform::Value& absent = *new platform::Value();
  OptionRef ref{snapshot(), &absent};
  if (auto it = ref.view->find(key); it != ref.view->end()) ref.value = &it->second;
  return ref;
}

bool KSConfigurator::boolForOptionKey(std::string_view key) const {
  const OptionRef ref = option(key);
  const platform::Value& v = *ref.value;
  if (v.isAbsent()) {
    platform::reportProgrammingError(fmt::format("Default value not defined for option {}", key));
    return false;
  }
  if (auto b = option::boolValue(v)) return *b;
  auto d = defaults_->find(key);
  if (d != defaults_->end()) {
    if (auto b = option::boolValue(d->second)) return *b;
  }
  return false;
}

platform::Value KSConfigurator::targetRegionPrefix() const { return *option(KSOptionTargetRegionPrefix).value; }

double KSConfigurator::remoteConfigurationExpirationTimeIntervalInSeconds() const {
  auto f = option::floatValue(*option(KSOptionRemoteConfigurationExpirationTimeIntervalInSeconds).value);
  return f ? static_cast<double>(*f) : KSCacheExpiryForAccessInSeconds;
}

double KSConfigurator::remoteConfigurationRefreshTimeIntervalInSeconds() const {
  auto f = option::floatValue(*option(KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds).value);
  return f ? static_cast<double>(*f) : KSCacheRefreshTimeIntervalLowPriorityInSeconds;
}

std::string KSConfigurator::apiBaseURL() const {
  const OptionRef ref = option(KSOptionApiBaseURL);
  if (const std::string* s = ref.value->string(); s && isHttpUrl(*s)) return *s;
  return std::string(KSApiBaseURL);
}

double KSConfigurator::backgroundSessionTimeIntervalInSeconds() const {
  auto f = option::floatValue(*option(KSOptionBackgroundSessionTimeIntervalInSeconds).value);
  if (!f) return KSBackgroundSessionTimeIntervalInSeconds;
  const double d = *f;
  return std::isnan(d) ? KSMinimumBackgroundSessionTimeIntervalInSeconds
                       : std::max(d, KSMinimumBackgroundSessionTimeIntervalInSeconds);
}

double KSConfigurator::cacheRefreshTimeInterval() const {
  auto f = option::floatValue(*option(KSOptionCacheRefreshTimeIntervalInSeconds).value);
  if (!f) return KSCacheRefreshTimeIntervalInSeconds;
  const double d = *f;
  return std::isnan(d) ? KSMinimumCacheRefreshTimeIntervalInSeconds : std::max(d, KSMinimumCacheRefreshTimeIntervalInSeconds);
}

std::int64_t KSConfigurator::maximumDailyBackgroundUsageInMinutes() const {
  auto i = option::integerValue(*option(KSOptionMaximumDailyBackgroundUsageInMinutes).value);
  if (i && *i <= KSDateConstantMinutesInDay) return *i;
  return KSMaximumDailyBackgroundUsageInMinutes;
}

// --- token and credentials ----------------------------------------------------------------

void KSConfigurator::setAuthorization(const std::string& token, const std::string& user, const std::string& password,
                                      bool withCredentials) {
  auto api = port(ports_.apiClient, "API client");
  if (!api) return;
  if (withCredentials) {
    api->setAuthorizationHeaderWithAppToken(token, user, password);
  } else {
    api->setAuthorizationHeaderWithAppToken(token);
  }
}

void KSConfigurator::setAppToken(const std::string& token) {
  std::string user;
  std::string pass;
  {
    std::lock_guard lock(mutex_);
    appToken_ = token;
    user = userName_;
    pass = password_;
  }
  if (!token.empty()) setAuthorization(token, user, pass, !user.empty() && !pass.empty());
}

void KSConfigurator::setCredentialsWithUserName(const std::string& userName, const std::string& password) {
  std::string token;
  {
    std::lock_guard lock(mutex_);
    userName_ = userName;
    password_ = password;
    token = appToken_;
  }
  if (!token.empty()) setAuthorization(token, userName, password, true);
  if (isConfigured()) {
    if (auto regions = port(ports_.regionManager, "beacon-region manager")) regions->cacheBeaconRegions();
  }
}

std::string KSConfigurator::appToken() const {
  std::lock_guard lock(mutex_);
  return appToken_;
}
std::string KSConfigurator::userName() const {
  std::lock_guard lock(mutex_);
  return userName_;
}
std::string KSConfigurator::password() const {
  std::lock_guard lock(mutex_);
  return password_;
}

int KSConfigurator::appTokenVerificationStatus() const {
  if (appToken().empty()) return 0;
  auto account = port(ports_.accountManager, "account manager");
  return account ? account->appTokenStatus() : 0;
}

void KSConfigurator::verifyAppWithCompletion(VerifyCompletion completion) {
  const std::string token = appToken();
  if (token.empty()) return;
  auto account = port(ports_.accountManager, "account manager");
  if (!account) {
    if (completion) completion(nullptr, platform::Error(std::string(KSErrorDomain), -1, "No account manager to verify the app with"));
    return;
  }
  std::weak_ptr<KSConfigurator> weak = weak_from_this();
  std::weak_ptr<KSAppVerification> weakAccount = account;
  account->verifyAppWithToken(
      token,
      [weak, completion](KSAppVerification::App app) {
        if (auto self = weak.lock(); self && self->cacheAllBeaconsForApp()) {
          if (auto hub = self->port(self->ports_.beaconManager, "beacon manager")) hub->cacheBeaconsForApp();
        }
        if (completion) completion(std::move(app), std::nullopt);
      },
      [weak, weakAccount, completion](platform::Error error) {
        auto self = weak.lock();
        auto acc = weakAccount.lock();
        if (self && acc && acc->appTokenStatus() == 3) self->stop();
        if (completion) completion(nullptr, std::move(error));
      });
}

// --- life ---------------------------------------------------------------------------------

void KSConfigurator::configureKestrineSDK() {
  if (auto provider = provider_.lock()) {
    for (std::string_view name : kConfigureOrder) provider->singletonNamed(name);
  } else {
    platform::Log::warning(kLog, "no registry to make the singletons in");
  }
  configureNetworking();
  configured_ = true;
}

void KSConfigurator::configureNetworking() {
  std::string token;
  std::string user;
  std::string pass;
  {
    std::lock_guard lock(mutex_);
    token = appToken_;
    user = userName_;
    pass = password_;
  }
  if (token.empty()) return;
  setAuthorization(token, user, pass, !user.empty() && !pass.empty());
  auto api = port(ports_.apiClient, "API client");
  if (!api) return;
  if (auto identity = port(ports_.identity, "identity provider")) {
    api->setValueForHTTPHeaderField(identity->kestrineIdentifier(), std::string(KSInstallationIDHeader));
  }
  api->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));
}

void KSConfigurator::runWithAppToken() {
  stopped_ = false;
  const bool usingApi = isUsingApi();
  if (usingApi && appToken().empty()) return;
  if (!isConfigured()) return;
  if (usingApi && appTokenVerificationStatus() != 2) return;
  if (running_.exchange(true)) return;  // already running
  if (auto location = port(ports_.locationClient, "location client")) {
    location->startUpdatingLocation();
    location->setBeaconRegionMonitoringEnabled(monitorAllAvailableRegionsOnStartup() || monitorKestrineRegionOnStartup());
  }
  if (auto hub = port(ports_.beaconManager, "beacon manager")) {
    if (hub->isDiscoveringBeacons()) hub->stopDiscoveringBeacons();
    hub->startDiscoveringBeacons();
  }
  if (auto regions = port(ports_.regionManager, "beacon-region manager")) regions->cacheBeaconRegions();
}

void KSConfigurator::stop() {
  stopped_ = true;
  if (!running_.load()) return;
  if (auto hub = port(ports_.beaconManager, "beacon manager")) hub->stopDiscoveringBeacons();
  if (auto location = port(ports_.locationClient, "location client")) {
    location->setBeaconRegionMonitoringEnabled(false);
    location->stopUpdatingLocation();
  }
  running_ = false;
}

}  // namespace velmora::kestrine
