#include "beacons/foundation/KSConfigurator.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

using platform::Dict;
using platform::Value;

// Stands in for everything the configurator drives, recording each call in one list so
// the order across objects shows.
class FakeSdk final : public KSReachabilityMonitor,
                      public KSInstallationIdentity,
                      public KSLocationControl,
                      public KSDiscoveryControl,
                      public KSRegionCaching,
                      public KSAppVerification,
                      public KSApiHeaders {
 public:
  std::vector<std::string> calls;
  bool discovering = false;
  int tokenStatus = 1;
  std::function<void(App)> pendingSuccess;
  std::function<void(platform::Error)> pendingFailure;

  void startMonitoring() override { calls.push_back("reachability.startMonitoring"); }
  std::string kestrineIdentifier() override { return "ks:0A1B2C3D-0000-4000-8000-00000000ABCD"; }
  void startUpdatingLocation() override { calls.push_back("location.startUpdatingLocation"); }
  void stopUpdatingLocation() override { calls.push_back("location.stopUpdatingLocation"); }
  void setBeaconRegionMonitoringEnabled(bool on) override {
    calls.push_back(fmt::format("location.setBeaconRegionMonitoringEnabled({})", on));
  }
  bool isDiscoveringBeacons() override { return discovering; }
  void startDiscoveringBeacons() override {
    discovering = true;
    calls.push_back("hub.startDiscoveringBeacons");
  }
  void stopDiscoveringBeacons() override {
    discovering = false;
    calls.push_back("hub.stopDiscoveringBeacons");
  }
  void cacheBeaconsForApp() override { calls.push_back("hub.cacheBeaconsForApp"); }
  void cacheBeaconRegions() override { calls.push_back("regions.cacheBeaconRegions"); }
  void verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                          std::function<void(platform::Error)> failure) override {
    calls.push_back("account.verify(" + token + ")");
    pendingSuccess = std::move(success);
    pendingFailure = std::move(failure);
  }
  int appTokenStatus() override { return tokenStatus; }
  void setAuthorizationHeaderWithAppToken(const std::string& token) override { calls.push_back("api.auth(" + token + ")"); }
  void setAuthorizationHeaderWithAppToken(const std::string& token, const std::string& user,
                                          const std::string& password) override {
    calls.push_back(fmt::format("api.auth({}:{}:{})", token, user, password));
  }
  void setValueForHTTPHeaderField(const std::string& value, const std::string& field) override {
    calls.push_back(fmt::format("api.header({}={})", field, value));
  }
};

KSConfiguratorPorts portsTo(const std::shared_ptr<FakeSdk>& fake) {
  KSConfiguratorPorts p;
  p.reachabilityMonitor = [fake] { return fake; };
  p.identity = [fake] { return fake; };
  p.locationClient = [fake] { return fake; };
  p.beaconManager = [fake] { return fake; };
  p.regionManager = [fake] { return fake; };
  p.accountManager = [fake] { return fake; };
  p.apiClient = [fake] { return fake; };
  return p;
}

class KSConfiguratorTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeSdk> fake = std::make_shared<FakeSdk>();
  std::shared_ptr<KSInstanceProvider> provider = KSInstanceProvider::create({});
  std::shared_ptr<KSConfigurator> configurator = KSConfigurator::create(provider, portsTo(fake));

  // Installs a recording maker for each singleton the configure step asks for.
  void installRecordingMakers() {
    for (std::string_view name : KSConfigurator::kConfigureOrder) {
      provider->installMaker<int>(std::string(name), [this, name](KSInstanceProvider&) {
        fake->calls.push_back("make " + std::string(name));
        return std::make_shared<int>(0);
      });
    }
  }
};

TEST_F(KSConfiguratorTest, CreationStartsReachabilityMonitoring) {
  EXPECT_EQ(fake->calls, std::vector<std::string>{"reachability.startMonitoring"});
  EXPECT_FALSE(configurator->isConfigured());
  EXPECT_FALSE(configurator->isRunning());
  EXPECT_FALSE(configurator->isStopped());
}

