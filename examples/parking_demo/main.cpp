// A host program that uses the parking SDK as an operator's app would: it configures the
// SDK, signs a user in, reads the account and parking status, looks up the car park of a
// beacon, reports a lane entry and exit, sends a lane notification and a beacon payload,
// and prints each call with its decoded result.
//
// By default it runs against a fake parking service on a loopback port, with a small data
// set and its own test account; `--server URL` points it at a real service instead, where
// only `--user`/`--password` sign in (the fake's account is never sent there). Run with
// `--help` for the options.
#include <fmt/format.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <memory>
#include <optional>
#include <string>

#include "parking/carpark_api/CarParkAPI.h"
#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/service/RequestRunner.h"
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

void printUsage(std::FILE* to, const char* self) {
  fmt::print(to,
             "usage: {} [options]\n"
             "\n"
             "Runs each parking call once and prints its result. Without --server the calls go to a\n"
             "fake parking service started on a loopback port, signed in with its test account.\n"
             "\n"
             "options:\n"
             "  --server URL         a real parking service (scheme and host, e.g. https://parking.example.com)\n"
             "  --user EMAIL         the account to sign in with (with --server: needed to sign in)\n"
             "  --password PASSWORD  that account's password\n"
             "  --beacon ID          the beacon whose car park is looked up (UUID:major:minor)\n"
             "  --timeout SECONDS    how long a request may go without any bytes moving (default 60)\n"
             "  --help               this text\n",
             self);
}

// A bad argument: one line on standard error, exit status 1.
int usageError(const char* self, const std::string& why) {
  fmt::print(stderr, "{}: {} (--help lists the options)\n", self, why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so a run that is killed keeps what it printed so far.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::optional<std::string> server;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<double> timeout;
  std::string beacon = velmora::testing::ParkingServiceFake::entryBeaconId();
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      printUsage(stdout, argv[0]);
      return 0;
    }
    const bool known = option == "--server" || option == "--user" || option == "--password" ||
                       option == "--beacon" || option == "--timeout";
    if (!known) return usageError(argv[0], fmt::format("unknown option '{}'", option));
    if (i + 1 >= argc) return usageError(argv[0], fmt::format("option '{}' needs a value", option));
    const std::string value = argv[++i];
    if (option == "--server") {
      server = value;
    } else if (option == "--user") {
      user = value;
    } else if (option == "--password") {
      password = value;
    } else if (option == "--beacon") {
      beacon = value;
    } else {
      double seconds = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc() || end != value.data() + value.size() || !(seconds > 0)) {
        return usageError(argv[0], fmt::format("--timeout needs a number of seconds above 0, not '{}'", value));
      }
      timeout = seconds;
    }
  }

  std::unique_ptr<velmora::testing::ParkingServiceFake> fake;
  if (!server) {
    fake = std::make_unique<velmora::testing::ParkingServiceFake>();
    server = fake->baseUrl();
    // The fake's own test account, used only with the fake.
    if (!user) user = std::string(velmora::testing::ParkingServiceFake::kEmail);
    if (!password) password = "correct horse";
  }
  if (timeout) runner::setRequestTimeoutSeconds(*timeout);
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

  bool signedIn = false;
  if (!user || !password) {
    fmt::print("{:<34} {:<8} {}\n", "user/login", "skipped", "no --user and --password given for this server");
  } else {
    const LoginResult login = UserAPI::login(*user, *password);
    report("user/login", login.result, login.message);
    signedIn = login.result == "Success";
    if (signedIn) {
      detail("userId", std::to_string(login.userId));
      detail("emailConfirmed", login.emailConfirmed ? "yes" : "no");
      VelmoraSDKConfig::setUser(login.userId, login.authenticationToken);
    } else {
      detail("why", login.message.empty() ? "the service refused the sign-in" : login.message);
    }
  }
  // The account, status, lane and notification calls act for a signed-in user; without one
  // they are skipped rather than sent with no user.
  const auto skipped = [&](const std::string& call) {
    if (signedIn) return false;
    fmt::print("{:<34} {:<8} {}\n", call, "skipped", "needs a signed-in user");
    return true;
  };

  if (!skipped("user/detail")) {
    const DetailResult account = UserAPI::detail();
    report("user/detail", account.result, account.message);
    detail("name", account.firstName + " " + account.lastName);
    detail("email", account.email);
    detail("home car park", account.homeCarParkName);
  }

  if (!skipped("user/status")) {
    const StatusResult status = UserAPI::status();
    report("user/status", status.result, status.message.value_or(""));
    detail("accessStatus", status.accessStatus);
    detail("inCarPark", status.inCarPark ? "yes" : "no");
    detail("serverTime", dateText(status.serverTime));
  }

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

  if (!skipped(fmt::format("carpark/enter lane {}", entryLane))) {
    const EnterResult enter = CarParkAPI::enter(entryLane, entryLane);
    report(fmt::format("carpark/enter lane {}", entryLane), enter.result, enter.message);
    detail("reservedBay", enter.reservedBay);
  }

  if (!skipped(fmt::format("carpark/exit lane {}", exitLane))) {
    const ExitResult exitResult = CarParkAPI::exit(exitLane, exitLane);
    report(fmt::format("carpark/exit lane {}", exitLane), exitResult.result, exitResult.message);
    detail("entryTime", dateText(exitResult.entryTime));
    detail("secondsInCarPark", exitResult.secondsInCarPark ? std::to_string(*exitResult.secondsInCarPark) : "-");
    detail("amount", exitResult.amount ? fmt::format("{:.2f}", *exitResult.amount) : "-");
  }

  if (!skipped("carpark/notification")) {
    NoticeBeaconRequest noticeBeacon;
    noticeBeacon.beaconId = beacon;
    noticeBeacon.rssi = -61;
    const NoticeResult notice = CarParkAPI::notification(std::vector<NoticeBeaconRequest>{noticeBeacon});
    report("carpark/notification", notice.result, notice.message);
    detail("popup", notice.shouldPopup ? notice.noticeMessage.title + ": " + notice.noticeMessage.message : "no");
  }

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

  fmt::print("\n{} call{} failed{}\n", gFailures, gFailures == 1 ? "" : "s",
             signedIn ? "" : "; calls that need a user were skipped");
  return gFailures == 0 && signedIn ? 0 : 1;
}
