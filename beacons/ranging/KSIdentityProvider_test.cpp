#include "beacons/ranging/KSIdentityProvider.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::app::AdvertisingIdentity;

const platform::Uuid kAdvertisingUuid = *platform::Uuid::parse("e2c56db5-dffb-48d2-b060-d0f5a71096e0");

class KSIdentityProviderTest : public ::testing::Test {
 protected:
  velmora::testing::SimWorld world;

  // The identity of a fresh registry on the world's platform; with `restart` the user
  // defaults are opened again from their file, as after the app was relaunched.
  std::shared_ptr<KSIdentityProvider> identity(bool restart = false) {
    auto provider = KSInstanceProvider::create(
        restart ? world.bundle(platform::UserDefaults::open(world.defaults->path())) : world.bundle());
    providers_.push_back(provider);
    return KSIdentityProvider::sharedIdentityProvider(*provider);
  }

 private:
  std::vector<std::shared_ptr<KSInstanceProvider>> providers_;
};

TEST_F(KSIdentityProviderTest, InstallationIdentifierIsMadeOnceAndKept) {
  auto first = identity();
  const std::string id = first->kestrineIdentifier();
  ASSERT_EQ(id.substr(0, 3), "ks:");
  EXPECT_EQ(platform::Uuid::canonical(id.substr(3)), id.substr(3)) << "an upper-case UUID";
  EXPECT_EQ(first->kestrineIdentifier(), id);
  EXPECT_EQ(world.defaults->stringForKey(KSUserDefaultsKestrineIdentifierKey), id);

  EXPECT_EQ(identity(/*restart=*/true)->kestrineIdentifier(), id);

  // Setting one replaces what is held, not what is kept.
  first->setKestrineIdentifier("ks:HELD");
  EXPECT_EQ(first->kestrineIdentifier(), "ks:HELD");
  EXPECT_EQ(identity(/*restart=*/true)->kestrineIdentifier(), id);
}

TEST_F(KSIdentityProviderTest, DeviceIdentifierIsTheStoredOneElseTheAdvertisingForm) {
  struct Case {
    const char* name;
    std::optional<std::string> stored;
    AdvertisingIdentity advertising;
    enum { Stored, Advertising, Installation } expect;
  } cases[] = {
      {"stored beats advertising", "host-device-7", {true, true, kAdvertisingUuid}, Case::Stored},
      {"manager and tracking", std::nullopt, {true, true, kAdvertisingUuid}, Case::Advertising},
      {"empty stored counts as none", "", {true, true, kAdvertisingUuid}, Case::Advertising},
      {"tracking off", std::nullopt, {true, false, kAdvertisingUuid}, Case::Installation},
      {"no manager", std::nullopt, {false, true, kAdvertisingUuid}, Case::Installation},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world.app->setAdvertisingIdentity(c.advertising);
    world.defaults->setObject(KSUserDefaultsDeviceIdentifierKey, c.stored ? platform::Value(*c.stored) : platform::Value());
    auto provider = identity();
    const std::string expected = c.expect == Case::Stored        ? *c.stored
                                 : c.expect == Case::Advertising ? "idfa:E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"
                                                                 : provider->kestrineIdentifier();
    EXPECT_EQ(provider->deviceIdentifier(), expected);
    EXPECT_EQ(provider->advertisingTrackingEnabled(), c.advertising.managerPresent && c.advertising.trackingEnabled);
    EXPECT_EQ(provider->deviceHasASIdentifierManager(), c.advertising.managerPresent);
    EXPECT_EQ(provider->identifierFromASIdentifierManager(), "idfa:E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  }
}

// The advertising form is read anew at every call; a set identifier is kept across a
// restart, and clearing it removes the key.
TEST_F(KSIdentityProviderTest, SetDeviceIdentifierKeepsItAndNilRemovesIt) {
  auto provider = identity();
  world.app->setAdvertisingIdentity({true, true, kAdvertisingUuid});
  EXPECT_EQ(provider->deviceIdentifier(), "idfa:E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  world.app->setAdvertisingIdentity({true, false, kAdvertisingUuid});
  EXPECT_EQ(provider->deviceIdentifier(), provider->kestrineIdentifier());
  EXPECT_TRUE(world.defaults->objectForKey(KSUserDefaultsDeviceIdentifierKey).isAbsent());

  provider->setDeviceIdentifier("customer-42");
  EXPECT_EQ(provider->deviceIdentifier(), "customer-42");
  EXPECT_EQ(identity(/*restart=*/true)->deviceIdentifier(), "customer-42");

  provider->setDeviceIdentifier(std::nullopt);
  EXPECT_EQ(provider->deviceIdentifier(), provider->kestrineIdentifier());
  auto reopened = platform::UserDefaults::open(world.defaults->path());
  EXPECT_TRUE(reopened->objectForKey(KSUserDefaultsDeviceIdentifierKey).isAbsent());
  EXPECT_TRUE(reopened->stringForKey(KSUserDefaultsKestrineIdentifierKey));
}

// First requests racing on several threads make one installation identifier.
TEST_F(KSIdentityProviderTest, RacingFirstRequestsMakeOneIdentifier) {
  auto provider = identity();
  std::vector<std::string> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] { seen[t] = t % 2 ? provider->kestrineIdentifier() : provider->deviceIdentifier(); });
  }
  for (auto& th : threads) th.join();
  for (const auto& id : seen) EXPECT_EQ(id, seen[0]);
  EXPECT_EQ(identity(/*restart=*/true)->kestrineIdentifier(), seen[0]);
}

