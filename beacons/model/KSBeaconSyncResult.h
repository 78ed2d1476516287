#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;

// One page (or the failure) of a beacon synchronisation, with what the request asked for, so
// the receiver knows what the result covers. Filled once by its maker, then only read.
struct KSBeaconSyncResult {
  bool includeLatestForApp = false;  // the last page of a full sync of the app's beacons
  std::optional<std::string> beaconIdentifierString;
  std::int64_t beaconIdentifierType = 0;  // KSBeaconIdentifierType
  std::optional<platform::Date> modifiedAfter;
  std::optional<std::string> siteID;
  std::optional<std::int64_t> httpStatusCode;  // absent when no response came
  std::vector<std::shared_ptr<KSBeacon>> beacons;
};

}  // namespace velmora::kestrine
