#include "beacons/ranging/KestrineSDK.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "platform/core/Log.h"
#include "platform/net/Reachability.h"
#include "testing/FakeAccountManager.h"
#include "testing/FakeApiOperationManager.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::location::AuthorizationStatus;

class EventLogger : public KSEventLogging {
 public:
  void logEvent(const std::shared_ptr<KSEvent>& event, int priority) override {
    events.push_back(event->eventIdentifier().value_or("") + "/" + std::to_string(priority));
  }
  std::vector<std::string> events;
};

// A fresh process: the shared registry on a simulated platform, a fake account manager.
struct EntryWorld {
  EntryWorld() {
    world.location->setAuthorizationStatus(AuthorizationStatus::AuthorizedAlways);
    provider = KSInstanceProvider::create(world.bundle());
    KSInstanceProvider::setSharedProvider(provider);
    provider->installMaker<KSAccountManaging>(std::string(KSAccountManaging::kSingletonName),
                                              [a = account](KSInstanceProvider&) { return a; });
    // Nothing goes to a server: the API's operations are recorded.
    provider->installMaker<KSApiOperationManaging>(std::string(KSApiOperationManaging::kSingletonName),
                                                   [a = api](KSInstanceProvider&) { return a; });
    token = world.center->addObserver("", nullptr, nullptr, [this](const platform::Notification& n) {
      if (n.name != KSNotificationDidStartRunning && n.name != KSNotificationDidStopRunning &&
          n.name != KSNotificationNetworkReachabilityDidChange) {
        return;
      }
      std::string entry = n.name;
      if (auto s = platform::Value(n.userInfo)[KSNotificationDidStartRunningStatusKeyItem].toInt64()) {
        entry += " " + std::to_string(*s);
      }
      notifications.push_back(entry);
    });
    KSModelClock::setClock(world.scheduler->clock());
    world.runUntilIdle();
  }
  ~EntryWorld() {
    // Work still queued holds what holds the scheduler: run it before letting go.
    KestrineSDK::stopRunning();
    world.runUntilIdle();
    KSModelClock::setClock(nullptr);
    KSBeaconHubPort::setShared(nullptr);
    KSApiClientPort::setShared(nullptr);
    KSLocalStoragePort::setShared(nullptr);
    world.center->removeObserver(token);
    KSInstanceProvider::setSharedProvider(nullptr);
  }
  KestrineSDK::Completion record(std::string name) {
    return [this, name](int status) { completions.push_back(name + " " + std::to_string(status)); };
  }
  std::size_t count(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(notifications.begin(), notifications.end(),
                                                  [&](const std::string& n) { return n.rfind(name, 0) == 0; }));
  }
  void runningWithApi() {
    account->cacheVerification("T", 10);
    KestrineSDK::startRunningWithAppToken("T", nullptr);
    world.runUntilIdle();
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<testsupport::FakeAccountManager> account =
      std::make_shared<testsupport::FakeAccountManager>(world.scheduler->clock());
  std::shared_ptr<testsupport::FakeApiOperationManager> api = std::make_shared<testsupport::FakeApiOperationManager>();
  std::shared_ptr<KSInstanceProvider> provider;
  platform::NotificationCenter::ObserverToken token;
  std::vector<std::string> notifications;
  std::vector<std::string> completions;
};

