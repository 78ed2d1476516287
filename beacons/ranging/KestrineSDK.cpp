#include "beacons/ranging/KestrineSDK.h"

#include <mutex>
#include <vector>

#include "beacons/api/KSAccountManager.h"
#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/foundation/KSStandardSingletonMakers.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSEvent.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KSIdentityProvider.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/ranging/KSSiteSingletonMakers.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/app/Application.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {
namespace {

constexpr std::string_view kLog = "KestrineSDK";
constexpr std::string_view kReachabilityManagerName = "KSNetworkReachabilityManager";
const char kSender = 0;

// The SDK entry's own state, one per registry (so one per process in an app).
struct EntryState {
  static constexpr std::string_view kSingletonName = "KestrineSDKState";

  std::mutex mutex;  // everything below; never held while calling out
  bool installed = false;
  bool starting = false;
  std::uint64_t startGeneration = 0;  // names the start that is pending
  // The host stopped the SDK while that start was pending, and asked no start since: the
  // stop wins, and the server's answer finishes the start without running the SDK again.
  bool stoppedWhileStarting = false;
  std::vector<KestrineSDK::Completion> kept;
  bool reachabilityObserved = false;
  bool applicationStateObserved = false;
  std::vector<platform::NotificationCenter::ObserverToken> observers;
  std::shared_ptr<platform::NotificationCenter> center;

