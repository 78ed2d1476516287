// A drive through a car park on the simulated platform, from the radio to the host app: a
// seeded drive (or a recorded trace) is played on the simulated radio, the beacon SDK ranges
// it with its cloud API and local storage off, lane detection works out the car park and the
// closest lane, and this program acts as the operator's app: it reports enter and exit at the
// gates and prints the story as it goes. Time is virtual, so the drive runs in a moment and
// one seed gives one drive everywhere. The parking calls go to a fake parking service on a
// loopback port (or to a real one with --server). Run with --help for the options.
#include <fmt/format.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "parking/carpark_api/CarParkAPI.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/ParkingLookups.h"
#include "parking/service/RecordCodec.h"
#include "parking/user_api/UserAPI.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/sim/SimTrace.h"
#include "testing/CarParkDrive.h"
#include "testing/LaneStackWorld.h"
#include "testing/ParkingServiceFake.h"

using namespace velmora;
using velmora::testing::CarParkDrive;

namespace {

constexpr std::string_view kStatusPath = "/v4.0/user/status";
// How long the host waits, with the same lane of the right type closest and at its minimum
// signal, before it reports the gate.
constexpr double kGateHoldSeconds = 3;
constexpr std::string_view kDefaultRegionUUID = "61687109-905F-4436-91F8-E602F514C96D";

void printUsage(std::FILE* to, const char* self) {
  fmt::print(to,
             "usage: {} [options]\n"
             "\n"
             "Drives a car through a car park in virtual time and prints what the phone works out:\n"
             "the car park, the lanes of interest, the closest lane, each parking call and its\n"
             "result, then a summary. The beacons' frames go through the simulated radio and\n"
             "location services, the beacon SDK (cloud API and local storage off) and lane\n"
             "detection, as in the app.\n"
             "\n"
             "The drive: the car park \"Harbour\" (7) has entry lanes 101-103 and exit lanes 201-202,\n"
             "two iBeacons each; a shop's beacon stands by the road. The car comes in through lane\n"
             "102, parks out of range of every beacon and leaves through lane 202. Signals follow\n"
             "the log-distance model with shadowing; 20 % of the frames are lost, with short\n"
             "drop-outs besides.\n"
             "\n"
             "With the cloud API off the SDK knows no regions of its own but its default one, so\n"
             "the demo asks it to range the proximity UUIDs of the car parks' lane beacons\n"
             "(the built-in car park's are {}) besides the SDK's default\n"
             "region {}.\n"
             "\n"
             "The host reports enter at a lane once that lane, an entry lane (type 1), has been the\n"
             "closest lane for {} s with its signal at or above the lane's minimum RSSI while the\n"
             "user is out of any car park; it reports exit the same way at an exit lane (type 2)\n"
             "while the user is in one. After each it asks the user's status and hands it to lane\n"
             "detection.\n"
             "\n"
             "options:\n"
             "  --seed N             the drive's seed (default 7)\n"
             "  --trace FILE         replay a recorded trace in the simulated radio's format instead\n"
             "  --write-trace FILE   write the drive's frames as such a trace, then drive as usual\n"
             "  --carpark FILE       serve the car parks of a JSON file (an array of car-park details\n"
             "                       replies, each found by any of its lane beacons' ids)\n"
             "  --events             print the story as one JSON object per line: \"t\" (virtual\n"
             "                       seconds since the drive began), \"event\" (carPark, closestLane,\n"
             "                       lanes, reset, call) and its ids; a call has \"path\" and \"result\"\n"
             "  --server URL         use a real parking service (with --user and --password)\n"
             "  --user EMAIL         the account to sign in with at --server\n"
             "  --password PASSWORD  that account's password\n"
             "  --help               this text\n",
             self, CarParkDrive::kProximityUUID, kDefaultRegionUUID, kGateHoldSeconds);
}

int usageError(const char* self, const std::string& why) {
  fmt::print(stderr, "{}: {}\n", self, why);
  printUsage(stderr, self);
  return 2;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string laneName(const std::shared_ptr<LaneModel>& lane) {
  if (!lane) return "none";
  auto id = lane->laneId();
  return id ? std::to_string(*id) : "?";
}

// Prints the story, as text or as JSON lines, and keeps the figures of the summary.
class Story {
 public:
  Story(bool json, std::function<double()> clock) : json_(json), clock_(std::move(clock)) {}

  void carPark(std::int64_t id, const std::string& name) {
    if (json_) {
      emit("carPark", {{"carParkId", platform::Value(id)}, {"name", platform::Value(name)}});
    } else {
      say(fmt::format("car park      {} ({})", name, id));
    }
    ++carParkChanges;
  }
  void closestLane(const std::shared_ptr<LaneModel>& lane) {
    if (json_) {
      auto id = lane ? lane->laneId() : std::nullopt;
      emit("closestLane", {{"laneId", id ? platform::Value(*id) : platform::Value(platform::null)}});
    } else {
      say(lane ? fmt::format("closest lane  {} ({} dBm)", laneName(lane), lane->rssi()) : "closest lane  none");
    }
    ++closestChanges;
  }
  void lanes(const std::vector<std::int64_t>& ids) {
    if (json_) {
      platform::Array a;
      for (auto id : ids) a.push_back(platform::Value(id));
      emit("lanes", {{"laneIds", platform::Value(std::move(a))}});
    } else {
      say(fmt::format("lanes         [{}]", fmt::join(ids, ", ")));
    }
  }
  void reset() {
    if (json_) {
      emit("reset", {});
    } else {
      say("reset         (lane detection starts over)");
    }
    ++resets;
  }
  // One parking call: its path, result, the ids it was about (JSON fields) and, for the
  // text, what it was about and what came back.
  void call(std::string_view path, const std::string& result, platform::Dict ids, const std::string& subject,
            const std::string& answer) {
    ++calls[std::string(path)];
    if (result != "Success") ++failedCalls;
    if (json_) {
      ids.insert_or_assign("path", platform::Value(std::string(path)));
      ids.insert_or_assign("result", platform::Value(result));
      if (result != "Success" && !answer.empty()) ids.insert_or_assign("message", platform::Value(answer));
      emit("call", std::move(ids));
    } else {
      say(fmt::format("call          {}{} -> {}{}", path, subject.empty() ? "" : " " + subject, result,
                      answer.empty() ? "" : ": " + answer));
    }
  }
  void note(const std::string& text) {
    if (!json_) say(text);
  }

  int carParkChanges = 0;
  int closestChanges = 0;
  int resets = 0;
  int failedCalls = 0;
  std::map<std::string, int> calls;

 private:
  void say(const std::string& line) { fmt::print("[{:7.1f} s] {}\n", clock_(), line); }
  void emit(std::string_view event, platform::Dict fields) {
    fields.insert_or_assign("t", platform::Value(std::round(clock_() * 1000.0) / 1000.0));
    fields.insert_or_assign("event", platform::Value(std::string(event)));
    auto line = platform::json::write(platform::Value(std::move(fields)));
    fmt::print("{}\n", line ? *line : "{}");
  }
  bool json_;
  std::function<double()> clock_;
};

// Lane detection's delegate: tells the story of its decisions, folds the four reports of a
// reset into one line, and keeps what the host's gate rule reads.
class StoryDelegate final : public BeaconServiceDelegate {
 public:
  StoryDelegate(Story& story, std::function<double()> clock) : story_(story), clock_(std::move(clock)) {}

  void carParkNameChanged(const std::string& name) override { name_ = name; }
  void carParkIdChanged(std::int64_t id) override { story_.carPark(id, name_); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) override {
    if (!beacons.empty()) return;
    // Only a reset reports an empty beacon list; its lanes, lane beacons and closest lane follow.
    story_.reset();
    swallow_ = 3;
    lastLanes_.clear();
    setClosest(nullptr, false);
  }
  void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    if (swallowed()) return;
    std::vector<std::int64_t> ids;
    for (const auto& l : lanes) ids.push_back(l->laneId().value_or(0));
    if (ids == lastLanes_) return;
    lastLanes_ = ids;
    story_.lanes(ids);
  }
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>&) override { (void)swallowed(); }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    if (swallowed()) return;
    setClosest(lane, true);
  }

  std::shared_ptr<LaneModel> closest() const { return closest_; }
  double closestSince() const { return closestSince_; }

 private:
  bool swallowed() {
    if (swallow_ == 0) return false;
    --swallow_;
    return true;
  }
  void setClosest(const std::shared_ptr<LaneModel>& lane, bool tell) {
    const auto id = lane ? lane->laneId() : std::nullopt;
    const auto was = closest_ ? closest_->laneId() : std::nullopt;
    const bool changed = (lane != nullptr) != (closest_ != nullptr) || id != was;
    closest_ = lane;
    if (!changed) return;
    closestSince_ = clock_();
    if (tell) story_.closestLane(lane);
  }

  Story& story_;
  std::function<double()> clock_;
  std::string name_;
  int swallow_ = 0;
  std::vector<std::int64_t> lastLanes_;
  std::shared_ptr<LaneModel> closest_;
  double closestSince_ = 0;
};

