#include "beacons/api/KSAccountManager.h"

#include <algorithm>
#include <utility>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/StringHash.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSPlatformType.h"
#include "beacons/model/KSSiteAccessType.h"
#include "beacons/model/KSTargetSpeed.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kLog = "account";

bool sameCode(const std::optional<std::string>& code, const std::string& digest) {
  if (!code || code->size() != digest.size()) return false;
  return std::equal(code->begin(), code->end(), digest.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

std::optional<std::int64_t> statusOf(const platform::Error& error) {
  auto it = error.userInfo.find(KSNetworkingTaskResponseStatusCodeKey);
  return it == error.userInfo.end() ? std::nullopt : it->second.toInt64();
}

std::shared_ptr<void> errorObject(const platform::Error& error) { return std::make_shared<platform::Error>(error); }

// The record under `key` of a reply; nullptr with the import's own error otherwise (a reply
// without the key is a nil input to the import).
template <class T>
std::shared_ptr<T> recordUnder(const platform::Value& reply, std::string_view key, platform::Error& error) {
  return T::initWithDictionary(reply[key], &error);
}

}  // namespace

KSAccountManager::KSAccountManager(Token, std::shared_ptr<KSApiClient> client,
                                   std::shared_ptr<KSUserDefaultsManager> defaults,
                                   std::shared_ptr<platform::NotificationCenter> center)
    : client_(std::move(client)), defaults_(std::move(defaults)), ownedCenter_(std::move(center)) {
  center_ = ownedCenter_ ? ownedCenter_.get() : &platform::NotificationCenter::defaultCenter();
}

std::shared_ptr<KSAccountManager> KSAccountManager::create(std::shared_ptr<KSApiClient> client,
                                                           std::shared_ptr<KSUserDefaultsManager> defaults,
                                                           std::shared_ptr<platform::NotificationCenter> center) {
  return std::make_shared<KSAccountManager>(Token{}, std::move(client), std::move(defaults), std::move(center));
}

std::shared_ptr<KSAccountManager> KSAccountManager::sharedManager() {
  auto provider = KSInstanceProvider::sharedProvider();
  return provider->singleton<KSAccountManager>(kSingletonName, [](KSInstanceProvider& p) {
    return KSAccountManager::create(KSApiClient::sharedApiClient(), KSUserDefaultsManager::sharedManager(p),
                                    p.platform().notificationCenter);
  });
}

platform::Date KSAccountManager::now() const { return client_->scheduler()->clock()->now(); }

void KSAccountManager::post(std::string_view name, std::shared_ptr<void> object) {
  center_->post(std::string(name), std::move(object));
}

#define KS_ACCOUNT_TEXT(name, field, Setter)    \
  std::string KSAccountManager::name() const {  \
    std::lock_guard lock(mutex_);               \
    return field;                               \
  }                                             \
  void KSAccountManager::Setter(std::string v) { \
    std::lock_guard lock(mutex_);               \
    field = std::move(v);                       \
  }
KS_ACCOUNT_TEXT(appToken, appToken_, setAppToken)
KS_ACCOUNT_TEXT(userName, userName_, setUserName)
KS_ACCOUNT_TEXT(password, password_, setPassword)
#undef KS_ACCOUNT_TEXT

int KSAccountManager::appTokenStatus() {
  std::lock_guard lock(mutex_);
  return appTokenStatus_;
}

std::shared_ptr<KSApp> KSAccountManager::verifiedApp() {
  std::lock_guard lock(mutex_);
  if (!verifiedApp_) verifiedApp_ = std::make_shared<KSApp>();
  return verifiedApp_;
}

std::shared_ptr<KSPerson> KSAccountManager::loggedInPerson() const {
  std::lock_guard lock(mutex_);
  return loggedInPerson_;
}

void KSAccountManager::verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                                          std::function<void(platform::Error)> failure) {
  if (!platform::precondition(success != nullptr, "success") || !platform::precondition(failure != nullptr, "failure")) {
    return;
  }
  const std::string digest = string_hash::SHA256(token);
  auto app = verifiedApp();
  {
    std::lock_guard lock(mutex_);
    appTokenStatus_ = sameCode(app->verificationCode(), digest) ? KSAppTokenStatusVerified : KSAppTokenStatusUnverified;
  }
  std::weak_ptr<KSAccountManager> weak = weak_from_this();
  client_->GET(
      KSApiPath("/apps/%@", {token}), platform::Value(),
      [weak, digest, success, failure](const KSApiClient::Task&, const platform::Value& reply) {
        auto self = weak.lock();
        if (!self) return;
        platform::Error error;
        auto parsed = recordUnder<KSApp>(reply, "app", error);
        if (!parsed) {
          failure(error);
          self->post(KSAccountManagerDidFailVerifyAppNotification, errorObject(error));
          return;
        }
        auto app = self->verifiedApp();
        app->copyApiPropertiesFromApp(*parsed);
        app->setVerificationCode(digest);
        app->setVerifiedAt(self->now());
        {
          std::lock_guard lock(self->mutex_);
          self->appTokenStatus_ = KSAppTokenStatusVerified;
        }
        if (self->defaults_) self->defaults_->storeApp(app);
        success(app);
        self->post(KSAccountManagerDidVerifyAppNotification, app);
      },
      [weak, failure](const KSApiClient::Task&, const platform::Error& error) {
        auto self = weak.lock();
        if (!self) return;
        if (statusOf(error) == 401) {
          {
            std::lock_guard lock(self->mutex_);
            self->appTokenStatus_ = KSAppTokenStatusInvalid;
          }
          if (self->defaults_) self->defaults_->storeApp(nullptr);
        }
        failure(error);
        self->post(KSAccountManagerDidFailVerifyAppNotification, errorObject(error));
      });
}

