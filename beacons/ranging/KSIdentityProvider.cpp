#include "beacons/ranging/KSIdentityProvider.h"

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/app/Application.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {
namespace {

std::shared_ptr<KSIdentityProvider> make(KSInstanceProvider& provider) {
  auto identity =
      std::make_shared<KSIdentityProvider>(KSUserDefaultsManager::sharedManager(provider), provider.platform().app);
  // The registry's session manager, once it is made: no session runs before it exists, and
  // asking from here must not make it (its making posts session notices whose observers may
  // ask for the session identifier again).
  identity->setSessionIdentifierSource(
      [weak = provider.weak_from_this()]() -> std::shared_ptr<KSSessionIdentifierSource> {
        auto p = weak.lock();
        if (!p || !p->hasSingleton(KSSessionManager::kSingletonName)) return nullptr;
        return KSSessionManager::sharedManager(*p);
      });
  return identity;
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
  SessionSourceLookup lookup;
  {
    std::lock_guard lock(mutex_);
    lookup = sessionSource_;
  }
  // Looked up and asked outside the lock: the session manager takes its own.
  auto source = lookup ? lookup() : nullptr;
  return source ? source->currentSessionIdentifier() : std::nullopt;
}

void KSIdentityProvider::setSessionIdentifierSource(SessionSourceLookup lookup) {
  std::lock_guard lock(mutex_);
  sessionSource_ = std::move(lookup);
}

void KSIdentityProvider::setSessionIdentifierSource(std::weak_ptr<KSSessionIdentifierSource> source) {
  setSessionIdentifierSource([source = std::move(source)] { return source.lock(); });
}

}  // namespace velmora::kestrine
