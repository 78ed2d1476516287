#pragma once

#include <cstdint>
#include <string>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "testing/LoopbackHttpServer.h"

namespace velmora::testing {

// A stand-in for the operator's parking service on a loopback port, with a small, believable
// data set: one signed-in user and the car park "Harbour Street" with two entry lanes and
// one exit lane, three beacons each. The parking paths answer 200; tests and the demo read
// the requests back from server().
//
// The user's parking status follows the calls the fake received: out of any car park until
// an enter, then in the car park of the entered lane, out again after an exit.
//
// Car-park details answer the fixed "Harbour Street" reply until addCarPark() is used; from
// then on the fake holds a data set of car parks and answers the request's beaconID with the
// car park that lists that beacon on one of its lanes, or 404 when none does.
class ParkingServiceFake {
 public:
  static constexpr std::int64_t kUserId = 4211;
  static constexpr std::string_view kUserToken = "tok-7f3a9c2e";
  static constexpr std::string_view kEmail = "sam.driver@example.com";
  static constexpr std::int64_t kCarParkId = 17;
  static constexpr std::string_view kBeaconUuid = "6A3F2C1E-8B4D-4E7A-9C2B-5D1E0F3A7B94";
  // The beacon at the first entry lane: "UUID:major:minor".
  static std::string entryBeaconId();

  ParkingServiceFake();

  std::string baseUrl() const { return server_.baseUrl(); }
  LoopbackHttpServer& server() { return server_; }

  // The car-park details reply body (also nested in the status reply's lanes).
  static std::string carParkDetailsJson();

  // Adds a car park to the data set: a details reply body ("result":"Success", its
  // "carParkId", "carParkName" and "lanes" with their "laneBeacons"). Returns false, adding
  // nothing, when the body is not such an object.
  bool addCarPark(const std::string& detailsJson);

  // The status the fake now reports.
  bool inCarPark() const;
  std::optional<std::int64_t> statusCarParkId() const;

 private:
  struct CarPark {
    std::int64_t carParkId = 0;
    std::string name;
    std::string body;
    std::vector<std::string> beaconIds;
    std::vector<std::int64_t> laneIds;
  };

  LoopbackHttpServer::Reply detailReply(const LoopbackHttpServer::RecordedRequest& request) const;
  LoopbackHttpServer::Reply statusReply() const;
  void enterLane(const LoopbackHttpServer::RecordedRequest& request);

  mutable std::mutex mutex_;
  bool useDataSet_ = false;
  std::vector<CarPark> carParks_;
  bool inCarPark_ = false;
  std::optional<std::int64_t> carParkId_;
  std::string carParkName_;
  // Last member: its threads call the handlers above until it has stopped.
  LoopbackHttpServer server_;
};

}  // namespace velmora::testing