TEST_F(KSConfiguratorTest, DefaultsWithNothingSet) {
  EXPECT_EQ(configurator->options().size(), 18u);
  EXPECT_EQ(configurator->options(), configurator->defaultOptions());
  EXPECT_FALSE(configurator->userOptions());
  EXPECT_FALSE(configurator->remoteOptions());
  EXPECT_EQ(configurator->cacheRefreshTimeInterval(), 3600.0);
  EXPECT_EQ(configurator->backgroundSessionTimeIntervalInSeconds(), 120.0);
  EXPECT_EQ(configurator->maximumDailyBackgroundUsageInMinutes(), 60);
  EXPECT_EQ(configurator->apiBaseURL(), KSApiBaseURL);
  EXPECT_EQ(configurator->remoteConfigurationRefreshTimeIntervalInSeconds(), 86400.0);
  EXPECT_EQ(configurator->remoteConfigurationExpirationTimeIntervalInSeconds(), 259200.0);
  EXPECT_TRUE(configurator->isRemoteConfigurationStale(86400));
  EXPECT_FALSE(configurator->isRemoteConfigurationStale(86399.5));
  EXPECT_FALSE(configurator->isRemoteConfigurationExpired(86400));
  EXPECT_EQ(configurator->targetRegionPrefix(), Value("com.kestrine"));
  const std::pair<bool (KSConfigurator::*)() const, bool> flags[] = {
      {&KSConfigurator::trackStandardEvents, false},
      {&KSConfigurator::cacheAllBeaconsForApp, false},
      {&KSConfigurator::cacheAllBeaconsForSite, false},
      {&KSConfigurator::cacheSitesNearby, false},
      {&KSConfigurator::crowdSourceBeaconUpdates, true},
      {&KSConfigurator::discoverBeaconsNearby, true},
      {&KSConfigurator::isUsingApi, true},
      {&KSConfigurator::monitorAllAvailableRegionsOnStartup, true},
      {&KSConfigurator::monitorKestrineRegionOnStartup, true},
      {&KSConfigurator::scanInBackground, true},
      {&KSConfigurator::showBluetoothPowerWarningMessage, false},
      {&KSConfigurator::trackBeaconVisits, true},
      {&KSConfigurator::useEnergySaverScanStrategy, true},
      {&KSConfigurator::useLocalStorage, true},
      {&KSConfigurator::runWithoutLocationServicesAuthorization, false},
  };
  for (std::size_t i = 0; i < std::size(flags); ++i) EXPECT_EQ((*configurator.*flags[i].first)(), flags[i].second) << i;
}