TEST(KestrineSDKStatus, TableOfPrerequisites) {
  struct Case {
    const char* name;
    bool api;
    int tokenStatus;
    bool reachable, location, bluetooth;
    int expected;
  };
  const Case cases[] = {
      {"all met", true, 2, true, true, true, 1},
      {"unreachable", true, 2, false, true, true, 2},
      {"location denied", true, 2, true, false, true, 2},
      {"Bluetooth off", true, 2, true, true, false, 2},
      {"unverified", true, 1, true, true, true, 2},
      {"invalid", true, 3, true, true, true, 2},
      {"without API, unreachable", false, 0, false, true, true, 1},
      {"without API, Bluetooth off", false, 0, true, true, false, 2},
      {"without API, location denied", false, 0, true, false, true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EntryWorld w;
    EXPECT_EQ(KestrineSDK::status(), KSStatusNotConfigured);
    if (c.api) {
      w.runningWithApi();
      w.account->setStatus(c.tokenStatus);
    } else {
      KestrineSDK::startRunningWithoutApi(nullptr);
    }
    w.world.reachability->setFlags(c.reachable ? std::uint32_t{platform::net::kReachabilityReachable} : std::uint32_t{0});
    w.world.location->setAuthorizationStatus(c.location ? AuthorizationStatus::AuthorizedWhenInUse
                                                        : AuthorizationStatus::Denied);
    w.world.radio->setPowerState(c.bluetooth ? platform::bluetooth::CentralState::PoweredOn
                                             : platform::bluetooth::CentralState::PoweredOff);
    w.world.runUntilIdle();
    EXPECT_EQ(KestrineSDK::status(), c.expected);
    EXPECT_EQ(KestrineSDK::isNetworkReachable(), c.reachable);
    KestrineSDK::stopRunning();
    EXPECT_EQ(KestrineSDK::status(), KSStatusStopped);
  }
}

TEST(KestrineSDKStatus, QuestionsBeforeConfigurationAnswerNo) {
  EntryWorld w;
  EXPECT_FALSE(KestrineSDK::isNetworkReachable());
  EXPECT_FALSE(KestrineSDK::isBluetoothEnabled());
  EXPECT_TRUE(KestrineSDK::isLocationAuthorized());  // asked of location services directly
  EXPECT_EQ(KestrineSDK::locationAuthorizationStatus(), 1);
  w.world.location->setLocationServicesEnabled(false);
  EXPECT_EQ(KestrineSDK::locationAuthorizationStatus(), 0);
  EXPECT_EQ(KestrineSDK::appTokenVerificationStatus(), 0);
  EXPECT_FALSE(KestrineSDK::shouldRetryVerifyAppBySDKStatus(2));
}

TEST(KestrineSDKStart, FreshTokenCompletesOnlyAfterTheAnswer) {
  EntryWorld w;
  KestrineSDK::startRunningWithAppToken("T", w.record("c"));
  w.world.runUntilIdle();
  EXPECT_TRUE(w.completions.empty());
  EXPECT_EQ(KestrineSDK::status(), KSStatusRunningWithErrors);
  EXPECT_EQ(w.count("KSNotificationDidStartRunning"), 1u);
  EXPECT_EQ(w.notifications.front(), "KSNotificationDidStartRunning 2");
  ASSERT_EQ(w.account->pendingCount(), 1u);
  w.account->answer(200);
  w.world.runUntilIdle();
  EXPECT_EQ(w.completions, std::vector<std::string>{"c 1"});
  EXPECT_EQ(KestrineSDK::status(), KSStatusRunning);
}

TEST(KestrineSDKStart, CachedVerificationFreshOrStale) {
  {
    EntryWorld w;
    w.account->cacheVerification("T", 100);
    KestrineSDK::startRunningWithAppToken("T", w.record("c"));
    w.world.runUntilIdle();
    // Completed at once, before the radio and the network reported: running with errors.
    EXPECT_EQ(w.completions, std::vector<std::string>{"c 2"});
    EXPECT_TRUE(w.account->tokens.empty());  // no server call
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunning);
  }
  {
    EntryWorld w;
    w.account->cacheVerification("T", 86401);
    KestrineSDK::startRunningWithAppToken("T", w.record("c"));
    w.world.runUntilIdle();
    EXPECT_EQ(w.completions, std::vector<std::string>{"c 2"});
    ASSERT_EQ(w.account->pendingCount(), 1u);  // checked again in the background
    w.account->answer(401);
    w.world.runUntilIdle();
    EXPECT_EQ(KestrineSDK::status(), KSStatusStopped);
    EXPECT_EQ(w.count("KSNotificationDidStopRunning"), 0u);
    EXPECT_EQ(w.completions.size(), 1u);
  }
}

TEST(KestrineSDKStart, RejectedWhilePendingStopsOnceAndCompletesWithStopped) {
  EntryWorld w;
  KestrineSDK::startRunningWithAppToken("T", w.record("c"));
  w.world.runUntilIdle();
  w.account->answer(401);
  w.world.runUntilIdle();
  EXPECT_EQ(w.count("KSNotificationDidStopRunning"), 1u);
  EXPECT_EQ(w.completions, std::vector<std::string>{"c 3"});
}

