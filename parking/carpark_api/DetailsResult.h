#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parking/service/LaneResult.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

class CarParkModel;

// The reply of the car-park details call: the car park the service found for a beacon or
// a car-park id, with its lanes. Its id key is "carParkId" (lower-case d).
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct DetailsResult {
  std::string result;
  std::string message;
  std::int64_t carParkId = 0;
  std::string carParkName;
  // Free spaces; -1 when the service gives none.
  std::int64_t availableSpaces = -1;
  bool homeCarPark = false;
  std::vector<LaneResult> lanes;

  // Missing or null keys take the defaults; a wrong JSON type anywhere, down to a lane
  // beacon, fails the whole record.
  static DetailsResult decode(RecordDecoder& d);
  // Writes all seven keys.
  void encode(RecordEncoder& e) const;

  // A new car park with this record's values and one new lane per lane, in order, each
  // lane linked back to the new car park.
  static std::shared_ptr<CarParkModel> toModel(const DetailsResult& detailsResult);
};

}  // namespace velmora