TEST_F(KSConfiguratorTest, NumericGettersApplyTheirLimits) {
  using Getter = std::function<double(const KSConfigurator&)>;
  const Getter refresh = [](const KSConfigurator& c) { return c.cacheRefreshTimeInterval(); };
  const Getter session = [](const KSConfigurator& c) { return c.backgroundSessionTimeIntervalInSeconds(); };
  const Getter daily = [](const KSConfigurator& c) { return static_cast<double>(c.maximumDailyBackgroundUsageInMinutes()); };
  struct Case {
    const char* name;
    std::string_view key;
    Value value;
    Getter getter;
    double expected;
  } cases[] = {
      {"refresh 100", KSOptionCacheRefreshTimeIntervalInSeconds, 100, refresh, 300},
      {"refresh \"abc\"", KSOptionCacheRefreshTimeIntervalInSeconds, "abc", refresh, 300},
      {"refresh array", KSOptionCacheRefreshTimeIntervalInSeconds, Value::makeArray({5000}), refresh, 3600},
      {"refresh 7200.5", KSOptionCacheRefreshTimeIntervalInSeconds, "7200.5", refresh, 7200.5},
      {"refresh NaN", KSOptionCacheRefreshTimeIntervalInSeconds, std::nan(""), refresh, 300},
      {"session 10800", KSOptionBackgroundSessionTimeIntervalInSeconds, 10800, session, 10800},
      {"session 5", KSOptionBackgroundSessionTimeIntervalInSeconds, 5, session, 12.96},
      {"session date", KSOptionBackgroundSessionTimeIntervalInSeconds, platform::Date(), session, 120},
      {"session 13.1 read as a float", KSOptionBackgroundSessionTimeIntervalInSeconds, 13.1, session, static_cast<double>(13.1f)},
      {"daily 1440", KSOptionMaximumDailyBackgroundUsageInMinutes, 1440, daily, 1440},
      {"daily 0", KSOptionMaximumDailyBackgroundUsageInMinutes, 0, daily, 0},
      {"daily -5", KSOptionMaximumDailyBackgroundUsageInMinutes, -5, daily, -5},
      {"daily 1441", KSOptionMaximumDailyBackgroundUsageInMinutes, 1441, daily, 60},
      {"daily \"12.7\"", KSOptionMaximumDailyBackgroundUsageInMinutes, "12.7", daily, 12},
      {"daily null", KSOptionMaximumDailyBackgroundUsageInMinutes, platform::null, daily, 60},
  };
  for (const auto& c : cases) {
    auto fresh = KSConfigurator::create({}, {});
    fresh->setUserOptions(Dict{{std::string(c.key), c.value}});
    EXPECT_EQ(c.getter(*fresh), c.expected) << c.name;
  }
}

TEST_F(KSConfiguratorTest, BooleanOptionsReadThroughTextConversion) {
  const std::pair<Value, bool> cases[] = {
      {"YES", true}, {" 1", true}, {"t", true}, {"+0001", true}, {1, true}, {true, true},
      {"NO", false}, {"0x1", false}, {"", false}, {0, false},
  };
  for (const auto& [value, expected] : cases) {
    configurator->setUserOptions(Dict{{std::string(KSOptionScanInBackground), value}});
    EXPECT_EQ(configurator->scanInBackground(), expected) << (value.string() ? *value.string() : "number");
  }
  // A value that is no text or number falls back to the built-in default.
  configurator->setUserOptions(Dict{{std::string(KSOptionUseApi), Value::makeArray({})}});
  EXPECT_TRUE(configurator->isUsingApi());
  configurator->setUserOptions(Dict{{std::string(KSOptionUseLocalStorage), Value::makeDict({})}});
  EXPECT_TRUE(configurator->useLocalStorage());

  platform::LogCapture log;
  const auto errors = platform::programmingErrorCount();
  EXPECT_FALSE(configurator->boolForOptionKey("KSOptionNobodyDefined"));
  EXPECT_EQ(platform::programmingErrorCount(), errors + 1);
  EXPECT_EQ(log.count("Default value not defined for option KSOptionNobodyDefined"), 1u);
}

TEST_F(KSConfiguratorTest, BaseUrlIsTheHostsHttpUrlOrTheBuiltInOne) {
  const std::pair<Value, std::string> userCases[] = {
      {"", std::string(KSApiBaseURL)},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},
      {"HTTPS://api.example.org/", "HTTPS://api.example.org/"},
      {"ftp://files.example.org/", std::string(KSApiBaseURL)},
      {"file:///etc/passwd", std::string(KSApiBaseURL)},
      {"https://", std::string(KSApiBaseURL)},
      {42, std::string(KSApiBaseURL)},
  };
  for (const auto& [value, expected] : userCases) {
    configurator->setUserOptions(Dict{{std::string(KSOptionApiBaseURL), value}});
    EXPECT_EQ(configurator->apiBaseURL(), expected);
  }
  auto remoteOnly = KSConfigurator::create({}, {});
  platform::LogCapture log;
  remoteOnly->setRemoteOptions(Dict{{std::string(KSOptionApiBaseURL), "https://elsewhere.example.net/"}});
  EXPECT_EQ(remoteOnly->apiBaseURL(), KSApiBaseURL);
  EXPECT_EQ(log.count("ignored KSOptionApiBaseURL"), 1u);
  EXPECT_FALSE(remoteOnly->remoteOptions()->count(std::string(KSOptionApiBaseURL)));
}