// The host stops the SDK while its first start waits for the server: the answer finishes the
// start with the stopped status and does not run the SDK again. A start asked after the stop
// is the host's latest word and runs.
TEST(KestrineSDKStart, AStopWinsOverAStartStillWaitingForTheServer) {
  {
    EntryWorld w;
    KestrineSDK::startRunningWithAppToken("T", w.record("c"));
    w.world.runUntilIdle();
    KestrineSDK::stopRunning();
    w.world.runUntilIdle();
    EXPECT_EQ(KestrineSDK::status(), KSStatusStopped);
    w.account->answer(200);
    w.world.runUntilIdle();
    EXPECT_EQ(w.completions, std::vector<std::string>{"c 3"});
    EXPECT_EQ(KestrineSDK::status(), KSStatusStopped);
    EXPECT_EQ(w.count("KSNotificationDidStopRunning"), 1u);
  }
  {
    EntryWorld w;
    KestrineSDK::startRunningWithAppToken("T", w.record("c"));
    w.world.runUntilIdle();
    KestrineSDK::stopRunning();
    KestrineSDK::startRunning(w.record("after the stop"));  // waits with the first start
    w.world.runUntilIdle();
    w.account->answer(200);
    w.world.runUntilIdle();
    EXPECT_EQ(w.completions, (std::vector<std::string>{"c 1", "after the stop 1"}));
    EXPECT_EQ(KestrineSDK::status(), KSStatusRunning);
  }
}