  ~EntryState() {
    if (center) {
      for (const auto& token : observers) center->removeObserver(token);
    }
  }
};

std::shared_ptr<EntryState> stateOf(KSInstanceProvider& p) {
  return p.singleton<EntryState>(EntryState::kSingletonName, [](KSInstanceProvider& provider) {
    auto state = std::make_shared<EntryState>();
    state->center = provider.platform().notificationCenter;
    return state;
  });
}

// The shared registry (born with the SDK's makers installed).
std::shared_ptr<KSInstanceProvider> registry() { return KSInstanceProvider::sharedProvider(); }

std::shared_ptr<KSConfigurator> configuratorOf(KSInstanceProvider& p) { return KSConfigurator::sharedConfigurator(p); }

std::shared_ptr<KSAccountManaging> accountOf(KSInstanceProvider& p) {
  return p.singleton<KSAccountManaging>(KSAccountManaging::kSingletonName, nullptr);
}

// The singleton when it has been made; a question never makes one.
template <class T>
std::shared_ptr<T> madeOnly(KSInstanceProvider& p, std::string_view name) {
  if (!p.hasSingleton(name)) return nullptr;
  return p.singleton<T>(name, nullptr);
}

platform::Dict remoteOptionsOf(const std::shared_ptr<KSApp>& app) {
  platform::Dict out;
  if (!app) return out;
  for (const auto& [key, value] : app->remoteOptions()) out.insert_or_assign(key, platform::Value(value));
  return out;
}

void post(KSInstanceProvider& p, std::string_view name, platform::Dict info = {}) {
  if (const auto& center = p.platform().notificationCenter) {
    center->post(std::string(name), platform::Notification::unowned(KestrineSDK::notificationSender()), std::move(info));
  }
}

// Posted with no sender: the SDK passes the network's change on, it is not the SDK's own.
void postWithoutSender(KSInstanceProvider& p, std::string_view name) {
  if (const auto& center = p.platform().notificationCenter) center->post(std::string(name));
}

void logStandardEvent(KSInstanceProvider& p, std::string_view identifier) {
  auto c = configuratorOf(p);
  if (c && c->trackStandardEvents()) {
    KestrineSDK::logEventWithIdentifier(std::string(identifier), std::nullopt, std::nullopt, std::nullopt);
  }
}

std::shared_ptr<platform::dispatch::Scheduler> schedulerOf(KSInstanceProvider& p) {
  const auto& s = p.platform().scheduler;
  return s ? s : platform::dispatch::Scheduler::shared();
}

// Queues the completion on the main queue, each kept one right after it, and ends the
// pending start. Runs under the state lock: posting to a queue calls nobody.
void finishStartLocked(KSInstanceProvider& p, EntryState& state, KestrineSDK::Completion completion) {
  auto main = schedulerOf(p)->mainQueue();
  std::vector<KestrineSDK::Completion> all;
  if (completion) all.push_back(std::move(completion));
  for (auto& k : state.kept) all.push_back(std::move(k));
  state.kept.clear();
  state.starting = false;
  for (auto& c : all) {
    main->async([c = std::move(c)] { c(KestrineSDK::status()); });
  }
}

void finishStart(KSInstanceProvider& p, KestrineSDK::Completion completion) {
  auto state = stateOf(p);
  std::lock_guard lock(state->mutex);
  finishStartLocked(p, *state, std::move(completion));
}

// Takes the start gate: false (the completion kept) when another start is pending.
bool acceptStart(KSInstanceProvider& p, KestrineSDK::Completion& completion, std::uint64_t* generation) {
  auto state = stateOf(p);
  std::lock_guard lock(state->mutex);
  if (state->starting) {
    if (completion) state->kept.push_back(std::move(completion));
    state->stoppedWhileStarting = false;  // the host's latest word is a start
    return false;
  }
  state->starting = true;
  state->stoppedWhileStarting = false;
  *generation = ++state->startGeneration;
  return true;
}

void observe(KSInstanceProvider& p, EntryState& state, std::string_view name,
             std::function<void(KSInstanceProvider&, const platform::Notification&)> handler) {
  const auto& center = p.platform().notificationCenter;
  if (!center) return;
  std::weak_ptr<KSInstanceProvider> weak = p.weak_from_this();
  state.observers.push_back(
      center->addObserver(std::string(name), nullptr, nullptr, [weak, handler](const platform::Notification& n) {
        if (auto provider = weak.lock()) handler(*provider, n);
      }));
}

void networkReachabilityDidChange(KSInstanceProvider& p, const platform::Notification& n) {
  postWithoutSender(p, KSNotificationNetworkReachabilityDidChange);
  const auto reachability = platform::Value(n.userInfo)[KSNetworkingReachabilityNotificationStatusItem].toInt64();
  if (!reachability || *reachability <= 0) return;
  if (KestrineSDK::shouldRetryVerifyAppBySDKStatus(KestrineSDK::appTokenVerificationStatus(p))) {
    KestrineSDK::startRunning(nullptr);
  }
  const int s = KestrineSDK::status(p);
  if (s == KSStatusRunning || s == KSStatusRunningWithErrors) KSBeaconRegionManager::sharedManager(p)->cacheBeaconRegions();
}

// Once, at the first accepted start.
void registerForNetworkingReachabilityNotification(KSInstanceProvider& p) {
  auto state = stateOf(p);
  std::lock_guard lock(state->mutex);
  if (state->reachabilityObserved) return;
  state->reachabilityObserved = true;
  observe(p, *state, KSNetworkingReachabilityDidChangeNotification, networkReachabilityDidChange);
}

void registerForApplicationStateTransitionNotifications(KSInstanceProvider& p) {
  auto state = stateOf(p);
  std::lock_guard lock(state->mutex);
  if (state->applicationStateObserved) return;
  state->applicationStateObserved = true;
  observe(p, *state, platform::app::kDidBecomeActiveNotification, [](KSInstanceProvider& provider, const auto&) {
    if (KestrineSDK::isNetworkReachable(provider) &&
        KestrineSDK::shouldRetryVerifyAppBySDKStatus(KestrineSDK::appTokenVerificationStatus(provider))) {
      KestrineSDK::startRunning(nullptr);
    }
  });
  observe(p, *state, platform::app::kWillResignActiveNotification, [](KSInstanceProvider& provider, const auto&) {
    logStandardEvent(provider, KSAnalyticEventAppResignedActive);
  });
  observe(p, *state, platform::app::kDidEnterBackgroundNotification, [](KSInstanceProvider& provider, const auto&) {
    logStandardEvent(provider, KSAnalyticEventAppEnteredBackground);
  });
  observe(p, *state, platform::app::kWillEnterForegroundNotification, [](KSInstanceProvider& provider, const auto&) {
    logStandardEvent(provider, KSAnalyticEventAppEnteredForeground);
  });
}

void sendStartRunningNotification(KSInstanceProvider& p) {
  platform::Dict info;
  info.insert_or_assign(std::string(KSNotificationDidStartRunningStatusKeyItem),
                        platform::Value(static_cast<std::int64_t>(KestrineSDK::status(p))));
  post(p, KSNotificationDidStartRunning, std::move(info));
}

// Answers whether this run configured the SDK (and so posted the start notification).
bool runSDK(KSInstanceProvider& p) {
  auto c = configuratorOf(p);
  auto account = accountOf(p);
  c->setRemoteOptions(remoteOptionsOf(account ? account->verifiedApp() : nullptr));
  bool configured = false;
  if (KestrineSDK::status(p) == KSStatusNotConfigured) {
    registerForApplicationStateTransitionNotifications(p);
    c->configureKestrineSDK();
    logStandardEvent(p, KSAnalyticEventSDKStartRunning);
    sendStartRunningNotification(p);
    configured = true;
  }
  c->runWithAppToken();
  return configured;
}

void startWithoutApiAccepted(KSInstanceProvider& p, KestrineSDK::Completion completion) {
  // With the SDK configured this asks for a restart, which the pending start turns away.
  KestrineSDK::setAppToken("");
  KestrineSDK::setOptions({{std::string(KSOptionUseApi), platform::Value(false)},
                           {std::string(KSOptionUseLocalStorage), platform::Value(false)},
                           {std::string(KSOptionTrackBeaconVisits), platform::Value(false)},
                           {std::string(KSOptionCacheSitesNearbyByLocation), platform::Value(false)},
                           {std::string(KSOptionCrowdSourceBeaconUpdates), platform::Value(false)}});
  // The first configuration posted the start already: one notification per start.
  if (!runSDK(p)) sendStartRunningNotification(p);
  finishStart(p, std::move(completion));
}

// An object that answers the installation identifier and the SDK version for the headers.
class HeaderSource : public KSInstallationIdentity {
 public:
  std::string kestrineIdentifier() override { return KestrineSDK::getKSInstallationID(); }
};

// The cloud API and the local store, bound to ranging's service ports. A maker already
// installed under a name (a test's fake) is kept.
template <class T>
void installUnlessPresent(KSInstanceProvider& provider, std::string_view name, KSInstanceProvider::Maker<T> maker) {
  if (provider.hasMaker(name) || provider.hasSingleton(name)) return;
  provider.installMaker<T>(std::string(name), std::move(maker));
}

std::shared_ptr<KSApiClient> apiClientOf(KSInstanceProvider& p) {
  return p.singleton<KSApiClient>(KSApiClient::kSingletonName, nullptr);
}

void installServiceMakers(KSInstanceProvider& provider) {
  // The base URL is read once, when the client is first asked for (the token's first use).
  installUnlessPresent<KSApiClient>(provider, KSApiClient::kSingletonName, [](KSInstanceProvider& p) {
    auto client = KSApiClient::create(configuratorOf(p)->apiBaseURL(), schedulerOf(p));
    KSApiClientPort::setShared(client);
    return client;
  });
  installUnlessPresent<KSApiHeaders>(provider, KSApiHeadersSingletonName,
                                     [](KSInstanceProvider& p) -> std::shared_ptr<KSApiHeaders> { return apiClientOf(p); });
  installUnlessPresent<KSAccountManager>(provider, KSAccountManager::kSingletonName, [](KSInstanceProvider& p) {
    return KSAccountManager::create(apiClientOf(p), KSUserDefaultsManager::sharedManager(p),
                                    p.platform().notificationCenter);
  });
  installUnlessPresent<KSAccountManaging>(
      provider, KSAccountManaging::kSingletonName, [](KSInstanceProvider& p) -> std::shared_ptr<KSAccountManaging> {
        auto account = p.singleton<KSAccountManager>(KSAccountManager::kSingletonName, nullptr);
        return account ? std::make_shared<KSAccountManagerAdapter>(account) : nullptr;
      });
  installUnlessPresent<KSApiOperationManager>(provider, KSApiOperationManager::kSingletonName, [](KSInstanceProvider& p) {
    return KSApiOperationManager::create(
        apiClientOf(p), KSUserDefaultsManager::sharedManager(p), KSApiOperationManagerPortsForRegistry(p.weak_from_this()),
        p.singleton<KSNetworkReachabilityManager>(kReachabilityManagerName, nullptr), p.platform().notificationCenter);
  });
  installUnlessPresent<KSApiOperationManaging>(
      provider, KSApiOperationManaging::kSingletonName,
      [](KSInstanceProvider& p) -> std::shared_ptr<KSApiOperationManaging> {
        auto manager = p.singleton<KSApiOperationManager>(KSApiOperationManager::kSingletonName, nullptr);
        return manager ? std::make_shared<KSApiOperationManagerAdapter>(manager) : nullptr;
      });
  if (!provider.hasMaker(KSLocalStorageManager::kSingletonName)) KSLocalStorageManager::installMaker(provider);
  installUnlessPresent<KSBeaconRegionStoring>(
      provider, KSBeaconRegionStoring::kSingletonName, [](KSInstanceProvider& p) -> std::shared_ptr<KSBeaconRegionStoring> {
        return std::make_shared<KSBeaconRegionStoreAdapter>(KSLocalStorageManager::sharedManager(p));
      });
}

}  // namespace

