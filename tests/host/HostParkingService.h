#pragma once

// The operator's parking service as the SDK's car-park lookups reach it, on a loopback port:
// the details of a car park by one of its beacons, and the signed-in user's status (out of
// every car park).

#include <fmt/format.h>

#include <string>

#include "HostHttpServer.h"
#include "HostSdk.h"

namespace hostsuite {

class HostParkingService {
 public:
  static constexpr int kCarParkId = 7;
  static constexpr int kEntryLaneId = 101;

  HostParkingService() {
    server.handle("/v4.0/carpark/detail", [](const HostHttpServer::Request& request) {
      // Beacons (100, 1) and (100, 2) sit at entry lane 101 of car park 7; any other is unknown.
      if (request.body.find(beaconId(100, 1)) == std::string::npos &&
          request.body.find(beaconId(100, 2)) == std::string::npos) {
        return HostHttpServer::Reply{404, ""};
      }
      return HostHttpServer::Reply{200, detailsJson()};
    });
    server.handle("/v4.0/user/status", [](const HostHttpServer::Request&) {
      return HostHttpServer::Reply{
          200, R"({"result":"Success","message":"","accountType":"Casual","emailConfirmed":true,"accessStatus":"Active",)"
               R"("inCarPark":false,"isNested":false,"entryTime":null,"serverTime":"2026-12-09T08:15:30.250",)"
               R"("homeCarParkId":7,"homeCarParkName":"Harbour","carParkId":null,"carParkName":"",)"
               R"("casualAccess":true,"hasCard":false,"lanes":[]})"};
    });
  }

  static std::string detailsJson() {
    std::string beacons;
    for (int minor = 1; minor <= 2; ++minor) {
      if (minor > 1) beacons += ",";
      beacons += fmt::format(R"({{"laneBeaconId":{},"beaconId":"{}"}})", 1010 + minor, beaconId(100, minor));
    }
    return fmt::format(
        R"({{"result":"Success","message":"","carParkId":{},"carParkName":"Harbour","availableSpaces":42,)"
        R"("homeCarPark":true,"lanes":[{{"laneId":{},"laneType":1,"laneGroupId":1,"laneGroupDelay":5,)"
        R"("detectionType":1,"minRSSI":-70,"minDetectionSecs":2,"maxDetectionSecs":6,"retrySecs":3,"sortOrder":1,)"
        R"("name":"North entry","shortName":"N-IN","beaconSensitivity":-90,"laneSensitivity":4,"laneBeacons":[{}]}}]}})",
        kCarParkId, kEntryLaneId, beacons);
  }

  // Points the parking layer at this server, with a user signed in.
  void signIn() {
    velmora::VelmoraSDKConfig::setServerName(server.baseUrl());
    velmora::VelmoraSDKConfig::setUser(42, "token-42");
  }

  HostHttpServer server;
};

}  // namespace hostsuite
