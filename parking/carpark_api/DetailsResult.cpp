#include "parking/carpark_api/DetailsResult.h"

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/LaneModel.h"

namespace velmora {

DetailsResult DetailsResult::decode(RecordDecoder& d) {
  DetailsResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.carParkId = d.int64("carParkId", 0);
  r.carParkName = d.string("carParkName");
  r.availableSpaces = d.int64("availableSpaces", -1);
  r.homeCarPark = d.boolean("homeCarPark", false);
  r.lanes = d.records<LaneResult>("lanes");
  return r;
}

void DetailsResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("carParkId", carParkId);
  e.put("carParkName", carParkName);
  e.put("availableSpaces", availableSpaces);
  e.put("homeCarPark", homeCarPark);
  e.put("lanes", lanes);
}

std::shared_ptr<CarParkModel> DetailsResult::toModel(const DetailsResult& detailsResult) {
  auto carPark = CarParkModel::create();
  carPark->setResult(detailsResult.result);
  carPark->setMessage(detailsResult.message);
  carPark->setCarParkId(detailsResult.carParkId);
  carPark->setCarParkName(detailsResult.carParkName);
  carPark->setAvailableSpaces(detailsResult.availableSpaces);
  carPark->setHomeCarPark(detailsResult.homeCarPark);
  std::vector<std::shared_ptr<LaneModel>> lanes;
  lanes.reserve(detailsResult.lanes.size());
  for (const auto& laneResult : detailsResult.lanes) {
    auto lane = velmora::toModel(laneResult);
    lane->setCarPark(carPark);
    lanes.push_back(std::move(lane));
  }
  carPark->setLanes(lanes);
  return carPark;
}

}  // namespace velmora
