#include "testing/ParkingServiceFake.h"

#include <fmt/format.h>

#include "platform/core/Json.h"

namespace velmora::testing {
namespace {

std::string beaconId(int major, int minor) {
  return fmt::format("{}:{}:{}", ParkingServiceFake::kBeaconUuid, major, minor);
}

// One lane: id, type (1 entry, 2 exit), name and its three beacons.
std::string laneJson(int laneId, int laneType, std::string_view name, std::string_view shortName, int major,
                     int sortOrder) {
  std::string beacons;
  for (int i = 0; i < 3; ++i) {
    if (i) beacons += ",";
    beacons += fmt::format(R"({{"laneBeaconId":{},"beaconId":"{}"}})", laneId * 10 + i, beaconId(major, i + 1));
  }
  return fmt::format(
      R"({{"laneId":{},"laneType":{},"laneGroupId":3,"laneGroupDelay":5,"detectionType":1,"minRSSI":-85,)"
      R"("minDetectionSecs":2,"maxDetectionSecs":30,"retrySecs":10,"sortOrder":{},"name":"{}","shortName":"{}",)"
      R"("beaconSensitivity":-90,"laneSensitivity":4,"laneBeacons":[{}]}})",
      laneId, laneType, sortOrder, name, shortName, beacons);
}

std::string lanesJson() {
  return fmt::format("[{},{},{}]", laneJson(101, 1, "North entry", "N-IN", 100, 1),
                     laneJson(102, 1, "South entry", "S-IN", 200, 2), laneJson(201, 2, "Main exit", "OUT", 300, 3));
}

LoopbackHttpServer::Reply ok(std::string body) {
  LoopbackHttpServer::Reply r;
  r.status = 200;
  r.body = std::move(body);
  return r;
}

}  // namespace

std::string ParkingServiceFake::entryBeaconId() { return beaconId(100, 1); }

std::string ParkingServiceFake::carParkDetailsJson() {
  return fmt::format(
      R"({{"result":"Success","message":"","carParkId":{},"carParkName":"Harbour Street","availableSpaces":42,)"
      R"("homeCarPark":true,"lanes":{}}})",
      kCarParkId, lanesJson());
}

ParkingServiceFake::ParkingServiceFake() {
  const std::string signedIn =
      fmt::format(R"("userId":{},"authenticationToken":"{}")", kUserId, kUserToken);
  server_.setReply("/v4.0/user/login",
                   ok(fmt::format(R"({{"result":"Success","message":"Welcome back",{},"emailConfirmed":true}})", signedIn)));
  server_.setReply("/v4.0/user/authtoken", ok(fmt::format(R"({{"result":"Success","message":"",{}}})", signedIn)));
  server_.setReply("/v4.0/user/create",
                   ok(fmt::format(R"({{"result":"Success","message":"Account created",{}}})", signedIn)));
  server_.setReply("/v4.0/user/createuser",
                   ok(fmt::format(R"({{"result":"Success","message":"Account created",{}}})", signedIn)));
  server_.setReply("/v4.0/user/update", ok(R"({"result":"Success","message":"Details saved"})"));
  server_.setReply(
      "/v4.0/user/detail",
      ok(fmt::format(R"({{"result":"Success","message":"","accountType":"Casual","email":"{}","firstName":"Sam",)"
                     R"("lastName":"Driver","phoneNo":"+61 400 000 000","homeCarParkId":{},)"
                     R"("homeCarParkName":"Harbour Street","groupZoneName":"Blue","groupZoneColourCode":"#1E5AA8",)"
                     R"("groupZoneCode":"B","homeCarParkLatitude":-33.8688,"homeCarParkLongitude":151.2093}})",
                     kEmail, kCarParkId)));
  server_.setHandler("/v4.0/user/status", [this](const LoopbackHttpServer::RecordedRequest&) { return statusReply(); });
  server_.setHandler("/v4.0/carpark/detail",
                     [this](const LoopbackHttpServer::RecordedRequest& request) { return detailReply(request); });
  server_.setHandler("/v4.0/carpark/enter", [this](const LoopbackHttpServer::RecordedRequest& request) {
    enterLane(request);
    return ok(R"({"result":"Success","message":"Gate opening","reservedBay":"B-14"})");
  });
  server_.setHandler("/v4.0/carpark/exit", [this](const LoopbackHttpServer::RecordedRequest&) {
    {
      std::lock_guard lock(mutex_);
      inCarPark_ = false;
      carParkId_.reset();
      carParkName_.clear();
    }
    return ok(R"({"result":"Success","message":"Safe travels","entryTime":"2026-12-09T08:16:02",)"
              R"("secondsInCarPark":5400,"amount":12.5})");
  });
  server_.setReply("/v4.0/carpark/notification",
                   ok(R"({"result":"Success","message":"","shouldPopup":true,)"
                      R"("noticeMessage":{"title":"Approaching North entry","message":"Drive up to the gate"},)"
                      R"("details":[]})"));
  server_.setReply("/v4.0/carpark/beaconpayload", ok(R"({"result":"Success","message":"Payload stored"})"));
}

LoopbackHttpServer::Reply ParkingServiceFake::statusReply() const {
  bool in = false;
  std::optional<std::int64_t> id;
  std::string name;
  {
    std::lock_guard lock(mutex_);
    in = inCarPark_;
    id = carParkId_;
    name = carParkName_;
  }
  return ok(fmt::format(R"({{"result":"Success","message":"","accountType":"Casual","emailConfirmed":true,)"
                        R"("accessStatus":"Active","inCarPark":{},"isNested":false,"entryTime":null,)"
                        R"("serverTime":"2026-12-09T08:15:30.250","homeCarParkId":{},"homeCarParkName":"Harbour Street",)"
                        R"("carParkId":{},"carParkName":"{}","casualAccess":true,"hasCard":false,"lanes":{}}})",
                        in, kCarParkId, id ? std::to_string(*id) : std::string("null"), name, lanesJson()));
}

LoopbackHttpServer::Reply ParkingServiceFake::detailReply(const LoopbackHttpServer::RecordedRequest& request) const {
  std::lock_guard lock(mutex_);
  if (!useDataSet_) return ok(carParkDetailsJson());
  LoopbackHttpServer::Reply notFound;
  notFound.status = 404;
  auto body = platform::json::parse(request.body);
  if (!body) return notFound;
  const std::string* beaconID = (*body)["beaconID"].string();
  if (!beaconID) return notFound;
  for (const CarPark& carPark : carParks_) {
    for (const std::string& id : carPark.beaconIds) {
      if (id == *beaconID) return ok(carPark.body);
    }
  }
  return notFound;
}

void ParkingServiceFake::enterLane(const LoopbackHttpServer::RecordedRequest& request) {
  std::optional<std::int64_t> laneId;
  if (auto body = platform::json::parse(request.body)) laneId = (*body)["laneId"].toInt64();
  std::lock_guard lock(mutex_);
  inCarPark_ = true;
  carParkId_ = kCarParkId;
  carParkName_ = "Harbour Street";
  for (const CarPark& carPark : carParks_) {
    for (std::int64_t id : carPark.laneIds) {
      if (laneId && id == *laneId) {
        carParkId_ = carPark.carParkId;
        carParkName_ = carPark.name;
      }
    }
  }
}

bool ParkingServiceFake::addCarPark(const std::string& detailsJson) {
  auto body = platform::json::parse(detailsJson);
  if (!body || !body->dict()) return false;
  CarPark carPark;
  auto id = (*body)["carParkId"].toInt64();
  const std::string* name = (*body)["carParkName"].string();
  const platform::Array* lanes = (*body)["lanes"].array();
  if (!id || !name || !lanes) return false;
  carPark.carParkId = *id;
  carPark.name = *name;
  carPark.body = detailsJson;
  for (const platform::Value& lane : *lanes) {
    if (auto laneId = lane["laneId"].toInt64()) carPark.laneIds.push_back(*laneId);
    if (const platform::Array* beacons = lane["laneBeacons"].array()) {
      for (const platform::Value& beacon : *beacons) {
        if (const std::string* beaconId = beacon["beaconId"].string()) carPark.beaconIds.push_back(*beaconId);
      }
    }
  }
  std::lock_guard lock(mutex_);
  useDataSet_ = true;
  carParks_.push_back(std::move(carPark));
  return true;
}

bool ParkingServiceFake::inCarPark() const {
  std::lock_guard lock(mutex_);
  return inCarPark_;
}

std::optional<std::int64_t> ParkingServiceFake::statusCarParkId() const {
  std::lock_guard lock(mutex_);
  return carParkId_;
}

}  // namespace velmora::testing
