#include "parking/config/VelmoraSDKConfig.h"

#include <mutex>

namespace velmora {
namespace {

using Settings = VelmoraSDKConfig::Snapshot;

Settings initialSettings() {
  Settings s;
  s.serverName = std::string(VelmoraSDKConfig::kDefaultServerName);
  return s;
}

// Made on first use (thread-safe static initialisation) and guarded by one mutex.
struct Store {
  std::mutex mutex;
  Settings settings = initialSettings();
};

Store& store() {
  static Store& s = *new Store();
  return s;
}

template <class T>
T get(T Settings::*field) {
  Store& s = store();
  std::lock_guard lock(s.mutex);
  return s.settings.*field;
}

template <class T>
void set(T Settings::*field, T value) {
  Store& s = store();
  std::lock_guard lock(s.mutex);
  s.settings.*field = std::move(value);
}

}  // namespace

#define VELMORA_SETTING(Name, field, Type)                                    \
  Type VelmoraSDKConfig::get##Name() { return get(&Settings::field); }       \
  void VelmoraSDKConfig::set##Name(Type v) { set(&Settings::field, std::move(v)); }

VELMORA_SETTING(AppId, appId, std::string)
VELMORA_SETTING(BeaconToken, beaconToken, std::string)
VELMORA_SETTING(ClientSecret, clientSecret, std::string)
VELMORA_SETTING(CurrentLatitude, currentLatitude, std::optional<double>)
VELMORA_SETTING(CurrentLongitude, currentLongitude, std::optional<double>)
VELMORA_SETTING(ServerName, serverName, std::string)
VELMORA_SETTING(UserId, userId, std::int64_t)
VELMORA_SETTING(UserToken, userToken, std::string)
VELMORA_SETTING(AppName, appName, std::string)
VELMORA_SETTING(AppPackageName, appPackageName, std::string)
VELMORA_SETTING(AppVersion, appVersion, std::string)
VELMORA_SETTING(AppBuild, appBuild, std::string)
VELMORA_SETTING(DeviceModel, deviceModel, std::string)
VELMORA_SETTING(DeviceManufacturer, deviceManufacturer, std::string)
VELMORA_SETTING(DeviceName, deviceName, std::string)
VELMORA_SETTING(DeviceVersion, deviceVersion, std::string)
VELMORA_SETTING(DevicePlatform, devicePlatform, std::string)
VELMORA_SETTING(DeviceIdiom, deviceIdiom, std::string)
VELMORA_SETTING(DeviceType, deviceType, std::string)
VELMORA_SETTING(BeaconLogLevel, beaconLogLevel, BeaconLogLevel)
VELMORA_SETTING(BeaconPayloadLogging, beaconPayloadLogging, bool)

#undef VELMORA_SETTING

VelmoraSDKConfig::Snapshot VelmoraSDKConfig::snapshot() {
  Store& s = store();
  std::lock_guard lock(s.mutex);
  return s.settings;
}

void VelmoraSDKConfig::setUser(std::int64_t userId, std::string userToken) {
  Store& s = store();
  std::lock_guard lock(s.mutex);
  s.settings.userId = userId;
  s.settings.userToken = std::move(userToken);
}

void VelmoraSDKConfig::resetUser() { setUser(-1, std::string()); }

}  // namespace velmora
