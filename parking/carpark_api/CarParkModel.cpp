#include "parking/carpark_api/CarParkModel.h"

#include "parking/carpark_api/LaneModel.h"
#include "parking/carpark_api/LockedField.h"

namespace velmora {

using detail::readLocked;
using detail::writeLocked;

namespace {

// The owner block behind a lane pointer handed out by a car park: it holds the lane and
// the car park, and the pointer aliases the lane.
struct HeldLane {
  std::shared_ptr<LaneModel> lane;
  std::shared_ptr<const CarParkModel> carPark;
};

}  // namespace

std::shared_ptr<CarParkModel> CarParkModel::create() { return std::make_shared<CarParkModel>(Token{}); }

std::string CarParkModel::result() const { return readLocked(mutex_, result_); }
void CarParkModel::setResult(std::string v) { writeLocked(mutex_, result_, std::move(v)); }
std::string CarParkModel::message() const { return readLocked(mutex_, message_); }
void CarParkModel::setMessage(std::string v) { writeLocked(mutex_, message_, std::move(v)); }
std::int64_t CarParkModel::carParkId() const { return readLocked(mutex_, carParkId_); }
void CarParkModel::setCarParkId(std::int64_t v) { writeLocked(mutex_, carParkId_, v); }
std::string CarParkModel::carParkName() const { return readLocked(mutex_, carParkName_); }
void CarParkModel::setCarParkName(std::string v) { writeLocked(mutex_, carParkName_, std::move(v)); }
std::int64_t CarParkModel::availableSpaces() const { return readLocked(mutex_, availableSpaces_); }
void CarParkModel::setAvailableSpaces(std::int64_t v) { writeLocked(mutex_, availableSpaces_, v); }
bool CarParkModel::homeCarPark() const { return readLocked(mutex_, homeCarPark_); }
void CarParkModel::setHomeCarPark(bool v) { writeLocked(mutex_, homeCarPark_, v); }

std::vector<std::shared_ptr<LaneModel>> CarParkModel::lanes() const {
  const auto own = readLocked(mutex_, lanes_);
  const auto self = shared_from_this();
  std::vector<std::shared_ptr<LaneModel>> out;
  out.reserve(own.size());
  for (const auto& lane : own) {
    auto held = std::make_shared<HeldLane>(HeldLane{lane, self});
    out.emplace_back(held, held->lane.get());
  }
  return out;
}

void CarParkModel::setLanes(const std::vector<std::shared_ptr<LaneModel>>& v) {
  std::vector<std::shared_ptr<LaneModel>> own;
  own.reserve(v.size());
  // shared_from_this() reaches the lane's own owner, never a HeldLane block (which would
  // hold this car park from inside itself).
  for (const auto& lane : v) {
    if (lane) own.push_back(lane->shared_from_this());
  }
  writeLocked(mutex_, lanes_, std::move(own));
}

}  // namespace velmora
