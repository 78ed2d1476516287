#pragma once

#include <optional>
#include <string>

#include "parking/config/VelmoraSDKConfig.h"

namespace velmora::testing {

// Puts every VelmoraSDKConfig setting back to its default. The settings are process-wide,
// so a test that changes them restores them, or the tests after it in the same binary see
// its values.
inline void restoreConfigDefaults() {
  for (auto set : {VelmoraSDKConfig::setAppId, VelmoraSDKConfig::setBeaconToken, VelmoraSDKConfig::setClientSecret,
                   VelmoraSDKConfig::setUserToken, VelmoraSDKConfig::setAppName, VelmoraSDKConfig::setAppPackageName,
                   VelmoraSDKConfig::setAppVersion, VelmoraSDKConfig::setAppBuild, VelmoraSDKConfig::setDeviceModel,
                   VelmoraSDKConfig::setDeviceManufacturer, VelmoraSDKConfig::setDeviceName,
                   VelmoraSDKConfig::setDeviceVersion, VelmoraSDKConfig::setDevicePlatform,
                   VelmoraSDKConfig::setDeviceIdiom, VelmoraSDKConfig::setDeviceType}) {
    set("");
  }
  VelmoraSDKConfig::setCurrentLatitude(std::nullopt);
  VelmoraSDKConfig::setCurrentLongitude(std::nullopt);
  VelmoraSDKConfig::setServerName(std::string(VelmoraSDKConfig::kDefaultServerName));
  VelmoraSDKConfig::setUserId(-1);
  VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::low);
  VelmoraSDKConfig::setBeaconPayloadLogging(true);
}

// Restores the defaults when the scope starts and again when it ends; a test fixture can
// hold one as a member, so every test starts from and leaves the defaults.
class ConfigReset {
 public:
  ConfigReset() { restoreConfigDefaults(); }
  ~ConfigReset() { restoreConfigDefaults(); }
  ConfigReset(const ConfigReset&) = delete;
  ConfigReset& operator=(const ConfigReset&) = delete;
};

}  // namespace velmora::testing