void KSAccountManager::attemptAppRestoreAndVerifyWithToken(const std::string& token) {
  if (token.empty()) return;
  auto cached = defaults_ ? defaults_->loadCachedApp() : nullptr;
  if (cached && sameCode(cached->verificationCode(), string_hash::SHA256(token))) {
    auto app = verifiedApp();
    app->copyApiPropertiesFromApp(*cached);
    {
      std::lock_guard lock(mutex_);
      appTokenStatus_ = KSAppTokenStatusVerified;
    }
    post(KSAccountManagerDidVerifyAppNotification, app);
    return;
  }
  if (defaults_) defaults_->storeApp(nullptr);
}

void KSAccountManager::verifyCredentialsWithSuccess(std::function<void(std::shared_ptr<KSPerson>)> success,
                                                    Failure failure) {
  if (!platform::precondition(success != nullptr, "success") || !platform::precondition(failure != nullptr, "failure")) {
    return;
  }
  std::weak_ptr<KSAccountManager> weak = weak_from_this();
  client_->GET(
      "/account/verifycredentials", platform::Value(),
      [weak, success, failure](const KSApiClient::Task&, const platform::Value& reply) {
        auto self = weak.lock();
        if (!self) return;
        platform::Error error;
        auto person = recordUnder<KSPerson>(reply, "user", error);
        if (!person) {
          failure(error);
          self->post(KSAccountManagerDidFailLogInNotification, errorObject(error));
          return;
        }
        {
          std::lock_guard lock(self->mutex_);
          self->loggedInPerson_ = person;
        }
        self->reloadLookupModels();
        success(person);
        self->post(KSAccountManagerDidLogInPersonNotification, person);
      },
      [weak, failure](const KSApiClient::Task&, const platform::Error& error) {
        auto self = weak.lock();
        if (!self) return;
        failure(error);
        self->post(KSAccountManagerDidFailLogInNotification, errorObject(error));
      });
}

void KSAccountManager::logOff() {
  {
    std::lock_guard lock(mutex_);
    loggedInPerson_ = nullptr;
  }
  client_->clearAuthorizationHeader();
  post(KSAccountManagerDidLogOffNotification, nullptr);
}

template <class T>
void KSAccountManager::getList(std::optional<List<T>> KSAccountManager::*slot, std::string_view path,
                               std::string_view key, std::function<void(const List<T>&)> success, Failure failure) {
  std::optional<List<T>> loaded;
  {
    std::lock_guard lock(mutex_);
    loaded = this->*slot;
  }
  if (loaded) {
    if (success) success(*loaded);
    return;
  }
  std::weak_ptr<KSAccountManager> weak = weak_from_this();
  client_->GET(
      path, platform::Value(),
      [weak, slot, key = std::string(key), success](const KSApiClient::Task&, const platform::Value& reply) {
        auto self = weak.lock();
        if (!self) return;
        auto models = T::arrayOfModelsFromDictionaries(reply[key]);
        std::optional<List<T>> stored;
        {
          std::lock_guard lock(self->mutex_);
          if (models) (*self).*slot = std::move(*models);
          stored = (*self).*slot;
        }
        if (!stored) platform::Log::warning(kLog, "the reply holds no readable \"{}\" list", key);
        if (success) success(stored.value_or(List<T>{}));
      },
      [failure](const KSApiClient::Task&, const platform::Error& error) {
        if (failure) failure(error);
      });
}