const void* KestrineSDK::notificationSender() { return &kSender; }

void KSInstallStandardSingletonMakers(KSInstanceProvider& provider) { KestrineSDK::installSingletons(provider); }

// --- wiring

void KestrineSDK::installSingletons(KSInstanceProvider& provider) {
  auto state = stateOf(provider);
  {
    std::lock_guard lock(state->mutex);
    if (state->installed) return;
    state->installed = true;
  }
  KSUserDefaultsManager::installMaker(provider);
  KSIdentityProvider::installMaker(provider);
  KSLocationManagerClient::installMaker(provider);
  KSBeaconRegionManager::installMaker(provider);
  provider.installMaker<KSSessionManager>(std::string(KSSessionManager::kSingletonName), [](KSInstanceProvider& p) {
    auto session = KSSessionManager::create(p);
    KSLocationManagerClient::sharedClient(p)->addDelegate(session);
    return session;
  });
  provider.installMaker<KSBeaconManagerInternal>(
      std::string(KSBeaconManagerInternal::kSingletonName), [](KSInstanceProvider& p) {
        KSBeaconManagerInternal::Ports ports;
        ports.regions = KSBeaconRegionManager::sharedManager(p);
        ports.store = KSLocalStorageManager::sharedManager(p);
        auto hub = KSBeaconManagerInternal::create(p.shared_from_this(), ports);
        KSBeaconHubPort::setShared(hub);
        KSLocationManagerClient::sharedClient(p)->addDelegate(hub);
        return hub;
      });
  provider.installMaker<KSNetworkReachabilityManager>(
      std::string(kReachabilityManagerName),
      [](KSInstanceProvider& p) { return KSNetworkReachabilityManager::manager(p.platform()); });
  provider.installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName), [](KSInstanceProvider& p) {
    std::weak_ptr<KSInstanceProvider> weak = p.weak_from_this();
    auto with = [weak](auto make) {
      return [weak, make]() -> decltype(make(std::declval<KSInstanceProvider&>())) {
        auto provider = weak.lock();
        return provider ? make(*provider) : nullptr;
      };
    };
    KSConfiguratorPorts ports;
    ports.reachabilityMonitor = with([](KSInstanceProvider& r) -> std::shared_ptr<KSReachabilityMonitor> {
      return r.singleton<KSNetworkReachabilityManager>(kReachabilityManagerName, nullptr);
    });
    ports.identity = [] { return KestrineSDK::getKSInstallationIDProtocol(); };
    ports.locationClient = with([](KSInstanceProvider& r) -> std::shared_ptr<KSLocationControl> {
      return KSLocationManagerClient::sharedClient(r);
    });
    ports.beaconManager = with([](KSInstanceProvider& r) -> std::shared_ptr<KSDiscoveryControl> {
      return KSBeaconManagerInternal::sharedInternal(r);
    });
    ports.regionManager = with([](KSInstanceProvider& r) -> std::shared_ptr<KSRegionCaching> {
      return KSBeaconRegionManager::sharedManager(r);
    });
    ports.accountManager = with([](KSInstanceProvider& r) -> std::shared_ptr<KSAppVerification> { return accountOf(r); });
    ports.apiClient = with([](KSInstanceProvider& r) -> std::shared_ptr<KSApiHeaders> {
      return r.singleton<KSApiHeaders>(KSApiHeadersSingletonName, nullptr);
    });
    return KSConfigurator::create(weak, std::move(ports));
  });
  installServiceMakers(provider);
  installSiteSingletonMakers(provider);
  KSInstallBeaconOperationMakers(provider);
}

