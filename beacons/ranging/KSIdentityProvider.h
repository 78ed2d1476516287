#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfiguratorPorts.h"

namespace velmora::platform::app {
class Application;
}

namespace velmora::kestrine {

class KSInstanceProvider;
class KSUserDefaultsManager;

// Where the identity provider reads the identifier of the app session now running (the
// session manager implements it).
class KSSessionIdentifierSource {
 public:
  virtual ~KSSessionIdentifierSource() = default;
  // nullopt outside a session.
  virtual std::optional<std::string> currentSessionIdentifier() = 0;
};

// The identifiers the SDK reports about the device:
// - the installation identifier, "ks:" and an upper-case UUID, made once and kept in the
//   user defaults from then on;
// - the device identifier: the one the host set (kept in the user defaults), else the
//   advertising identifier;
// - the advertising identifier: "idfa:" and the platform's advertising UUID in upper case
//   when the device has an advertising manager and the user allows tracking, else the
//   installation identifier. It is read from the app anew at every call and never stored;
// - the identifier of the current app session: the registry's session manager's, looked up
//   at every call (the registry's provider is made with that source bound).
// Thread-safe: the identifier fields are guarded by one recursive lock.
class KSIdentityProvider : public KSInstallationIdentity {
 public:
  static constexpr std::string_view kSingletonName = "KSIdentityProvider";
  static constexpr std::string_view kInstallationPrefix = "ks:";
  static constexpr std::string_view kAdvertisingPrefix = "idfa:";

  // The shared registry's provider.
  static std::shared_ptr<KSIdentityProvider> sharedIdentityProvider();
  // The provider of that registry, on its user-defaults manager and app.
  static std::shared_ptr<KSIdentityProvider> sharedIdentityProvider(KSInstanceProvider& provider);
  // Lets the registry make the provider by name (the configure step asks for it so).
  static void installMaker(KSInstanceProvider& provider);

  // Without defaults nothing is loaded or kept; without an app there is no advertising
  // manager.
  KSIdentityProvider(std::shared_ptr<KSUserDefaultsManager> defaults, std::shared_ptr<platform::app::Application> app);

  // The installation identifier: loaded from the user defaults on first use, or made and
  // stored there when they hold none.
  std::string kestrineIdentifier() override;
  // Replaces the identifier held; the user defaults keep theirs.
  void setKestrineIdentifier(std::string identifier);

  // The identifier set or kept (loaded once it is needed), else the advertising identifier.
  std::string deviceIdentifier();
  // Holds the identifier and keeps it in the user defaults; nullopt removes it from there.
  void setDeviceIdentifier(std::optional<std::string> identifier);

  std::string advertisingIdentifier();
  bool advertisingTrackingEnabled() const;
  bool deviceHasASIdentifierManager() const;
  // "idfa:" and the advertising UUID in upper case, whether or not tracking is allowed.
  std::string identifierFromASIdentifierManager() const;

  // The current session's identifier; nullopt outside a session or with no source.
  std::optional<std::string> sessionIdentifier() const;
  // Where the session identifier is read, found anew at every call.
  using SessionSourceLookup = std::function<std::shared_ptr<KSSessionIdentifierSource>()>;
  void setSessionIdentifierSource(SessionSourceLookup lookup);
  void setSessionIdentifierSource(std::weak_ptr<KSSessionIdentifierSource> source);

 private:
  const std::shared_ptr<KSUserDefaultsManager> defaults_;
  const std::shared_ptr<platform::app::Application> app_;
  mutable std::recursive_mutex mutex_;
  std::string kestrineIdentifier_;
  std::optional<std::string> deviceIdentifier_;
  SessionSourceLookup sessionSource_;
};

}  // namespace velmora::kestrine
