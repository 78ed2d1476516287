#include "parking/service/ClientInfoBlock.h"

#include "parking/config/VelmoraSDKConfig.h"

namespace velmora {

ClientInfoBlock ClientInfoBlock::fromSettings() {
  ClientInfoBlock b;
  b.appId = VelmoraSDKConfig::getAppId();
  b.clientSecret = VelmoraSDKConfig::getClientSecret();
  b.userId = VelmoraSDKConfig::getUserId();
  b.userToken = VelmoraSDKConfig::getUserToken();
  b.currentLatitude = VelmoraSDKConfig::getCurrentLatitude();
  b.currentLongitude = VelmoraSDKConfig::getCurrentLongitude();
  b.appName = VelmoraSDKConfig::getAppName();
  b.appPackageName = VelmoraSDKConfig::getAppPackageName();
  b.appVersion = VelmoraSDKConfig::getAppVersion();
  b.appBuild = VelmoraSDKConfig::getAppBuild();
  b.deviceModel = VelmoraSDKConfig::getDeviceModel();
  b.deviceManufacturer = VelmoraSDKConfig::getDeviceManufacturer();
  b.deviceName = VelmoraSDKConfig::getDeviceName();
  b.deviceVersion = VelmoraSDKConfig::getDeviceVersion();
  b.devicePlatform = VelmoraSDKConfig::getDevicePlatform();
  b.deviceIdiom = VelmoraSDKConfig::getDeviceIdiom();
  b.deviceType = VelmoraSDKConfig::getDeviceType();
  return b;
}

void ClientInfoBlock::encodeBlock(RecordEncoder& e) const {
  e.put("appId", appId);
  e.put("clientSecret", clientSecret);
  e.put("userId", userId);
  e.put("userToken", userToken);
  e.put("currentLatitude", currentLatitude);
  e.put("currentLongitude", currentLongitude);
  e.put("appName", appName);
  e.put("appPackageName", appPackageName);
  e.put("appVersion", appVersion);
  e.put("appBuild", appBuild);
  e.put("deviceModel", deviceModel);
  e.put("deviceManufacturer", deviceManufacturer);
  e.put("deviceName", deviceName);
  e.put("deviceVersion", deviceVersion);
  e.put("devicePlatform", devicePlatform);
  e.put("deviceIdiom", deviceIdiom);
  e.put("deviceType", deviceType);
}

void ClientInfoBlock::decodeBlock(RecordDecoder& d) {
  appId = d.optionalString("appId");
  clientSecret = d.optionalString("clientSecret");
  userId = d.optionalInt64("userId");
  userToken = d.optionalString("userToken");
  currentLatitude = d.optionalNumber("currentLatitude");
  currentLongitude = d.optionalNumber("currentLongitude");
  appName = d.optionalString("appName");
  appPackageName = d.optionalString("appPackageName");
  appVersion = d.optionalString("appVersion");
  appBuild = d.optionalString("appBuild");
  deviceModel = d.optionalString("deviceModel");
  deviceManufacturer = d.optionalString("deviceManufacturer");
  deviceName = d.optionalString("deviceName");
  deviceVersion = d.optionalString("deviceVersion");
  devicePlatform = d.optionalString("devicePlatform");
  deviceIdiom = d.optionalString("deviceIdiom");
  deviceType = d.optionalString("deviceType");
}

}  // namespace velmora