TEST_F(KSConfiguratorTest, RemoteOptionsBeatUserOptionsAndNoKeyLeavesTheMergedView) {
  const std::string refresh(KSOptionCacheRefreshTimeIntervalInSeconds);
  const std::string session(KSOptionBackgroundSessionTimeIntervalInSeconds);
  configurator->setUserOptions(Dict{{refresh, 1000}});
  configurator->setRemoteOptions(Dict{{refresh, "5000"}, {session, "600"}});
  EXPECT_EQ(configurator->cacheRefreshTimeInterval(), 5000);
  configurator->setUserOptions(Dict{{refresh, 2000}, {"KSOptionHostOnly", "x"}});
  EXPECT_EQ(configurator->cacheRefreshTimeInterval(), 5000) << "a later user option does not undo the remote one";
  EXPECT_EQ(configurator->userOptions()->size(), 2u) << "user options accumulate";

  configurator->setRemoteOptions(Dict{});  // a later app record without those keys
  EXPECT_EQ(configurator->cacheRefreshTimeInterval(), 2000) << "the user option covers the key again";
  EXPECT_EQ(configurator->backgroundSessionTimeIntervalInSeconds(), 600) << "an uncovered remote key stays in effect";
  const Dict merged = configurator->options();
  EXPECT_EQ(merged.size(), 18u + 3u);
  EXPECT_EQ(merged.at("KSOptionHostOnly"), Value("x"));
}

TEST_F(KSConfiguratorTest, ConfigureAsksForTheTenInOrderThenSetsHeadersOnlyWithAToken) {
  installRecordingMakers();
  fake->calls.clear();
  configurator->configureKestrineSDK();
  std::vector<std::string> expected;
  for (std::string_view name : KSConfigurator::kConfigureOrder) expected.push_back("make " + std::string(name));
  EXPECT_EQ(fake->calls, expected) << "no token: no header is set";
  EXPECT_TRUE(configurator->isConfigured());

  // The ten are made once; a second configure with a token only sets the headers.
  configurator->setAppToken("tok");
  fake->calls.clear();
  configurator->configureKestrineSDK();
  EXPECT_EQ(fake->calls, (std::vector<std::string>{
                             "api.auth(tok)",
                             "api.header(X-KS-InstallationID=ks:0A1B2C3D-0000-4000-8000-00000000ABCD)",
                             "api.header(X-KS-SDKVersion=2.1.0)",
                         }));

  configurator->setCredentialsWithUserName("ann", "");
  fake->calls.clear();
  configurator->configureNetworking();
  EXPECT_EQ(fake->calls.front(), "api.auth(tok)") << "an empty password sends the token alone";
  configurator->setCredentialsWithUserName("ann", "pw");
  fake->calls.clear();
  configurator->configureNetworking();
  EXPECT_EQ(fake->calls.front(), "api.auth(tok:ann:pw)");
}

TEST_F(KSConfiguratorTest, TokenAndCredentialsSetTheAuthorizationHeader) {
  configurator->setAppToken("");
  EXPECT_EQ(fake->calls.size(), 1u) << "an empty token changes no header";
  fake->calls.clear();
  configurator->setCredentialsWithUserName("ann", "pw");
  EXPECT_TRUE(fake->calls.empty()) << "credentials without a token set nothing";
  configurator->setAppToken("tok");
  EXPECT_EQ(fake->calls, std::vector<std::string>{"api.auth(tok:ann:pw)"});
  fake->calls.clear();
  configurator->setCredentialsWithUserName("", "");
  EXPECT_EQ(fake->calls, std::vector<std::string>{"api.auth(tok::)"}) << "credentials always go with the token";

  installRecordingMakers();
  configurator->configureKestrineSDK();
  fake->calls.clear();
  configurator->setCredentialsWithUserName("bo", "x");
  EXPECT_EQ(fake->calls, (std::vector<std::string>{"api.auth(tok:bo:x)", "regions.cacheBeaconRegions"}));
}