TEST_F(KSIdentityProviderTest, RegistryKeepsOneProviderOnItsOwnDefaults) {
  auto provider = KSInstanceProvider::create(world.bundle());
  KSIdentityProvider::installMaker(*provider);
  auto byName = provider->singletonNamed(KSIdentityProvider::kSingletonName);
  KSInstanceProvider::setSharedProvider(provider);
  auto shared = KSIdentityProvider::sharedIdentityProvider();
  EXPECT_EQ(std::static_pointer_cast<void>(shared), byName);
  EXPECT_EQ(KSIdentityProvider::sharedIdentityProvider(), shared);
  // It stores through the registry's user-defaults manager.
  EXPECT_EQ(KSUserDefaultsManager::sharedManager()->loadKestrineIdentifier(), shared->kestrineIdentifier());
  KSInstanceProvider::setSharedProvider(nullptr);
}

TEST_F(KSIdentityProviderTest, SessionIdentifierComesFromTheSessionSource) {
  struct Sessions final : KSSessionIdentifierSource {
    std::optional<std::string> current;
    std::optional<std::string> currentSessionIdentifier() override { return current; }
  };
  auto provider = identity();
  EXPECT_FALSE(provider->sessionIdentifier());
  auto sessions = std::make_shared<Sessions>();
  provider->setSessionIdentifierSource(sessions);
  EXPECT_FALSE(provider->sessionIdentifier());
  sessions->current = "S-1";
  EXPECT_EQ(provider->sessionIdentifier(), "S-1");
  sessions.reset();
  EXPECT_FALSE(provider->sessionIdentifier()) << "the source is held weakly";
}

TEST_F(KSIdentityProviderTest, TheRegistrysProviderAnswersItsSessionManagersSession) {
  auto registry = KSInstanceProvider::create(world.bundle());
  auto identity = KSIdentityProvider::sharedIdentityProvider(*registry);
  EXPECT_FALSE(identity->sessionIdentifier()) << "no session manager yet, so no session";
  EXPECT_FALSE(registry->hasSingleton(KSSessionManager::kSingletonName)) << "asking made none";

  auto sessions = KSSessionManager::sharedManager(*registry);
  ASSERT_NE(sessions, nullptr);
  sessions->beginSession();
  const auto current = sessions->currentSessionIdentifier();
  ASSERT_TRUE(current && !current->empty());
  EXPECT_EQ(identity->sessionIdentifier(), current);
  sessions->endCurrentSession();
  EXPECT_FALSE(identity->sessionIdentifier());
  world.runUntilIdle();
}

}  // namespace
}  // namespace velmora::kestrine