// The parking calls of lane detection, told in the story as they are made.
class StoryLookups final : public ParkingLookups {
 public:
  explicit StoryLookups(Story& story) : story_(story), inner_(ParkingLookups::makeDefault()) {}
  StatusResult status(const StatusRequest& request) override {
    StatusResult r = inner_->status(request);
    story_.call(kStatusPath, r.result, statusIds(r), "", statusText(r));
    return r;
  }
  DetailsResult detail(const DetailsRequest& request) override {
    DetailsResult r = inner_->detail(request);
    platform::Dict ids{{"beaconID", platform::Value(request.beaconID.value_or(""))}};
    if (r.result == "Success") ids.insert_or_assign("carParkId", platform::Value(r.carParkId));
    story_.call(CarParkAPI::kDetailPath, r.result, std::move(ids), request.beaconID.value_or(""),
                r.result == "Success" ? fmt::format("{} ({})", r.carParkName, r.carParkId) : r.message);
    return r;
  }
  static platform::Dict statusIds(const StatusResult& s) {
    if (s.result != "Success") return {};
    platform::Dict ids{{"inCarPark", platform::Value(s.inCarPark)}};
    if (s.carParkId) ids.insert_or_assign("carParkId", platform::Value(*s.carParkId));
    return ids;
  }
  static std::string statusText(const StatusResult& s) {
    if (s.result != "Success") return s.message.value_or("");
    return s.inCarPark ? fmt::format("in car park {}", s.carParkId ? std::to_string(*s.carParkId) : "?")
                       : "out of any car park";
  }

