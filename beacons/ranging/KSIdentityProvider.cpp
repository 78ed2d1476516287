#include "beacons/ranging/KSIdentityProvider.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/app/Application.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {
namespace {

std::shared_ptr<KSIdentityProvider> make(KSInstanceProvider& provider) {
  return std::make_shared<KSIdentityProvider>(KSUserDefaultsManager::sharedManager(provider), provider.platform().app);
}

}  // namespace

std::shared_ptr<KSIdentityProvider> KSIdentityProvider::sharedIdentityProvider() {
  return sharedIdentityProvider(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSIdentityProvider> KSIdentityProvider::sharedIdentityProvider(KSInstanceProvider& provider) {
  return provider.singleton<KSIdentityProvider>(kSingletonName, make);
}

void KSIdentityProvider::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSIdentityProvider>(std::string(kSingletonName), make);
}

KSIdentityProvider::KSIdentityProvider(std::shared_ptr<KSUserDefaultsManager> defaults,
                                       std::shared_ptr<platform::app::Application> app)
    : defaults_(std::move(defaults)), app_(std::move(app)) {}

std::string KSIdentityProvider::kestrineIdentifier() {
  std::lock_guard lock(mutex_);
  if (kestrineIdentifier_.empty() && defaults_) {
    kestrineIdentifier_ = defaults_->loadKestrineIdentifier().value_or(std::string());
  }
  if (kestrineIdentifier_.empty()) {
    kestrineIdentifier_ = std::string(kInstallationPrefix) + platform::Uuid::random().string();
    if (defaults_) defaults_->storeKestrineIdentifier(kestrineIdentifier_);
  }
  return kestrineIdentifier_;
}

void KSIdentityProvider::setKestrineIdentifier(std::string identifier) {
  std::lock_guard lock(mutex_);
  kestrineIdentifier_ = std::move(identifier);
}

std::string KSIdentityProvider::deviceIdentifier() {
  std::lock_guard lock(mutex_);
  if ((!deviceIdentifier_ || deviceIdentifier_->empty()) && defaults_) deviceIdentifier_ = defaults_->loadDeviceIdentifier();
  if (deviceIdentifier_ && !deviceIdentifier_->empty()) return *deviceIdentifier_;
  return advertisingIdentifier();
}

void KSIdentityProvider::setDeviceIdentifier(std::optional<std::string> identifier) {
  std::lock_guard lock(mutex_);
  deviceIdentifier_ = identifier;
  if (defaults_) defaults_->storeDeviceIdentifier(identifier);
}

std::string KSIdentityProvider::advertisingIdentifier() {
  // One read of the identity, so a switch of tracking between two reads cannot pair
  // "enabled" with another answer's UUID.
  if (app_) {
    const auto identity = app_->advertisingIdentity();
    if (identity.managerPresent && identity.trackingEnabled) {
      return std::string(kAdvertisingPrefix) + identity.identifier.string();
    }
  }
  return kestrineIdentifier();
}

bool KSIdentityProvider::advertisingTrackingEnabled() const {
  if (!app_) return false;
  const auto identity = app_->advertisingIdentity();
  return identity.managerPresent && identity.trackingEnabled;
}

bool KSIdentityProvider::deviceHasASIdentifierManager() const { return app_ && app_->advertisingIdentity().managerPresent; }

std::string KSIdentityProvider::identifierFromASIdentifierManager() const {
  const auto identity = app_ ? app_->advertisingIdentity() : platform::app::AdvertisingIdentity{};
  return std::string(kAdvertisingPrefix) + identity.identifier.string();
}

std::optional<std::string> KSIdentityProvider::sessionIdentifier() const {
  std::shared_ptr<KSSessionIdentifierSource> source;
  {
    std::lock_guard lock(mutex_);
    source = sessionSource_.lock();
  }
  return source ? source->currentSessionIdentifier() : std::nullopt;
}

void KSIdentityProvider::setSessionIdentifierSource(std::weak_ptr<KSSessionIdentifierSource> source) {
  std::lock_guard lock(mutex_);
  sessionSource_ = std::move(source);
}

}  // namespace velmora::kestrine