// --- options and token

void KestrineSDK::setOptions(const platform::Dict& options) { configuratorOf(*registry())->setUserOptions(options); }

void KestrineSDK::setAppToken(const std::string& token) {
  auto p = registry();
  auto c = configuratorOf(*p);
  c->setAppToken(token);
  if (c->isConfigured()) startRunning(nullptr);
}

void KestrineSDK::setCredentialsWithUserName(const std::string& userName, const std::string& password) {
  configuratorOf(*registry())->setCredentialsWithUserName(userName, password);
}

// --- start and stop

void KestrineSDK::startRunningWithAppToken(const std::string& token, Completion completion) {
  auto p = registry();
  std::uint64_t generation = 0;
  if (!acceptStart(*p, completion, &generation)) return;
  registerForNetworkingReachabilityNotification(*p);
  auto c = configuratorOf(*p);
  if (!c->isUsingApi()) {
    startWithoutApiAccepted(*p, std::move(completion));
    return;
  }
  if (token.empty()) {
    finishStart(*p, std::move(completion));
    return;
  }
  c->setAppToken(token);
  auto account = accountOf(*p);
  if (account) account->attemptAppRestoreAndVerifyWithToken(token);
  runSDK(*p);
  bool pending = true;
  if (appTokenVerificationStatus(*p) == 2) {
    finishStart(*p, std::move(completion));
    completion = nullptr;
    pending = false;
    auto app = account ? account->verifiedApp() : nullptr;
    if (app && app->wasVerifiedWithinTimeInterval(c->remoteConfigurationRefreshTimeIntervalInSeconds())) return;
  }
  // Verify with the server; a pending start finishes when it answers.
  std::weak_ptr<KSInstanceProvider> weak = p;
  auto main = schedulerOf(*p)->mainQueue();
  c->verifyAppWithCompletion([weak, main, generation, pending, completion](KSAppVerification::App,
                                                                          std::optional<platform::Error>) {
    main->async([weak, generation, pending, completion] {
      auto provider = weak.lock();
      if (!provider) return;
      auto state = stateOf(*provider);
      bool mine = false;
      bool stopped = false;
      {
        std::lock_guard lock(state->mutex);
        // Only the start that asked finishes here; a stale background check has no start.
        mine = pending && state->starting && state->startGeneration == generation;
        stopped = state->stoppedWhileStarting;
      }
      if (mine) {
        if (!stopped) runSDK(*provider);
        finishStart(*provider, completion);
      }
      if (appTokenVerificationStatus(*provider) == 3) stopRunning();
    });
  });
}

