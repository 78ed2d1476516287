#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "parking/service/LaneResult.h"

namespace velmora {

class CarParkModel;
class LaneBeaconModel;

// One lane of a car park in memory: the lane's values from the parking service, its lane
// beacons, the live signal strength and closest flag that lane detection writes, and the
// car park it belongs to.
//
// A reference object made by create(). Every field sits behind the object's own lock.
//
// Ownership: who holds what.
//  - A lane owns its lane beacons; a car park owns its lanes.
//  - setCarPark links a lane to a car park without owning it: the lane keeps a weak link, so
//    once nothing else holds that car park it is freed and carPark() returns nullptr.
//  - A lane pointer taken from CarParkModel::lanes() keeps its car park: it owns both the
//    lane and the car park that handed it out, so carPark() keeps returning that car park
//    after every other holder has let go. Both are freed when the last such pointer and the
//    last car-park pointer are gone.
//  - Each lanes() call hands out new owners: pointers from two calls point to the same lane
//    object (get() is equal) but each keeps the car park alive on its own.
// Owning links both ways would make a cycle that is never freed; this arrangement gives the
// lane holder its car park without one.
class LaneModel : public std::enable_shared_from_this<LaneModel> {
  struct Token {
    explicit Token() = default;
  };

 public:
  // Fallbacks of the threshold getters when the lane record gave no value.
  static constexpr std::int64_t kDefaultMinRSSI = 0;
  static constexpr std::int64_t kDefaultMinDetectionSecs = 5;
  static constexpr std::int64_t kDefaultRetrySecs = 3;

  explicit LaneModel(Token) {}
  LaneModel(const LaneModel&) = delete;
  LaneModel& operator=(const LaneModel&) = delete;

  // A lane with laneId present as 0, every other optional value nil, empty names, no lane
  // beacons, rssi 0, no car park and closest false.
  static std::shared_ptr<LaneModel> create();

  std::optional<std::int64_t> laneId() const;
  void setLaneId(std::optional<std::int64_t> v);
  std::optional<std::int64_t> laneType() const;
  void setLaneType(std::optional<std::int64_t> v);
  std::optional<std::int64_t> laneGroupId() const;
  void setLaneGroupId(std::optional<std::int64_t> v);
  std::optional<std::int64_t> laneGroupDelay() const;
  void setLaneGroupDelay(std::optional<std::int64_t> v);
  std::optional<std::int64_t> detectionType() const;
  void setDetectionType(std::optional<std::int64_t> v);
  // The raw thresholds; lane detection reads them through the get... fallbacks below.
  std::optional<std::int64_t> minRSSI() const;
  void setMinRSSI(std::optional<std::int64_t> v);
  std::optional<std::int64_t> minDetectionSecs() const;
  void setMinDetectionSecs(std::optional<std::int64_t> v);
  std::optional<std::int64_t> maxDetectionSecs() const;
  void setMaxDetectionSecs(std::optional<std::int64_t> v);
  std::optional<std::int64_t> retrySecs() const;
  void setRetrySecs(std::optional<std::int64_t> v);
  std::optional<std::int64_t> sortOrder() const;
  void setSortOrder(std::optional<std::int64_t> v);
  std::string name() const;
  void setName(std::string v);
  std::string shortName() const;
  void setShortName(std::string v);
  std::optional<std::int64_t> beaconSensitivity() const;
  void setBeaconSensitivity(std::optional<std::int64_t> v);
  std::optional<std::int64_t> laneSensitivity() const;
  void setLaneSensitivity(std::optional<std::int64_t> v);
  std::vector<std::shared_ptr<LaneBeaconModel>> laneBeacons() const;
  void setLaneBeacons(std::vector<std::shared_ptr<LaneBeaconModel>> v);
  // The lane's current signal strength in dBm.
  std::int64_t rssi() const;
  void setRssi(std::int64_t v);
  // The car park this lane belongs to, or nullptr. The link does not own the car park; a
  // lane pointer taken from CarParkModel::lanes() does (see the class comment).
  std::shared_ptr<CarParkModel> carPark() const;
  void setCarPark(const std::shared_ptr<CarParkModel>& v);
  bool closest() const;
  void setClosest(bool v);

  // minRSSI, or 0 when nil. A present value is returned unchanged, 0 included.
  std::int64_t getMinRSSI() const;
  // minDetectionSecs, or 5 when nil.
  std::int64_t getMinDetectionSecs() const;
  // maxDetectionSecs, or else what getMinDetectionSecs() returns.
  std::int64_t getMaxDetectionSecs() const;
  // retrySecs, or 3 when nil.
  std::int64_t getRetrySecs() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::int64_t> laneId_ = 0;
  std::optional<std::int64_t> laneType_;
  std::optional<std::int64_t> laneGroupId_;
  std::optional<std::int64_t> laneGroupDelay_;
  std::optional<std::int64_t> detectionType_;
  std::optional<std::int64_t> minRSSI_;
  std::optional<std::int64_t> minDetectionSecs_;
  std::optional<std::int64_t> maxDetectionSecs_;
  std::optional<std::int64_t> retrySecs_;
  std::optional<std::int64_t> sortOrder_;
  std::string name_;
  std::string shortName_;
  std::optional<std::int64_t> beaconSensitivity_;
  std::optional<std::int64_t> laneSensitivity_;
  std::vector<std::shared_ptr<LaneBeaconModel>> laneBeacons_;
  std::int64_t rssi_ = 0;
  std::weak_ptr<CarParkModel> carPark_;
  bool closest_ = false;
};

// A new lane model from a lane record: the non-optional values arrive as present values (a 0
// stays a present 0, so the model's fallbacks do not apply to it), the optional ones as they
// are, and one new lane-beacon model per lane beacon, in order. No car park is linked.
std::shared_ptr<LaneModel> toModel(const LaneResult& laneResult);

}  // namespace velmora
