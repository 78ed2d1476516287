// Feeds arbitrary bytes to the decoders of the car-park replies: details (and, when it
// decodes, its conversion into a car park with lanes and lane beacons), enter, exit with its
// date rule, notification answers and the payload upload. Nothing may crash; a failed decode
// always says why; a car park built from a decoded reply has exactly the reply's lanes and
// lane beacons, each lane linked back to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "parking/carpark_api/BeaconPayloadResult.h"
#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/carpark_api/EnterResult.h"
#include "parking/carpark_api/ExitResult.h"
#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/carpark_api/NoticeResult.h"
#include "parking/service/DateDecoding.h"

namespace {

template <class R>
std::optional<R> decodeAs(std::string_view text, const velmora::DateRule* dates = nullptr) {
  velmora::platform::Error error;
  auto record = velmora::decodeRecordJSON<R>(text, &error, dates);
  if (!record && error.domain.empty()) std::abort();
  return record;
}

void checkCarPark(const velmora::DetailsResult& details) {
  const auto carPark = velmora::DetailsResult::toModel(details);
  if (!carPark || carPark->carParkId() != details.carParkId) std::abort();
  const auto lanes = carPark->lanes();
  if (lanes.size() != details.lanes.size()) std::abort();
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    if (lanes[i]->carPark() != carPark) std::abort();
    if (lanes[i]->laneId() != details.lanes[i].laneId) std::abort();
    const auto beacons = lanes[i]->laneBeacons();
    if (beacons.size() != details.lanes[i].laneBeacons.size()) std::abort();
    for (std::size_t b = 0; b < beacons.size(); ++b) {
      if (beacons[b]->beaconId() != details.lanes[i].laneBeacons[b].beaconId) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto details = decodeAs<velmora::DetailsResult>(text)) checkCarPark(*details);
  decodeAs<velmora::EnterResult>(text);
  decodeAs<velmora::ExitResult>(text, &velmora::laneExitDateRule());
  decodeAs<velmora::NoticeResult>(text);
  decodeAs<velmora::BeaconPayloadResult>(text);
  return 0;
}