 private:
  Story& story_;
  std::shared_ptr<ParkingLookups> inner_;
};

std::string uuidOf(const std::string& beaconId) { return beaconId.substr(0, beaconId.find(':')); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  CarParkDrive::Options driveOptions;
  std::optional<std::string> traceFile, writeTraceFile, carParkFile, server, user, password;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      printUsage(stdout, argv[0]);
      return 0;
    }
    if (option == "--events") {
      events = true;
      continue;
    }
    const bool known = option == "--seed" || option == "--trace" || option == "--write-trace" ||
                       option == "--carpark" || option == "--server" || option == "--user" || option == "--password";
    if (!known) return usageError(argv[0], fmt::format("unknown option '{}'", option));
    if (i + 1 >= argc) return usageError(argv[0], fmt::format("option '{}' needs a value", option));
    const std::string value = argv[++i];
    if (option == "--seed") {
      std::uint64_t seed = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
      if (ec != std::errc() || end != value.data() + value.size()) {
        return usageError(argv[0], fmt::format("--seed needs a whole number, not '{}'", value));
      }
      driveOptions.seed = seed;
    } else if (option == "--trace") {
      traceFile = value;
    } else if (option == "--write-trace") {
      writeTraceFile = value;
    } else if (option == "--carpark") {
      carParkFile = value;
    } else if (option == "--server") {
      server = value;
    } else if (option == "--user") {
      user = value;
    } else {
      password = value;
    }
  }
  if (traceFile && writeTraceFile) return usageError(argv[0], "--trace and --write-trace do not go together");

  // The story goes to standard output; the SDKs' own log lines only when something is wrong.
  platform::Log::setSink([](platform::LogLevel level, std::string_view category, std::string_view message) {
    if (level >= platform::LogLevel::Error) fmt::print(stderr, "[{}] {}: {}\n", platform::Log::levelName(level), category, message);
  });
  VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::none);

  // What is played: a recorded trace, or the seeded drive.
  platform::sim::SimTrace trace;
  double duration = 0;
  std::size_t frameCount = 0;
  if (traceFile) {
    auto text = readFile(*traceFile);
    if (!text) {
      fmt::print(stderr, "{}: cannot read the trace '{}'\n", argv[0], *traceFile);
      return 1;
    }
    platform::sim::TraceError error;
    auto parsed = platform::sim::SimTrace::parse(*text, &error);
    if (!parsed) {
      fmt::print(stderr, "{}: {}: {}\n", argv[0], *traceFile, error.describe());
      return 1;
    }
    trace = std::move(*parsed);
    frameCount = trace.events().size();
    duration = trace.events().empty() ? 0 : static_cast<double>(trace.events().back().atMicros) / 1e6;
  } else {
    CarParkDrive drive(driveOptions);
    const std::string text = drive.traceText();
    if (writeTraceFile) {
      std::ofstream out(*writeTraceFile, std::ios::binary);
      out << text;
      if (!out) {
        fmt::print(stderr, "{}: cannot write the trace '{}'\n", argv[0], *writeTraceFile);
        return 1;
      }
    }
    trace = *platform::sim::SimTrace::parse(text);
    frameCount = drive.frames().size();
    duration = drive.durationSeconds();
  }

  // The car parks the fake serves, and the proximity UUIDs of their lane beacons.
  std::vector<DetailsResult> carParks;
  if (carParkFile) {
    auto text = readFile(*carParkFile);
    platform::Error error;
    auto value = text ? platform::json::parse(*text, &error) : std::nullopt;
    const platform::Array* list = value ? value->array() : nullptr;
    if (!list) {
      fmt::print(stderr, "{}: '{}' is not a JSON array of car parks{}\n", argv[0], *carParkFile,
                 text ? (error.localizedDescription.empty() ? "" : ": " + error.localizedDescription) : " (cannot read it)");
      return 1;
    }
    for (std::size_t i = 0; i < list->size(); ++i) {
      auto body = platform::json::write((*list)[i]);
      auto decoded = body ? decodeRecordJSON<DetailsResult>(*body, &error) : std::nullopt;
      if (!decoded) {
        fmt::print(stderr, "{}: car park {} of '{}' is not a details reply: {}\n", argv[0], i + 1, *carParkFile,
                   error.localizedDescription);
        return 1;
      }
      if (decoded->result != "Success" || decoded->carParkId == 0 || decoded->lanes.empty()) {
        fmt::print(stderr, "{}: car park {} of '{}' needs \"result\":\"Success\", a carParkId and lanes\n", argv[0],
                   i + 1, *carParkFile);
        return 1;
      }
      carParks.push_back(std::move(*decoded));
    }
  } else {
    carParks.push_back(CarParkDrive::carPark());
  }
  std::set<std::string> uuids;
  for (const auto& c : carParks) {
    for (const auto& lane : c.lanes) {
      for (const auto& b : lane.laneBeacons) uuids.insert(uuidOf(b.beaconId));
    }
  }

  velmora::testing::LaneStackWorld stack;
  const auto now = [&stack] { return stack.now(); };
  Story story(events, now);

  std::unique_ptr<velmora::testing::ParkingServiceFake> fake;
  if (!server) {
    fake = std::make_unique<velmora::testing::ParkingServiceFake>();
    for (const auto& c : carParks) {
      if (!fake->addCarPark(*encodeRecordJSON(c))) {
        fmt::print(stderr, "{}: car park {} could not be served\n", argv[0], c.carParkId);
        return 1;
      }
    }
    server = fake->baseUrl();
  }
  VelmoraSDKConfig::setServerName(*server);
  VelmoraSDKConfig::setAppId("carpark-drive");
  VelmoraSDKConfig::setClientSecret("demo-secret");
  VelmoraSDKConfig::setAppName("Car-park drive");
  VelmoraSDKConfig::setAppPackageName("com.example.carparkdrive");
  VelmoraSDKConfig::setAppVersion("1.0");
  VelmoraSDKConfig::setAppBuild("1");
  VelmoraSDKConfig::setDeviceModel("Linux");
  VelmoraSDKConfig::setDevicePlatform("Linux");
  if (fake) {
    VelmoraSDKConfig::setUser(velmora::testing::ParkingServiceFake::kUserId,
                              std::string(velmora::testing::ParkingServiceFake::kUserToken));
  } else {
    if (!user || !password) return usageError(argv[0], "--server needs --user and --password");
    const LoginResult login = UserAPI::login(*user, *password);
    story.call("/v4.0/user/login", login.result, {}, *user, login.message);
    if (login.result != "Success") return 1;
    VelmoraSDKConfig::setUser(login.userId, login.authenticationToken);
  }

  if (!events) {
    fmt::print("Parking service: {}{}\n", *server, fake ? " (built-in fake)" : "");
    fmt::print("Drive: {} ({} frames over {:.1f} s)\n\n",
               traceFile ? fmt::format("trace {}", *traceFile) : fmt::format("seed {}", driveOptions.seed),
               frameCount, duration);
  }
  for (const auto& uuid : uuids) stack.monitorProximityUUID(uuid);

  auto delegate = std::make_shared<StoryDelegate>(story, now);
  auto service = BeaconService::create(nullptr, std::make_shared<StoryLookups>(story));
  service->setDelegate(delegate);
  service->initService();
  service->startService([](const BeaconServiceResult&) {});
  stack.world.runUntilIdle();
  stack.world.radio->play(trace);

  // The host: once a second it looks at the closest lane and reports a gate when its rule says.
  bool inCarPark = false;
  std::optional<std::int64_t> enteredAt, exitedAt;
  const double end = duration + 5;
  for (double t = 1; t <= end; t += 1) {
    stack.at(t);
    auto lane = service->getClosestLane();
    if (!lane || stack.now() - delegate->closestSince() < kGateHoldSeconds) continue;
    if (lane->rssi() < lane->getMinRSSI()) continue;
    const auto type = lane->laneType();
    const auto id = lane->laneId();
    if (!id || !type || *type != (inCarPark ? 2 : 1)) continue;
    if (inCarPark) {
      const ExitResult r = CarParkAPI::exit(*id, *id);
      story.call(CarParkAPI::kExitPath, r.result, {{"laneId", platform::Value(*id)}}, fmt::format("lane {}", *id),
                 r.message);
      if (r.result != "Success") continue;
      exitedAt = *id;
    } else {
      const EnterResult r = CarParkAPI::enter(*id, *id);
      story.call(CarParkAPI::kEnterPath, r.result, {{"laneId", platform::Value(*id)}}, fmt::format("lane {}", *id),
                 r.message);
      if (r.result != "Success") continue;
      enteredAt = *id;
    }
    const StatusResult status = UserAPI::status();
    story.call(kStatusPath, status.result, StoryLookups::statusIds(status), "", StoryLookups::statusText(status));
    inCarPark = status.result == "Success" ? status.inCarPark : !inCarPark;
    if (status.result == "Success") service->setUserStatus(status);
    stack.world.runUntilIdle();
  }
  service->stopService([](const BeaconServiceResult&) {});
  stack.world.runUntilIdle();

  if (!events) {
    fmt::print("\nSummary\n");
    fmt::print("  entered through lane   {}\n", enteredAt ? std::to_string(*enteredAt) : "-");
    fmt::print("  left through lane      {}\n", exitedAt ? std::to_string(*exitedAt) : "-");
    fmt::print("  car-park changes       {}\n", story.carParkChanges);
    fmt::print("  closest-lane changes   {}\n", story.closestChanges);
    fmt::print("  resets                 {}\n", story.resets);
    for (const auto& [path, n] : story.calls) fmt::print("  calls {:<22} {}\n", path, n);
    fmt::print("  failed calls           {}\n", story.failedCalls);
  }
  service.reset();
  stack.world.runUntilIdle();
  return 0;
}
