#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class LaneModel;

// One car park in memory, built from the car-park details the parking service returned:
// its id, name, free spaces, home flag and lanes.
//
// A reference object made by create(). Every field sits behind the object's own lock.
//
// Ownership of the car park and its lanes. A car park owns its lanes; a lane refers back
// to its car park without owning it, so the two never form a reference cycle. Whoever
// holds a lane must still be able to reach its car park after everyone else has dropped
// the car park, so lanes() does not return the car park's own pointers: each lane pointer
// it returns shares an owner block that holds both the lane and this car park. Holding
// such a lane keeps the car park (and with it all of its lanes) alive; dropping the last
// lane pointer and the last car-park pointer frees everything. The same lane reached
// through two such pointers is the same object (get() is equal).
class CarParkModel : public std::enable_shared_from_this<CarParkModel> {
  struct Token {
    explicit Token() = default;
  };

 public:
  explicit CarParkModel(Token) {}
  CarParkModel(const CarParkModel&) = delete;
  CarParkModel& operator=(const CarParkModel&) = delete;

  // A car park with empty texts, id 0, availableSpaces -1, homeCarPark false and no lanes.
  static std::shared_ptr<CarParkModel> create();

  // The result and message of the details result it was built from.
  std::string result() const;
  void setResult(std::string v);
  std::string message() const;
  void setMessage(std::string v);
  std::int64_t carParkId() const;
  void setCarParkId(std::int64_t v);
  std::string carParkName() const;
  void setCarParkName(std::string v);
  // Free spaces; -1 when the service gave none.
  std::int64_t availableSpaces() const;
  void setAvailableSpaces(std::int64_t v);
  bool homeCarPark() const;
  void setHomeCarPark(bool v);
  // The lanes in order; each pointer also keeps this car park alive (see above).
  std::vector<std::shared_ptr<LaneModel>> lanes() const;
  // Replaces the lanes. The car park keeps the lanes themselves, not the pointers it was
  // given, so passing back what lanes() returned creates no cycle. Null entries are skipped.
  // It does not change the lanes' carPark links.
  void setLanes(const std::vector<std::shared_ptr<LaneModel>>& v);

 private:
  mutable std::mutex mutex_;
  std::string result_;
  std::string message_;
  std::int64_t carParkId_ = 0;
  std::string carParkName_;
  std::int64_t availableSpaces_ = -1;
  bool homeCarPark_ = false;
  std::vector<std::shared_ptr<LaneModel>> lanes_;
};

}  // namespace velmora
