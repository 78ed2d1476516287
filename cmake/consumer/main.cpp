// Links the installed SDK and uses a little of each part, so the link needs every library.
#include <cstdio>

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/service/RecordCodec.h"
#include "parking/user_api/StatusResult.h"

int main() {
  velmora::VelmoraSDKConfig::setAppId("consumer");
  const auto status = velmora::decodeRecordJSON<velmora::StatusResult>(R"({"result":"Success","lanes":[{}]})");
  const auto carPark = velmora::DetailsResult::toModel(velmora::DetailsResult{});
  const bool ok = status && status->lanes.size() == 1 && carPark && carPark->lanes().empty() &&
                  velmora::VelmoraSDKConfig::getAppId() == "consumer";
  std::puts(ok ? "consumer: ok" : "consumer: unexpected result");
  return ok ? 0 : 1;
}
