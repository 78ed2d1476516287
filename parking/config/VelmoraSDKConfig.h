#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "parking/config/BeaconLogLevel.h"

namespace velmora {

// The process-wide settings of the parking layer, set by the host app before it calls the
// parking service. Static operations only; nothing is persisted. Every request record
// copies the credentials, user, position and descriptors when it is built, so a change
// reaches only requests built after it.
//
// All getters and setters are safe to call from any thread: the values sit behind one
// lock, so a request built on one thread while the host app signs a user in on another
// reads whole values, never a torn string. Code that needs several settings that belong
// together (the user id with its token, above all) takes them in one snapshot(), never
// through one getter after another: a setUser on another thread between two getters would
// pair the id of one sign-in with the token of another.
class VelmoraSDKConfig {
 public:
  VelmoraSDKConfig() = delete;

  // Every setting at one instant, read under the settings lock in one go.
  struct Snapshot {
    std::string appId;
    std::string beaconToken;
    std::string clientSecret;
    std::optional<double> currentLatitude;
    std::optional<double> currentLongitude;
    std::string serverName;
    std::int64_t userId = -1;
    std::string userToken;
    std::string appName;
    std::string appPackageName;
    std::string appVersion;
    std::string appBuild;
    std::string deviceModel;
    std::string deviceManufacturer;
    std::string deviceName;
    std::string deviceVersion;
    std::string devicePlatform;
    std::string deviceIdiom;
    std::string deviceType;
    BeaconLogLevel beaconLogLevel = BeaconLogLevel::low;
    bool beaconPayloadLogging = true;
  };
  static Snapshot snapshot();

  // The default parking server: the staging host, scheme and host only, no trailing slash.
  static constexpr std::string_view kDefaultServerName = "https://staging.velmora.example";

  static std::string getAppId();
  static void setAppId(std::string appId);
  static std::string getBeaconToken();
  static void setBeaconToken(std::string beaconToken);
  static std::string getClientSecret();
  static void setClientSecret(std::string clientSecret);
  static std::optional<double> getCurrentLatitude();
  static void setCurrentLatitude(std::optional<double> currentLatitude);
  static std::optional<double> getCurrentLongitude();
  static void setCurrentLongitude(std::optional<double> currentLongitude);
  static std::string getServerName();
  static void setServerName(std::string serverName);
  // -1 means that no user is signed in.
  static std::int64_t getUserId();
  static void setUserId(std::int64_t userId);
  static std::string getUserToken();
  static void setUserToken(std::string userToken);
  static std::string getAppName();
  static void setAppName(std::string appName);
  static std::string getAppPackageName();
  static void setAppPackageName(std::string appPackageName);
  static std::string getAppVersion();
  static void setAppVersion(std::string appVersion);
  static std::string getAppBuild();
  static void setAppBuild(std::string appBuild);
  static std::string getDeviceModel();
  static void setDeviceModel(std::string deviceModel);
  static std::string getDeviceManufacturer();
  static void setDeviceManufacturer(std::string deviceManufacturer);
  static std::string getDeviceName();
  static void setDeviceName(std::string deviceName);
  static std::string getDeviceVersion();
  static void setDeviceVersion(std::string deviceVersion);
  static std::string getDevicePlatform();
  static void setDevicePlatform(std::string devicePlatform);
  static std::string getDeviceIdiom();
  static void setDeviceIdiom(std::string deviceIdiom);
  static std::string getDeviceType();
  static void setDeviceType(std::string deviceType);
  static BeaconLogLevel getBeaconLogLevel();
  static void setBeaconLogLevel(BeaconLogLevel beaconLogLevel);
  // Offered to the host app only; nothing in the SDK reads it.
  static bool getBeaconPayloadLogging();
  static void setBeaconPayloadLogging(bool enabled);

  // Sets the signed-in user: the id and token change together, under one lock.
  static void setUser(std::int64_t userId, std::string userToken);
  // Signs the user out: user id -1 and an empty token.
  static void resetUser();
};

}  // namespace velmora