TEST(KestrineSDKStart, EmptyTokenCompletesWithNothingConfigured) {
  EntryWorld w;
  KestrineSDK::startRunningWithAppToken("", w.record("c"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.completions, std::vector<std::string>{"c 0"});
  EXPECT_EQ(w.count("KSNotificationDidStartRunning"), 0u);
  EXPECT_EQ(KestrineSDK::status(), KSStatusNotConfigured);
  EXPECT_EQ(w.account->restores, 0);
}

TEST(KestrineSDKStart, StartsWhilePendingKeepTheirCompletionsInOrder) {
  EntryWorld w;
  KestrineSDK::startRunningWithAppToken("T", w.record("first"));
  KestrineSDK::startRunningWithAppToken("other", w.record("second"));
  KestrineSDK::startRunningWithoutApi(w.record("third"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.account->tokens, std::vector<std::string>{"T"});  // the later starts started nothing
  EXPECT_TRUE(w.completions.empty());
  w.account->answer(200);
  w.world.runUntilIdle();
  EXPECT_EQ(w.completions, (std::vector<std::string>{"first 1", "second 1", "third 1"}));
  // The next start is accepted again.
  KestrineSDK::startRunning(w.record("fourth"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.completions.back(), "fourth 1");
}

// Start and stop name the SDK as their sender; the reachability change it passes on names none,
// so a host observing with the SDK as object hears only the SDK's own.
TEST(KestrineSDKNotifications, ReachabilityChangeHasNoSenderStartHasTheSDK) {
  EntryWorld w;
  std::vector<std::pair<std::string, const void*>> heard;
  auto token = w.world.center->addObserver("", nullptr, nullptr, [&](const platform::Notification& n) {
    if (n.name == KSNotificationNetworkReachabilityDidChange || n.name == KSNotificationDidStartRunning) {
      heard.emplace_back(n.name, n.object.get());
    }
  });
  w.runningWithApi();
  w.world.reachability->setFlags(platform::net::kReachabilityReachable | platform::net::kReachabilityIsWWAN);
  w.world.runUntilIdle();
  w.world.center->removeObserver(token);
  const auto sender = [&](std::string_view name) -> std::optional<const void*> {
    for (auto it = heard.rbegin(); it != heard.rend(); ++it) {
      if (it->first == name) return it->second;
    }
    return std::nullopt;
  };
  EXPECT_EQ(sender(KSNotificationDidStartRunning), KestrineSDK::notificationSender());
  EXPECT_EQ(sender(KSNotificationNetworkReachabilityDidChange), nullptr);
}

TEST(KestrineSDKStart, FailedVerificationsAreRetriedOncePerReachabilityChangeAndActivation) {
  EntryWorld w;
  for (int i = 0; i < 2; ++i) {
    KestrineSDK::startRunningWithAppToken("T", w.record("start"));
    w.world.runUntilIdle();
    w.account->answer(500);
    w.world.runUntilIdle();
  }
  EXPECT_EQ(w.completions, (std::vector<std::string>{"start 2", "start 2"}));
  EXPECT_EQ(w.account->tokens.size(), 2u);
  const auto changes = w.count("KSNotificationNetworkReachabilityDidChange");
  w.world.reachability->setFlags(platform::net::kReachabilityReachable | platform::net::kReachabilityIsWWAN);
  w.world.runUntilIdle();
  EXPECT_EQ(w.account->tokens.size(), 3u);  // one observer, however many starts
  EXPECT_EQ(w.count("KSNotificationNetworkReachabilityDidChange"), changes + 1);
  w.account->answer(500);
  w.world.runUntilIdle();
  w.world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  w.world.runUntilIdle();
  EXPECT_EQ(w.account->tokens.size(), 4u);
}

TEST(KestrineSDKStop, BeforeAnyStartOrTwicePostsNothingMore) {
  EntryWorld w;
  KestrineSDK::stopRunning();
  EXPECT_EQ(w.count("KSNotificationDidStopRunning"), 0u);
  w.runningWithApi();
  KestrineSDK::stopRunning();
  KestrineSDK::stopRunning();
  EXPECT_EQ(w.count("KSNotificationDidStopRunning"), 1u);
  // A start after a stop runs again without another start notification.
  KestrineSDK::startRunning(w.record("again"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.completions, std::vector<std::string>{"again 1"});
  EXPECT_EQ(w.count("KSNotificationDidStartRunning"), 1u);
}

TEST(KestrineSDKStart, WithoutTheApiEveryStartPostsOnce) {
  EntryWorld w;
  KestrineSDK::startRunningWithoutApi(w.record("a"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.count("KSNotificationDidStartRunning"), 1u);
  EXPECT_EQ(w.completions, std::vector<std::string>{"a 1"});
  EXPECT_EQ(KestrineSDK::appTokenVerificationStatus(), 0);
  KestrineSDK::stopRunning();
  KestrineSDK::startRunningWithoutApi(w.record("b"));
  w.world.runUntilIdle();
  EXPECT_EQ(w.count("KSNotificationDidStartRunning"), 2u);
  EXPECT_EQ(w.completions.back(), "b 1");
  EXPECT_TRUE(w.account->tokens.empty());
}

TEST(KestrineSDKEntry, HeadersEventsAndIdentifiers) {
  EntryWorld w;
  EXPECT_EQ(KestrineSDK::getKSSDKVersion(), "2.1.0");
  EXPECT_EQ(KestrineSDK::getKSSDKVersionKey(), "X-KS-SDKVersion");
  EXPECT_EQ(KestrineSDK::getKSInstallationIDKey(), "X-KS-InstallationID");
  const auto id = KestrineSDK::getKSInstallationID();
  EXPECT_EQ(id.rfind("ks:", 0), 0u);
  EXPECT_EQ(KestrineSDK::installationIdentifier(), id);
  EXPECT_EQ(KestrineSDK::getKSInstallationIDProtocol()->kestrineIdentifier(), id);
  KestrineSDK::setDeviceIdentifier("custom");
  EXPECT_EQ(KestrineSDK::deviceIdentifier(), "custom");

  // The host's events go to the registry's logger (the event manager unless one was installed).
  auto logger = std::make_shared<EventLogger>();
  w.provider->installMaker<KSEventLogging>(std::string(KSEventLogging::kSingletonName),
                                           [logger](KSInstanceProvider&) { return logger; });
  KestrineSDK::setOptions({{std::string(KSOptionAutoTrackStandardEvents), platform::Value(true)}});
  KestrineSDK::logEventWithIdentifier("e2", std::nullopt, std::nullopt, std::nullopt);
  w.runningWithApi();
  KestrineSDK::stopRunning();
  EXPECT_EQ(logger->events, (std::vector<std::string>{"e2/0", "KSAnalyticEventSDKStartRunning/0",
                                                      "KSAnalyticEventSDKStopRunning/0"}));
}

}  // namespace
}  // namespace velmora::kestrine

namespace velmora::kestrine {
namespace {

// A registry is born with the SDK's makers, so whichever of its singletons is asked for first
// is the SDK's own; a fake installed afterwards wins; and a configurator that cannot be made
// is reported, never replaced by one with no ports.
TEST(RegistryWiring, ARegistryIsBornWithTheSDKsMakersAndAnInstalledFakeWins) {
  velmora::testing::SimWorld world;
  auto registry = KSInstanceProvider::create(world.bundle());
  std::vector<std::string_view> names(KSConfigurator::kConfigureOrder.begin(), KSConfigurator::kConfigureOrder.end());
  names.push_back(KSConfigurator::kSingletonName);
  for (const auto name : names) EXPECT_TRUE(registry->hasMaker(name)) << name;

  auto fake = KSConfigurator::create(registry, {});
  registry->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                         [fake](KSInstanceProvider&) { return fake; });
  EXPECT_EQ(KSConfigurator::sharedConfigurator(*registry), fake);

  auto bare = KSInstanceProvider::create(world.bundle());
  bare->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                     [](KSInstanceProvider&) { return std::shared_ptr<KSConfigurator>(); });
  const auto errors = platform::programmingErrorCount();
  EXPECT_EQ(KSConfigurator::sharedConfigurator(*bare), nullptr);
  EXPECT_EQ(platform::programmingErrorCount(), errors + 1) << "reported, not silently made without ports";
  world.runUntilIdle();
}

}  // namespace
}  // namespace velmora::kestrine
