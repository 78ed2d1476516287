#include "parking/config/VelmoraSDKConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "testing/ConfigReset.h"

namespace velmora {
namespace {

using Getter = std::function<std::string()>;

struct TextSetting {
  const char* name;
  Getter get;
  std::function<void(std::string)> set;
};

const std::vector<TextSetting>& textSettings() {
  static const std::vector<TextSetting> all = {
      {"appId", VelmoraSDKConfig::getAppId, VelmoraSDKConfig::setAppId},
      {"beaconToken", VelmoraSDKConfig::getBeaconToken, VelmoraSDKConfig::setBeaconToken},
      {"clientSecret", VelmoraSDKConfig::getClientSecret, VelmoraSDKConfig::setClientSecret},
      {"userToken", VelmoraSDKConfig::getUserToken, VelmoraSDKConfig::setUserToken},
      {"appName", VelmoraSDKConfig::getAppName, VelmoraSDKConfig::setAppName},
      {"appPackageName", VelmoraSDKConfig::getAppPackageName, VelmoraSDKConfig::setAppPackageName},
      {"appVersion", VelmoraSDKConfig::getAppVersion, VelmoraSDKConfig::setAppVersion},
      {"appBuild", VelmoraSDKConfig::getAppBuild, VelmoraSDKConfig::setAppBuild},
      {"deviceModel", VelmoraSDKConfig::getDeviceModel, VelmoraSDKConfig::setDeviceModel},
      {"deviceManufacturer", VelmoraSDKConfig::getDeviceManufacturer, VelmoraSDKConfig::setDeviceManufacturer},
      {"deviceName", VelmoraSDKConfig::getDeviceName, VelmoraSDKConfig::setDeviceName},
      {"deviceVersion", VelmoraSDKConfig::getDeviceVersion, VelmoraSDKConfig::setDeviceVersion},
      {"devicePlatform", VelmoraSDKConfig::getDevicePlatform, VelmoraSDKConfig::setDevicePlatform},
      {"deviceIdiom", VelmoraSDKConfig::getDeviceIdiom, VelmoraSDKConfig::setDeviceIdiom},
      {"deviceType", VelmoraSDKConfig::getDeviceType, VelmoraSDKConfig::setDeviceType},
  };
  return all;
}

class VelmoraSDKConfigTest : public ::testing::Test {
 protected:
  // Only after each test: the first test checks the defaults the process starts with.
  void TearDown() override { velmora::testing::restoreConfigDefaults(); }
};

TEST_F(VelmoraSDKConfigTest, EveryGetterHasItsDefaultBeforeAnySetter) {
  for (const auto& s : textSettings()) EXPECT_EQ(s.get(), "") << s.name;
  EXPECT_EQ(VelmoraSDKConfig::getUserId(), -1);
  EXPECT_EQ(VelmoraSDKConfig::getCurrentLatitude(), std::nullopt);
  EXPECT_EQ(VelmoraSDKConfig::getCurrentLongitude(), std::nullopt);
  EXPECT_EQ(VelmoraSDKConfig::getBeaconLogLevel(), BeaconLogLevel::low);
  EXPECT_TRUE(VelmoraSDKConfig::getBeaconPayloadLogging());
  const std::string server = VelmoraSDKConfig::getServerName();
  EXPECT_EQ(server.rfind("https://", 0), 0u);
  EXPECT_NE(server.back(), '/');
  EXPECT_EQ(server.find('/', 8), std::string::npos) << "scheme and host only";
}

TEST_F(VelmoraSDKConfigTest, SettersStoreValuesUnchanged) {
  for (const auto& s : textSettings()) {
    const std::string value = std::string("  ") + s.name + " \n";
    s.set(value);
    EXPECT_EQ(s.get(), value) << s.name;
  }
  for (const char* server : {"", "not a url", "https://host/"}) {
    VelmoraSDKConfig::setServerName(server);
    EXPECT_EQ(VelmoraSDKConfig::getServerName(), server);
  }
  VelmoraSDKConfig::setCurrentLatitude(59.33);
  VelmoraSDKConfig::setCurrentLongitude(-18.06);
  EXPECT_EQ(VelmoraSDKConfig::getCurrentLatitude(), 59.33);
  EXPECT_EQ(VelmoraSDKConfig::getCurrentLongitude(), -18.06);
  VelmoraSDKConfig::setCurrentLatitude(std::nullopt);
  EXPECT_EQ(VelmoraSDKConfig::getCurrentLatitude(), std::nullopt);
  VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::high);
  EXPECT_EQ(VelmoraSDKConfig::getBeaconLogLevel(), BeaconLogLevel::high);
  VelmoraSDKConfig::setBeaconPayloadLogging(false);
  EXPECT_FALSE(VelmoraSDKConfig::getBeaconPayloadLogging());
}

TEST_F(VelmoraSDKConfigTest, SetUserAndResetUserChangeThePair) {
  VelmoraSDKConfig::setUser(42, "t");
  EXPECT_EQ(VelmoraSDKConfig::getUserId(), 42);
  EXPECT_EQ(VelmoraSDKConfig::getUserToken(), "t");
  VelmoraSDKConfig::resetUser();
  EXPECT_EQ(VelmoraSDKConfig::getUserId(), -1);
  EXPECT_EQ(VelmoraSDKConfig::getUserToken(), "");
}

TEST(BeaconLogLevelTest, RawValuesAndOrder) {
  EXPECT_EQ(beaconLogLevelFromRawValue(0), BeaconLogLevel::none);
  EXPECT_EQ(beaconLogLevelFromRawValue(2), BeaconLogLevel::med);
  EXPECT_EQ(beaconLogLevelFromRawValue(3), BeaconLogLevel::high);
  EXPECT_EQ(beaconLogLevelFromRawValue(4), std::nullopt);
  EXPECT_EQ(beaconLogLevelFromRawValue(-1), std::nullopt);
  EXPECT_EQ(rawValue(BeaconLogLevel::low), 1);
  EXPECT_LT(BeaconLogLevel::low, BeaconLogLevel::med);
  EXPECT_FALSE(BeaconLogLevel::high < BeaconLogLevel::high);
  EXPECT_LE(BeaconLogLevel::high, BeaconLogLevel::high);
  for (int raw = 1; raw <= 3; ++raw) EXPECT_LT(BeaconLogLevel::none, *beaconLogLevelFromRawValue(raw));
}

// Setters and getters from several threads at once: under ThreadSanitizer this shows the
// settings are free of data races, and every read sees a whole value that was written.
TEST_F(VelmoraSDKConfigTest, ConcurrentSettersAndGettersSeeWholeValues) {
  const std::string longA(200, 'a');
  const std::string longB(200, 'b');
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (t % 2 == 0) {
          VelmoraSDKConfig::setUser(i % 2 ? 7 : 8, i % 2 ? longA : longB);
          VelmoraSDKConfig::setServerName(i % 2 ? longA : longB);
          VelmoraSDKConfig::setCurrentLatitude(i % 3 ? std::optional<double>(i) : std::nullopt);
        } else {
          const std::string token = VelmoraSDKConfig::getUserToken();
          const std::string server = VelmoraSDKConfig::getServerName();
          if (!token.empty() && token != longA && token != longB) torn = true;
          if (server != longA && server != longB && server != VelmoraSDKConfig::kDefaultServerName) torn = true;
          (void)VelmoraSDKConfig::getUserId();
          (void)VelmoraSDKConfig::getCurrentLatitude();
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(torn);
}

}  // namespace
}  // namespace velmora
