#pragma once

#include <optional>
#include <string>

#include "platform/core/Date.h"

namespace velmora::kestrine {

// The beacon synchronisations the hub asks the API operation manager for: the app's beacons,
// one site's, and the neighbourhood of one beacon. A missing modified-after date asks for
// everything (a full sync).
class KSBeaconSyncRequesting {
 public:
  virtual ~KSBeaconSyncRequesting() = default;
  virtual void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) = 0;
  virtual void syncBeaconsInSiteWithSiteID(const std::string& siteID, std::optional<platform::Date> modifiedAfter) = 0;
  virtual void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address) = 0;
  virtual void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& iBeaconKey) = 0;
  virtual void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid) = 0;
};

}  // namespace velmora::kestrine
