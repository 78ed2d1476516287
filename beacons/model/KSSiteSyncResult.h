#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconPendingRecords.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// One page (or the failure) of a site synchronisation, with what the request asked for.
struct KSSiteSyncResult {
  bool includeLatestForApp = false;  // the last page of a full sync of the app's sites
  std::optional<std::string> siteID;
  std::optional<platform::Date> modifiedAfter;
  std::optional<std::int64_t> httpStatusCode;  // absent when no response came
  std::vector<std::shared_ptr<KSSite>> sites;
};

}  // namespace velmora::kestrine
