#include "parking/carpark_api/LaneBeaconResult.h"

#include "parking/carpark_api/LaneBeaconModel.h"

namespace velmora {

LaneBeaconResult LaneBeaconResult::decode(RecordDecoder& d) {
  LaneBeaconResult r;
  r.laneBeaconId = d.int64("laneBeaconId", 0);
  r.beaconId = d.string("beaconId");
  return r;
}

void LaneBeaconResult::encode(RecordEncoder& e) const {
  e.put("laneBeaconId", laneBeaconId);
  e.put("beaconId", beaconId);
}

std::shared_ptr<LaneBeaconModel> LaneBeaconResult::toModel(const LaneBeaconResult& laneBeaconResult) {
  auto model = LaneBeaconModel::create();
  model->setLaneBeaconId(laneBeaconResult.laneBeaconId);
  model->setBeaconId(laneBeaconResult.beaconId);
  return model;
}

}  // namespace velmora