void KSAccountManager::getPlatformTypesWithSuccess(std::function<void(const List<KSPlatformType>&)> success,
                                                   Failure failure) {
  getList(&KSAccountManager::platformTypes_, "platformtypes", "platformTypes", std::move(success), std::move(failure));
}
void KSAccountManager::getBeaconLoudnessesWithSuccess(std::function<void(const List<KSBeaconLoudness>&)> success,
                                                      Failure failure) {
  getList(&KSAccountManager::beaconLoudnesses_, "beaconloudnesses", "beaconLoudnesses", std::move(success),
          std::move(failure));
}
void KSAccountManager::getTargetSpeedsWithSuccess(std::function<void(const List<KSTargetSpeed>&)> success,
                                                  Failure failure) {
  getList(&KSAccountManager::targetSpeeds_, "targetspeeds", "targetSpeeds", std::move(success), std::move(failure));
}
void KSAccountManager::getBeaconModesWithSuccess(std::function<void(const List<KSBeaconMode>&)> success,
                                                 Failure failure) {
  getList(&KSAccountManager::beaconModes_, "beaconmodes", "beaconModes", std::move(success), std::move(failure));
}

void KSAccountManager::getSiteAccessTypesWithSuccess(std::function<void(const List<KSSiteAccessType>&)> success,
                                                     Failure failure) {
  getList(&KSAccountManager::siteAccessTypes_, "siteaccesstypes", "siteAccessTypes", std::move(success),
          std::move(failure));
}

void KSAccountManager::reloadLookupModels() {
  getPlatformTypesWithSuccess(nullptr, nullptr);
  getBeaconLoudnessesWithSuccess(nullptr, nullptr);
  getTargetSpeedsWithSuccess(nullptr, nullptr);
  getSiteAccessTypesWithSuccess(nullptr, nullptr);
  getBeaconModesWithSuccess(nullptr, nullptr);
}

#define KS_ACCOUNT_LIST(Type, name, field)                         \
  std::optional<Type> KSAccountManager::name() const {             \
    std::lock_guard lock(mutex_);                                  \
    return field;                                                  \
  }
KS_ACCOUNT_LIST(KSAccountManager::List<KSPlatformType>, platformTypes, platformTypes_)
KS_ACCOUNT_LIST(KSAccountManager::List<KSBeaconLoudness>, beaconLoudnesses, beaconLoudnesses_)
KS_ACCOUNT_LIST(KSAccountManager::List<KSTargetSpeed>, targetSpeeds, targetSpeeds_)
KS_ACCOUNT_LIST(KSAccountManager::List<KSSiteAccessType>, siteAccessTypes, siteAccessTypes_)
KS_ACCOUNT_LIST(KSAccountManager::List<KSBeaconMode>, beaconModes, beaconModes_)
#undef KS_ACCOUNT_LIST

void KSAccountManager::getBeaconWithBeaconID(const std::string& beaconID, std::int64_t version,
                                             std::function<void(std::shared_ptr<KSBeacon>)> success, Failure failure) {
  if (!platform::precondition(success != nullptr, "success") || !platform::precondition(failure != nullptr, "failure")) {
    return;
  }
  client_->GET(
      KSApiPath("beacons/%@", {beaconID}), platform::Value::makeDict({{"version", std::to_string(version)}}),
      [success, failure](const KSApiClient::Task&, const platform::Value& reply) {
        platform::Error error;
        auto beacon = recordUnder<KSBeacon>(reply, "beacon", error);
        if (beacon) {
          success(beacon);
        } else {
          failure(error);
        }
      },
      [failure](const KSApiClient::Task&, const platform::Error& error) { failure(error); });
}

}  // namespace velmora::kestrine
