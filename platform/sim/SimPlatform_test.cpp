#include "platform/sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/location/LocationManager.h"
#include "testing/TempDir.h"

namespace velmora::platform::sim {
namespace {

TEST(SimPlatform, OwnsATemporaryDocumentsFolderAndKeepsAGivenOne) {
  std::filesystem::path owned;
  {
    SimPlatform phone;
    owned = phone.documents.path();
    EXPECT_TRUE(phone.documents.owned());
    EXPECT_TRUE(std::filesystem::is_directory(owned));
    EXPECT_EQ(phone.defaults->path(), owned / SimPlatform::kDefaultsFileName);
  }
  EXPECT_FALSE(std::filesystem::exists(owned));

  velmora::testing::TempDir given;
  {
    SimPlatform phone(SimPlatform::Options{.documents = given.path() / "app"});
    EXPECT_FALSE(phone.documents.owned());
    EXPECT_EQ(phone.app->documentsDirectory(), given.path() / "app");
  }
  EXPECT_TRUE(std::filesystem::is_directory(given.path() / "app"));
}

TEST(SimPlatform, MakeReadyAuthorisesPowersOnAndLaunches) {
  SimPlatform phone(SimPlatform::Options{.bluetoothPower = bluetooth::CentralState::PoweredOff});
  EXPECT_EQ(phone.app->applicationState(), app::ApplicationState::Inactive);
  EXPECT_NE(phone.location->authorizationStatus(), location::AuthorizationStatus::AuthorizedAlways);
  phone.makeReady();
  EXPECT_EQ(phone.location->authorizationStatus(), location::AuthorizationStatus::AuthorizedAlways);
  EXPECT_EQ(phone.radio->powerState(), bluetooth::CentralState::PoweredOn);
  EXPECT_EQ(phone.app->applicationState(), app::ApplicationState::Active);
}

TEST(SimPlatform, IBeaconFrameCarriesUuidMajorMinorAndSignedPower) {
  EXPECT_EQ(SimPlatform::iBeaconFrameHex("F7826DA6-4FA2-4E98-8024-BC5B71E0893E", 0x1234, 65536 + 7, -59),
            "4C000215F7826DA64FA24E988024BC5B71E0893E12340007C5");
  const auto data = SimPlatform::iBeaconAdvertisement("F7826DA6-4FA2-4E98-8024-BC5B71E0893E", 1, 2, -59);
  ASSERT_TRUE(data.manufacturerData);
  EXPECT_EQ(data.manufacturerData->size(), 25u);
  EXPECT_TRUE(SimRadio::isIBeaconFrame(data));
  EXPECT_THROW(SimPlatform::iBeaconAdvertisement("F7826DA6", 1, 2, -59), std::invalid_argument);
}

TEST(SimPlatform, AdvanceToMovesVirtualTimeForwardOnly) {
  SimPlatform phone;
  phone.advanceTo(5);
  EXPECT_DOUBLE_EQ(phone.elapsed(), 5);
  phone.advanceTo(2);
  EXPECT_DOUBLE_EQ(phone.elapsed(), 5);
}

}  // namespace
}  // namespace velmora::platform::sim
