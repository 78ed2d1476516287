// Links the installed SDK and uses a little of each part, so the link needs every library.
// It also checks that the library it runs with, its headers and the package it was found
// through name one release.
#include <cstdio>
#include <string_view>

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/config/Version.h"
#include "parking/service/RecordCodec.h"
#include "parking/user_api/StatusResult.h"
#include "platform/core/Uuid.h"
#include "platform/location/BeaconRegion.h"

int main() {
  velmora::VelmoraSDKConfig::setAppId("consumer");
  const auto status = velmora::decodeRecordJSON<velmora::StatusResult>(R"({"result":"Success","lanes":[{}]})");
  const auto carPark = velmora::DetailsResult::toModel(velmora::DetailsResult{});
  const auto uuid = velmora::platform::Uuid::parse("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  const auto region = velmora::platform::location::BeaconRegion::make(uuid.value(), 7, 9, "gate");
  const bool ok = status && status->lanes.size() == 1 && carPark && carPark->lanes().empty() &&
                  velmora::VelmoraSDKConfig::getAppId() == "consumer" && region.major() == 7 && region.minor() == 9;
  const bool sameRelease =
      velmora::version() == velmora::kVersionString && velmora::version() == std::string_view(VELMORA_PACKAGE_VERSION);
  if (!sameRelease) {
    std::printf("consumer: library %.*s, headers %.*s, package %s\n", static_cast<int>(velmora::version().size()),
                velmora::version().data(), static_cast<int>(velmora::kVersionString.size()),
                velmora::kVersionString.data(), VELMORA_PACKAGE_VERSION);
  }
  std::puts(ok && sameRelease ? "consumer: ok" : "consumer: unexpected result");
  return ok && sameRelease ? 0 : 1;
}
