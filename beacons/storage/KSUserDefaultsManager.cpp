#include "beacons/storage/KSUserDefaultsManager.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSSession.h"
#include "platform/core/Log.h"
#include "platform/defaults/UserDefaults.h"

namespace velmora::kestrine {
namespace {

constexpr std::string_view kLog = "user-defaults";

std::shared_ptr<KSUserDefaultsManager> make(KSInstanceProvider& provider) {
  return std::make_shared<KSUserDefaultsManager>(provider.platform().defaults);
}

}  // namespace

std::shared_ptr<KSUserDefaultsManager> KSUserDefaultsManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSUserDefaultsManager> KSUserDefaultsManager::sharedManager(KSInstanceProvider& provider) {
  return provider.singleton<KSUserDefaultsManager>(kSingletonName, make);
}

void KSUserDefaultsManager::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSUserDefaultsManager>(std::string(kSingletonName), make);
}

KSUserDefaultsManager::KSUserDefaultsManager(std::shared_ptr<platform::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

std::optional<std::string> KSUserDefaultsManager::loadString(std::string_view key) const {
  return defaults_ ? defaults_->stringForKey(key) : std::nullopt;
}

std::optional<platform::Date> KSUserDefaultsManager::loadDate(std::string_view key) const {
  return defaults_ ? defaults_->dateForKey(key) : std::nullopt;
}

void KSUserDefaultsManager::storeString(std::string_view key, const std::optional<std::string>& value) {
  if (!defaults_) {
    platform::Log::warning(kLog, "no user defaults; \"{}\" is not stored", key);
    return;
  }
  defaults_->setObject(key, value ? platform::Value(*value) : platform::Value());
  defaults_->synchronize();
}

void KSUserDefaultsManager::storeDate(std::string_view key, std::optional<platform::Date> value) {
  if (!defaults_) {
    platform::Log::warning(kLog, "no user defaults; \"{}\" is not stored", key);
    return;
  }
  defaults_->setObject(key, value ? platform::Value(*value) : platform::Value());
  defaults_->synchronize();
}

std::optional<std::string> KSUserDefaultsManager::loadKestrineIdentifier() const {
  auto id = loadString(KSUserDefaultsKestrineIdentifierKey);
  if (id && id->empty()) return std::nullopt;
  return id;
}

void KSUserDefaultsManager::storeKestrineIdentifier(const std::optional<std::string>& identifier) {
  storeString(KSUserDefaultsKestrineIdentifierKey, identifier);
}

std::vector<std::shared_ptr<KSSession>> KSUserDefaultsManager::loadSessions() const {
  if (!defaults_) return {};
  auto stored = defaults_->arrayForKey(KSUserDefaultsSessionsKey);
  if (!stored || stored->empty()) return {};
  platform::Error error;
  auto sessions = KSSession::arrayOfModelsFromDictionaries(platform::Value(*stored), &error);
  if (!sessions) {
    platform::Log::warning(kLog, "stored sessions do not decode ({}); starting with none", error.localizedDescription);
    return {};
  }
  return *sessions;
}

std::shared_ptr<KSApp> KSUserDefaultsManager::loadCachedApp() const {
  if (!defaults_) return nullptr;
  platform::Value stored = defaults_->objectForKey(KSUserDefaultsSDKRemoteConfigurationsKey);
  if (!stored.dict()) return nullptr;
  platform::Error error;
  auto app = KSApp::initWithDictionary(stored, &error);
  if (!app) platform::Log::warning(kLog, "stored app does not import ({})", error.localizedDescription);
  return app;
}

void KSUserDefaultsManager::storeApp(const std::shared_ptr<KSApp>& app) {
  if (!defaults_) {
    platform::Log::warning(kLog, "no user defaults; \"{}\" is not stored", KSUserDefaultsSDKRemoteConfigurationsKey);
    return;
  }
  if (!app) {
    defaults_->setObject(KSUserDefaultsSDKRemoteConfigurationsKey, platform::Value());
  } else if (!defaults_->setObject(KSUserDefaultsSDKRemoteConfigurationsKey, app->toDictionary())) {
    platform::Log::warning(kLog, "the app record cannot be stored");
  }
  defaults_->synchronize();
}

void KSUserDefaultsManager::storeSessions(const std::vector<std::shared_ptr<KSSession>>& sessions) {
  if (!defaults_) {
    platform::Log::warning(kLog, "no user defaults; \"{}\" is not stored", KSUserDefaultsSessionsKey);
    return;
  }
  platform::Array array;
  array.reserve(sessions.size());
  for (const auto& session : sessions) {
    if (session) array.push_back(session->toDictionary());
  }
  defaults_->setObject(KSUserDefaultsSessionsKey, platform::Value(std::move(array)));
  defaults_->synchronize();
}

std::map<std::string, std::shared_ptr<KSBeaconRegion>> KSUserDefaultsManager::loadBeaconRegionForRegionIdentifier()
    const {
  std::map<std::string, std::shared_ptr<KSBeaconRegion>> out;
  if (!defaults_) return out;
  auto stored = defaults_->arrayForKey(KSUserDefaultsBeaconRegionsKey);
  if (!stored || stored->empty()) return out;
  platform::Error error;
  auto regions = KSBeaconRegion::arrayOfModelsFromDictionaries(platform::Value(*stored), &error);
  if (!regions) {
    platform::Log::warning(kLog, "stored beacon regions do not decode ({}); starting with none",
                           error.localizedDescription);
    return out;
  }
  for (auto& region : *regions) {
    if (region && region->identifier()) out.insert_or_assign(*region->identifier(), std::move(region));
  }
  return out;
}

void KSUserDefaultsManager::storeBeaconRegionForRegionIdentifier(
    const std::map<std::string, std::shared_ptr<KSBeaconRegion>>& regions) {
  if (!defaults_) {
    platform::Log::warning(kLog, "no user defaults; \"{}\" is not stored", KSUserDefaultsBeaconRegionsKey);
    return;
  }
  platform::Array array;
  array.reserve(regions.size());
  for (const auto& [identifier, region] : regions) {
    if (region) array.push_back(region->toDictionary());
  }
  defaults_->setObject(KSUserDefaultsBeaconRegionsKey, platform::Value(std::move(array)));
  defaults_->synchronize();
}

std::optional<std::string> KSUserDefaultsManager::loadDeviceIdentifier() const {
  return loadString(KSUserDefaultsDeviceIdentifierKey);
}

void KSUserDefaultsManager::storeDeviceIdentifier(const std::optional<std::string>& identifier) {
  storeString(KSUserDefaultsDeviceIdentifierKey, identifier);
}

std::optional<platform::Date> KSUserDefaultsManager::loadResumedZoneMonitoringAt() const {
  return loadDate(KSUserDefaultsResumedZoneMonitoringAtKey);
}

void KSUserDefaultsManager::storeResumedZoneMonitoringAt(std::optional<platform::Date> date) {
  storeDate(KSUserDefaultsResumedZoneMonitoringAtKey, date);
}

std::optional<platform::Date> KSUserDefaultsManager::loadSuspendedZoneMonitoringAt() const {
  return loadDate(KSUserDefaultsSuspendedZoneMonitoringAtKey);
}

void KSUserDefaultsManager::storeSuspendedZoneMonitoringAt(std::optional<platform::Date> date) {
  storeDate(KSUserDefaultsSuspendedZoneMonitoringAtKey, date);
}

std::optional<platform::Date> KSUserDefaultsManager::apiRetryAfter() {
  std::lock_guard lock(retryMutex_);
  if (!apiRetryAfter_) apiRetryAfter_ = loadDate(KSUserDefaultsAPIRetryAfterKey);
  return apiRetryAfter_;
}

void KSUserDefaultsManager::setApiRetryAfter(std::optional<platform::Date> date) {
  std::lock_guard lock(retryMutex_);
  apiRetryAfter_ = date;
  storeDate(KSUserDefaultsAPIRetryAfterKey, date);
}

}  // namespace velmora::kestrine