TEST_F(KSConfiguratorTest, RunGating) {
  const std::vector<std::string> runCalls = {
      "location.startUpdatingLocation",
      "location.setBeaconRegionMonitoringEnabled(true)",
      "hub.startDiscoveringBeacons",
      "regions.cacheBeaconRegions",
  };
  enum class Token { Empty, Unverified, Verified };
  for (bool api : {true, false}) {
    for (Token token : {Token::Empty, Token::Unverified, Token::Verified}) {
      for (bool configured : {false, true}) {
        for (bool running : {false, true}) {
          if (running && !configured) continue;  // running needs a configure step
          const std::string row = fmt::format("api {} token {} configured {} running {}", api, static_cast<int>(token),
                                              configured, running);
          auto sdk = std::make_shared<FakeSdk>();
          auto c = KSConfigurator::create(provider, portsTo(sdk));
          if (configured) c->configureKestrineSDK();
          if (running) {
            c->setUserOptions(Dict{{std::string(KSOptionUseApi), "NO"}});
            c->runWithAppToken();
            ASSERT_TRUE(c->isRunning()) << row;
          } else {
            c->stop();  // leaves "stopped" set, to see the run step clear it
          }
          c->setUserOptions(Dict{{std::string(KSOptionUseApi), api ? "YES" : "NO"}});
          c->setAppToken(token == Token::Empty ? "" : "tok");
          sdk->tokenStatus = token == Token::Verified ? 2 : 1;
          sdk->calls.clear();

          c->runWithAppToken();

          const bool tokenOk = !api || token == Token::Verified;
          const bool runs = configured && tokenOk && !running;
          EXPECT_FALSE(c->isStopped()) << row;
          EXPECT_EQ(c->isRunning(), runs || running) << row;
          EXPECT_EQ(sdk->calls, runs ? runCalls : std::vector<std::string>{}) << row;
        }
      }
    }
  }
}

TEST_F(KSConfiguratorTest, RunRestartsDiscoveryAndFollowsTheMonitoringOptions) {
  installRecordingMakers();
  configurator->configureKestrineSDK();
  configurator->setUserOptions(Dict{{std::string(KSOptionUseApi), "NO"},
                                    {std::string(KSOptionMonitorAllAvailableRegionsOnStartup), "NO"},
                                    {std::string(KSOptionMonitorKestrineRegionOnStartup), "NO"}});
  fake->discovering = true;
  fake->calls.clear();
  configurator->runWithAppToken();
  EXPECT_EQ(fake->calls, (std::vector<std::string>{
                             "location.startUpdatingLocation",
                             "location.setBeaconRegionMonitoringEnabled(false)",
                             "hub.stopDiscoveringBeacons",
                             "hub.startDiscoveringBeacons",
                             "regions.cacheBeaconRegions",
                         }));
}

TEST_F(KSConfiguratorTest, StopUndoesARunAndOnlyMarksWhenIdle) {
  configurator->stop();
  EXPECT_TRUE(configurator->isStopped());
  EXPECT_EQ(fake->calls.size(), 1u) << "not running: nothing to undo";

  installRecordingMakers();
  configurator->configureKestrineSDK();
  configurator->setUserOptions(Dict{{std::string(KSOptionUseApi), "NO"}});
  configurator->runWithAppToken();
  ASSERT_TRUE(configurator->isRunning());
  EXPECT_FALSE(configurator->isStopped());
  fake->calls.clear();
  configurator->stop();
  EXPECT_EQ(fake->calls, (std::vector<std::string>{
                             "hub.stopDiscoveringBeacons",
                             "location.setBeaconRegionMonitoringEnabled(false)",
                             "location.stopUpdatingLocation",
                         }));
  EXPECT_FALSE(configurator->isRunning());
  EXPECT_TRUE(configurator->isStopped());
}

