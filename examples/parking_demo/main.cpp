// A host program that uses the parking SDK as an operator's app would: it configures the
// SDK, signs a user in, reads the account and parking status, looks up the car park of a
// beacon, reports a lane entry and exit, sends a lane notification and a beacon payload,
// and prints each call with its decoded result.
//
// By default it runs against a fake parking service on a loopback port, with a small data
// set; `--server URL` points it at a real service instead (and `--user`/`--password` sign
// in there).
#include <fmt/format.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "parking/carpark_api/CarParkAPI.h"
#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/user_api/UserAPI.h"
#include "testing/ParkingServiceFake.h"

using namespace velmora;

namespace {

int gFailures = 0;

void report(const std::string& call, const std::string& result, const std::string& message) {
  const bool ok = result == "Success";
  if (!ok) ++gFailures;
  fmt::print("{:<34} {:<8} {}\n", call, ok ? "ok" : result.empty() ? "(empty)" : result,
             message.empty() ? "" : fmt::format("\"{}\"", message));
}

void detail(const char* label, const std::string& value) { fmt::print("    {:<22} {}\n", label, value); }

std::string dateText(const std::optional<platform::Date>& d) { return d ? d->iso8601() : "-"; }

int usage(const char* self) {
  std::fprintf(stderr, "usage: %s [--server URL] [--user EMAIL] [--password PASSWORD] [--beacon UUID:major:minor]\n",
               self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> server;
  std::string user(velmora::testing::ParkingServiceFake::kEmail);
  std::string password = "correct horse";
  std::string beacon = velmora::testing::ParkingServiceFake::entryBeaconId();
  for (int i = 1; i < argc; ++i) {
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (!std::strcmp(argv[i], "--server") && (v = value())) {
      server = v;
    } else if (!std::strcmp(argv[i], "--user") && (v = value())) {
      user = v;
    } else if (!std::strcmp(argv[i], "--password") && (v = value())) {
      password = v;
    } else if (!std::strcmp(argv[i], "--beacon") && (v = value())) {
      beacon = v;
    } else {
      return usage(argv[0]);
    }
  }

  std::unique_ptr<velmora::testing::ParkingServiceFake> fake;
  if (!server) {
    fake = std::make_unique<velmora::testing::ParkingServiceFake>();
    server = fake->baseUrl();
  }
  fmt::print("Parking service: {}{}\n\n", *server, fake ? " (local fake)" : "");

  VelmoraSDKConfig::setServerName(*server);
  VelmoraSDKConfig::setAppId("demo-app");
  VelmoraSDKConfig::setClientSecret("demo-secret");
  VelmoraSDKConfig::setAppName("Parking demo");
  VelmoraSDKConfig::setAppPackageName("com.example.parkingdemo");
  VelmoraSDKConfig::setAppVersion("1.0");
  VelmoraSDKConfig::setAppBuild("1");
  VelmoraSDKConfig::setDeviceModel("Linux");
  VelmoraSDKConfig::setDeviceManufacturer("Generic");
  VelmoraSDKConfig::setDeviceName("demo-host");
  VelmoraSDKConfig::setDeviceVersion("1");
  VelmoraSDKConfig::setDevicePlatform("Linux");
  VelmoraSDKConfig::setDeviceIdiom("desktop");
  VelmoraSDKConfig::setDeviceType("kiosk");
  VelmoraSDKConfig::setCurrentLatitude(-33.8688);
  VelmoraSDKConfig::setCurrentLongitude(151.2093);

  const LoginResult login = UserAPI::login(user, password);
  report("user/login", login.result, login.message);
  detail("userId", std::to_string(login.userId));
  detail("emailConfirmed", login.emailConfirmed ? "yes" : "no");
  if (login.result == "Success") VelmoraSDKConfig::setUser(login.userId, login.authenticationToken);

  const DetailResult account = UserAPI::detail();
  report("user/detail", account.result, account.message);
  detail("name", account.firstName + " " + account.lastName);
  detail("email", account.email);
  detail("home car park", account.homeCarParkName);

  const StatusResult status = UserAPI::status();
  report("user/status", status.result, status.message.value_or(""));
  detail("accessStatus", status.accessStatus);
  detail("inCarPark", status.inCarPark ? "yes" : "no");
  detail("serverTime", dateText(status.serverTime));

  const DetailsResult details = CarParkAPI::detail(beacon, std::nullopt);
  report("carpark/detail", details.result, details.message);
  std::int64_t entryLane = 0, exitLane = 0;
  if (details.result == "Success") {
    const auto carPark = DetailsResult::toModel(details);
    detail("car park", fmt::format("{} (id {}), {} spaces free", carPark->carParkName(), carPark->carParkId(),
                                   carPark->availableSpaces()));
    for (const auto& lane : carPark->lanes()) {
      const auto type = lane->laneType().value_or(0);
      if (type == 1 && entryLane == 0) entryLane = lane->laneId().value_or(0);
      if (type == 2 && exitLane == 0) exitLane = lane->laneId().value_or(0);
      detail("lane", fmt::format("{} {} (type {}, {} beacons)", lane->laneId().value_or(0), lane->name(), type,
                                 lane->laneBeacons().size()));
    }
  }

  const EnterResult enter = CarParkAPI::enter(entryLane, entryLane);
  report(fmt::format("carpark/enter lane {}", entryLane), enter.result, enter.message);
  detail("reservedBay", enter.reservedBay);

  const ExitResult exitResult = CarParkAPI::exit(exitLane, exitLane);
  report(fmt::format("carpark/exit lane {}", exitLane), exitResult.result, exitResult.message);
  detail("entryTime", dateText(exitResult.entryTime));
  detail("secondsInCarPark", exitResult.secondsInCarPark ? std::to_string(*exitResult.secondsInCarPark) : "-");
  detail("amount", exitResult.amount ? fmt::format("{:.2f}", *exitResult.amount) : "-");

  NoticeBeaconRequest noticeBeacon;
  noticeBeacon.beaconId = beacon;
  noticeBeacon.rssi = -61;
  const NoticeResult notice = CarParkAPI::notification(std::vector<NoticeBeaconRequest>{noticeBeacon});
  report("carpark/notification", notice.result, notice.message);
  detail("popup", notice.shouldPopup ? notice.noticeMessage.title + ": " + notice.noticeMessage.message : "no");

  BeaconPayloadRequest payload;
  payload.inCarPark = false;
  payload.carParkID = details.carParkId;
  payload.laneID = entryLane;
  payload.calculatedLaneID = entryLane;
  payload.timestampUTC = platform::Clock::system()->now();
  BeaconPayloadItem item;
  item.laneID = entryLane;
  item.closest = true;
  item.rssi = -61;
  BeaconPayloadDetail reading;
  reading.beaconID = beacon;
  reading.beaconName = "North entry 1";
  reading.rssi = -61;
  reading.rssiSmoothed = -63;
  reading.proximity = 1;
  reading.accuracy = 0.8;
  reading.measuredPowerAt1Meter = -59;
  item.details.push_back(reading);
  payload.items = std::vector<BeaconPayloadItem>{item};
  const BeaconPayloadResult uploaded = CarParkAPI::beaconPayload(payload);
  report("carpark/beaconpayload", uploaded.result.value_or(""), uploaded.message.value_or(""));

  fmt::print("\n{} call{} failed\n", gFailures, gFailures == 1 ? "" : "s");
  return gFailures == 0 ? 0 : 1;
}
