#include "parking/service/ClientInfoBlock.h"

#include <utility>

#include "parking/config/VelmoraSDKConfig.h"

namespace velmora {

ClientInfoBlock ClientInfoBlock::fromSettings() {
  // One snapshot, so the user id and its token (and every other value) come from the same
  // instant even while another thread signs a user in or out.
  auto settings = VelmoraSDKConfig::snapshot();
  ClientInfoBlock b;
  b.appId = std::move(settings.appId);
  b.clientSecret = std::move(settings.clientSecret);
  b.userId = settings.userId;
  b.userToken = std::move(settings.userToken);
  b.currentLatitude = settings.currentLatitude;
  b.currentLongitude = settings.currentLongitude;
  b.appName = std::move(settings.appName);
  b.appPackageName = std::move(settings.appPackageName);
  b.appVersion = std::move(settings.appVersion);
  b.appBuild = std::move(settings.appBuild);
  b.deviceModel = std::move(settings.deviceModel);
  b.deviceManufacturer = std::move(settings.deviceManufacturer);
  b.deviceName = std::move(settings.deviceName);
  b.deviceVersion = std::move(settings.deviceVersion);
  b.devicePlatform = std::move(settings.devicePlatform);
  b.deviceIdiom = std::move(settings.deviceIdiom);
  b.deviceType = std::move(settings.deviceType);
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
