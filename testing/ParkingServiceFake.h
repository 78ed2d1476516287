#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "testing/LoopbackHttpServer.h"

namespace velmora::testing {

// A stand-in for the operator's parking service on a loopback port, with a small, believable
// data set: one signed-in user and the car park "Harbour Street" with two entry lanes and
// one exit lane, three beacons each. Every parking path answers 200 with a fixed reply;
// tests and the demo read the requests back from server().
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

 private:
  LoopbackHttpServer server_;
};

}  // namespace velmora::testing
