#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::platform {
class Clock;
class NotificationCenter;
}  // namespace velmora::platform

namespace velmora::kestrine {

class KSApiClient;
class KSApp;
class KSBeacon;
class KSBeaconLoudness;
class KSBeaconMode;
class KSPerson;
class KSPlatformType;
class KSSiteAccessType;
class KSTargetSpeed;
class KSUserDefaultsManager;

enum KSAppTokenStatus : int {
  KSAppTokenStatusNone = 0,
  KSAppTokenStatusUnverified = 1,
  KSAppTokenStatusVerified = 2,
  KSAppTokenStatusInvalid = 3,
};

inline constexpr std::string_view KSAccountManagerDidVerifyAppNotification = "KSAccountManagerDidVerifyApp";
inline constexpr std::string_view KSAccountManagerDidFailVerifyAppNotification = "KSAccountManagerDidFailVerifyApp";
inline constexpr std::string_view KSAccountManagerDidLogInPersonNotification = "KSAccountManagerDidLogInPerson";
inline constexpr std::string_view KSAccountManagerDidFailLogInNotification = "KSAccountManagerDidFailLogIn";
inline constexpr std::string_view KSAccountManagerDidLogOffNotification = "KSAccountManagerDidLogOff";

// The app's standing with the beacon platform: whether its token is verified, the verified
// app record, the signed-in person and the platform's lookup lists.
//
// Verification first compares the token with the cached app record (its verification code
// is the token's SHA-256), so a token that matches counts as verified while the request
// runs; a 401 marks it invalid and drops the cached app. Network results, blocks and
// notifications come on the API client's completion queue; the restore and log-off run on
// the caller's thread. Notifications carry the app, the person or the error (a
// platform::Error) as their object. State is guarded: any thread may read it.
class KSAccountManager : public KSAppVerification, public std::enable_shared_from_this<KSAccountManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSAccountManager";

  template <class T>
  using List = std::vector<std::shared_ptr<T>>;
  using Failure = std::function<void(const platform::Error&)>;

  static std::shared_ptr<KSAccountManager> create(std::shared_ptr<KSApiClient> client,
                                                  std::shared_ptr<KSUserDefaultsManager> defaults,
                                                  std::shared_ptr<platform::NotificationCenter> center = nullptr);
  // The registry's manager, on the shared client and user defaults.
  static std::shared_ptr<KSAccountManager> sharedManager();

  // --- held for callers
  std::string appToken() const;
  void setAppToken(std::string v);
  std::string userName() const;
  void setUserName(std::string v);
  std::string password() const;
  void setPassword(std::string v);

  int appTokenStatus() override;
  // Never nothing: reading it while empty makes and keeps an empty app.
  std::shared_ptr<KSApp> verifiedApp();
  std::shared_ptr<KSPerson> loggedInPerson() const;
  bool isLoggedIn() const { return loggedInPerson() != nullptr; }

  // --- verification. Both blocks are required.
  void verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                          std::function<void(platform::Error)> failure) override;
  void attemptAppRestoreAndVerifyWithToken(const std::string& token);
  void verifyCredentialsWithSuccess(std::function<void(std::shared_ptr<KSPerson>)> success, Failure failure);
  void logOff();

  // --- lookup lists: loaded once, then answered from memory. Either block may be empty.
  void getPlatformTypesWithSuccess(std::function<void(const List<KSPlatformType>&)> success, Failure failure);
  void getBeaconLoudnessesWithSuccess(std::function<void(const List<KSBeaconLoudness>&)> success, Failure failure);
  void getTargetSpeedsWithSuccess(std::function<void(const List<KSTargetSpeed>&)> success, Failure failure);
  void getSiteAccessTypesWithSuccess(std::function<void(const List<KSSiteAccessType>&)> success, Failure failure);
  void getBeaconModesWithSuccess(std::function<void(const List<KSBeaconMode>&)> success, Failure failure);
  void reloadLookupModels();

  std::optional<List<KSPlatformType>> platformTypes() const;
  std::optional<List<KSBeaconLoudness>> beaconLoudnesses() const;
  std::optional<List<KSTargetSpeed>> targetSpeeds() const;
  std::optional<List<KSSiteAccessType>> siteAccessTypes() const;
  std::optional<List<KSBeaconMode>> beaconModes() const;

  // GET "beacons/<id>" with "version"; both blocks are required.
  void getBeaconWithBeaconID(const std::string& beaconID, std::int64_t version,
                             std::function<void(std::shared_ptr<KSBeacon>)> success, Failure failure);

 private:
  struct Token {};

 public:
  KSAccountManager(Token, std::shared_ptr<KSApiClient> client, std::shared_ptr<KSUserDefaultsManager> defaults,
                   std::shared_ptr<platform::NotificationCenter> center);

 private:
  template <class T>
  void getList(std::optional<List<T>> KSAccountManager::*slot, std::string_view path, std::string_view key,
               std::function<void(const List<T>&)> success, Failure failure);
  void post(std::string_view name, std::shared_ptr<void> object);
  platform::Date now() const;

  const std::shared_ptr<KSApiClient> client_;
  const std::shared_ptr<KSUserDefaultsManager> defaults_;
  platform::NotificationCenter* center_;
  std::shared_ptr<platform::NotificationCenter> ownedCenter_;

  mutable std::mutex mutex_;
  std::string appToken_, userName_, password_;
  std::shared_ptr<KSPerson> loggedInPerson_;
  std::shared_ptr<KSApp> verifiedApp_;
  int appTokenStatus_ = KSAppTokenStatusNone;
  std::optional<List<KSPlatformType>> platformTypes_;
  std::optional<List<KSBeaconLoudness>> beaconLoudnesses_;
  std::optional<List<KSTargetSpeed>> targetSpeeds_;
  std::optional<List<KSSiteAccessType>> siteAccessTypes_;
  std::optional<List<KSBeaconMode>> beaconModes_;
};

}  // namespace velmora::kestrine