void KestrineSDK::startRunning(Completion completion) {
  auto p = registry();
  startRunningWithAppToken(configuratorOf(*p)->appToken(), std::move(completion));
}

void KestrineSDK::startRunningWithoutApi(Completion completion) {
  auto p = registry();
  std::uint64_t generation = 0;
  if (!acceptStart(*p, completion, &generation)) return;
  registerForNetworkingReachabilityNotification(*p);
  startWithoutApiAccepted(*p, std::move(completion));
}

void KestrineSDK::stopRunning() { stopRunning(*registry()); }

void KestrineSDK::stopRunning(KSInstanceProvider& p) {
  {
    auto state = stateOf(p);
    std::lock_guard lock(state->mutex);
    if (state->starting) state->stoppedWhileStarting = true;
  }
  const int s = status(p);
  if (s == KSStatusNotConfigured || s == KSStatusStopped) return;
  logStandardEvent(p, KSAnalyticEventSDKStopRunning);
  configuratorOf(p)->stop();
  post(p, KSNotificationDidStopRunning);
}

// --- status and questions

int KestrineSDK::status() { return status(*registry()); }

int KestrineSDK::status(KSInstanceProvider& p) {
  auto c = configuratorOf(p);
  if (!c->isConfigured()) return KSStatusNotConfigured;
  if (c->isStopped()) return KSStatusStopped;
  const int token = appTokenVerificationStatus(p);
  const bool reachable = isNetworkReachable(p);
  const bool location = KSLocationManagerClient::isAuthorized(p);
  if (token == 2 && reachable) return location && isBluetoothEnabled(p) ? KSStatusRunning : KSStatusRunningWithErrors;
  if (token == 0 && !c->isUsingApi() && location) {
    return isBluetoothEnabled(p) ? KSStatusRunning : KSStatusRunningWithErrors;
  }
  return KSStatusRunningWithErrors;
}

int KestrineSDK::appTokenVerificationStatus() { return appTokenVerificationStatus(*registry()); }

bool KestrineSDK::isUsingApi() { return configuratorOf(*registry())->isUsingApi(); }