TEST_F(KSConfiguratorTest, Verification) {
  std::vector<std::string> completions;
  const auto record = [&](KSAppVerification::App app, std::optional<platform::Error> error) {
    completions.push_back(fmt::format("app {} error {}", app != nullptr, error ? error->localizedDescription : "-"));
  };
  fake->calls.clear();
  configurator->verifyAppWithCompletion(record);
  EXPECT_TRUE(fake->calls.empty()) << "no token: nothing happens";
  EXPECT_TRUE(completions.empty());

  configurator->setAppToken("tok");
  configurator->setUserOptions(Dict{{std::string(KSOptionCacheAllBeaconsForApp), "YES"}});
  fake->calls.clear();
  configurator->verifyAppWithCompletion(record);
  ASSERT_TRUE(fake->pendingSuccess);
  fake->pendingSuccess(std::make_shared<platform::Object>());
  EXPECT_EQ(fake->calls, (std::vector<std::string>{"account.verify(tok)", "hub.cacheBeaconsForApp"}));
  EXPECT_EQ(completions, std::vector<std::string>{"app true error -"});

  // A rejected token stops a running SDK.
  installRecordingMakers();
  configurator->configureKestrineSDK();
  fake->tokenStatus = 2;
  configurator->runWithAppToken();
  ASSERT_TRUE(configurator->isRunning());
  configurator->verifyAppWithCompletion(record);
  fake->tokenStatus = 3;
  fake->pendingFailure(platform::Error("test", 401, "rejected"));
  EXPECT_FALSE(configurator->isRunning());
  EXPECT_TRUE(configurator->isStopped());
  EXPECT_EQ(completions.back(), "app false error rejected");

  // Another failure leaves it running.
  auto other = std::make_shared<FakeSdk>();
  auto c = KSConfigurator::create(provider, portsTo(other));
  c->setAppToken("tok");
  c->verifyAppWithCompletion(record);
  other->tokenStatus = 1;
  other->pendingFailure(platform::Error("test", -1009, "offline"));
  EXPECT_FALSE(c->isStopped());
  EXPECT_EQ(completions.back(), "app false error offline");
}

TEST(KSConfiguratorThreads, GettersReadWhileLayersChange) {
  auto c = KSConfigurator::create({}, {});
  const std::string refresh(KSOptionCacheRefreshTimeIntervalInSeconds);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (t % 2) {
          c->setUserOptions(Dict{{refresh, 400 + i}, {std::string(KSOptionScanInBackground), i % 2 ? "YES" : "NO"}});
        } else {
          c->setRemoteOptions(Dict{{refresh, std::to_string(1000 + i)}});
        }
        c->setAppToken("tok" + std::to_string(i));
      }
    });
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const double r = c->cacheRefreshTimeInterval();
        EXPECT_TRUE(r == 3600 || (r >= 400 && r < 1200)) << r;
        (void)c->scanInBackground();
        (void)c->options();
        (void)c->appToken();
        c->stop();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_GE(c->cacheRefreshTimeInterval(), 1000) << "the remote layer wins once set";
}

TEST(KSConfiguratorShared, IsTheRegistrysInstance) {
  auto provider = KSInstanceProvider::create({});
  KSInstanceProvider::setSharedProvider(provider);
  auto a = KSConfigurator::sharedConfigurator();
  EXPECT_EQ(a, KSConfigurator::sharedConfigurator());
  EXPECT_EQ(provider->singletonNamed(KSConfigurator::kSingletonName), std::static_pointer_cast<void>(a));
  KSInstanceProvider::setSharedProvider(nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