int KestrineSDK::appTokenVerificationStatus(KSInstanceProvider& p) {
  auto c = configuratorOf(p);
  if (c->appToken().empty()) return 0;
  auto account = accountOf(p);
  return account ? account->appTokenStatus() : 0;
}

bool KestrineSDK::isNetworkReachable() { return isNetworkReachable(*registry()); }

bool KestrineSDK::isNetworkReachable(KSInstanceProvider& p) {
  if (!configuratorOf(p)->isConfigured()) return false;
  auto reachability = p.singleton<KSNetworkReachabilityManager>(kReachabilityManagerName, nullptr);
  return reachability && reachability->isReachable();
}

bool KestrineSDK::isBluetoothEnabled() { return isBluetoothEnabled(*registry()); }

bool KestrineSDK::isBluetoothEnabled(KSInstanceProvider& p) {
  if (!configuratorOf(p)->isConfigured()) return false;
  auto hub = madeOnly<KSBeaconManagerInternal>(p, KSBeaconManagerInternal::kSingletonName);
  return hub && hub->isBluetoothPoweredOn();
}

bool KestrineSDK::isLocationAuthorized() { return KSLocationManagerClient::isAuthorized(*registry()); }

std::int32_t KestrineSDK::locationAuthorizationStatus() {
  return KSLocationManagerClient::locationServicesEnabled(*registry()) ? 1 : 0;
}

void KestrineSDK::requestAlwaysLocationAuthorization() {
  auto p = registry();
  if (configuratorOf(*p)->isConfigured()) KSLocationManagerClient::sharedClient(*p)->requestAlwaysAuthorization();
}

void KestrineSDK::requestWhenInUseLocationAuthorization() {
  auto p = registry();
  if (configuratorOf(*p)->isConfigured()) KSLocationManagerClient::sharedClient(*p)->requestWhenInUseAuthorization();
}

std::shared_ptr<KSApp> KestrineSDK::currentApp() {
  auto account = accountOf(*registry());
  return account ? account->verifiedApp() : nullptr;
}

std::string KestrineSDK::installationIdentifier() {
  return KSIdentityProvider::sharedIdentityProvider(*registry())->kestrineIdentifier();
}

std::string KestrineSDK::deviceIdentifier() {
  return KSIdentityProvider::sharedIdentityProvider(*registry())->deviceIdentifier();
}

void KestrineSDK::setDeviceIdentifier(const std::optional<std::string>& identifier) {
  KSIdentityProvider::sharedIdentityProvider(*registry())->setDeviceIdentifier(identifier);
}

void KestrineSDK::logEventWithIdentifier(const std::string& identifier, const std::optional<std::string>& value1,
                                         const std::optional<std::string>& value2,
                                         const std::optional<std::string>& value3) {
  auto p = registry();
  auto event = std::make_shared<KSEvent>();
  const auto now = schedulerOf(*p)->clock()->now();
  event->setEventIdentifier(identifier);
  event->setBeganAt(now);
  event->setEndedAt(now);
  event->setValue1(value1);
  event->setValue2(value2);
  event->setValue3(value3);
  auto logger = p->singleton<KSEventLogging>(KSEventLogging::kSingletonName, nullptr);
  if (!logger) {
    platform::Log::info(kLog, "no event manager; event {} dropped", identifier);
    return;
  }
  logger->logEvent(event, 0);
}

bool KestrineSDK::shouldRetryVerifyAppBySDKStatus(int appTokenStatus) {
  auto p = registry();
  return appTokenStatus == 1 && KSLocationManagerClient::isAuthorized(*p) && !configuratorOf(*p)->isStopped();
}

// --- headers

std::string KestrineSDK::getKSInstallationID() {
  return KSIdentityProvider::sharedIdentityProvider(*registry())->kestrineIdentifier();
}
std::string KestrineSDK::getKSInstallationIDKey() { return std::string(KSInstallationIDHeader); }
std::shared_ptr<KSInstallationIdentity> KestrineSDK::getKSInstallationIDProtocol() {
  static const auto& source = *new auto(std::make_shared<HeaderSource>());
  return source;
}
std::string KestrineSDK::getKSSDKVersion() { return std::string(KSSDKVersion); }
std::string KestrineSDK::getKSSDKVersionKey() { return std::string(KSSDKVersionHeader); }
std::shared_ptr<KSInstallationIdentity> KestrineSDK::getKSSDKVersionProtocol() { return getKSInstallationIDProtocol(); }

}  // namespace velmora::kestrine
