#include "examples/carpark_drive/DriveProgram.h"

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
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
#include "examples/carpark_drive/GateRule.h"

using namespace velmora;
using velmora::testing::CarParkDrive;

namespace carparkdrive {

namespace {

constexpr std::string_view kStatusPath = "/v4.0/user/status";
constexpr std::string_view kDefaultRegionUUID = "61687109-905F-4436-91F8-E602F514C96D";

}  // namespace

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
             "The host reports enter at an entry lane (type 1) while the user is out of any car park,\n"
             "and exit at an exit lane (type 2) while the user is in one, once that lane has plainly\n"
             "been the strongest: its beacons heard within the last {} s, the mean of its signal over\n"
             "the last {} s at or above the lane's minimum RSSI and {} dB above every other lane heard,\n"
             "at the lane's minimum detection seconds (at least {} s) plus one of its once-a-second\n"
             "looks, with at most {} looks between at which it did not lead. After each gate it asks\n"
             "the user's status and hands it to lane detection.\n"
             "\n"
             "Exit status: 0 when the drive was entered and left; 1 for a bad argument or input file;\n"
             "3 when the drive ended with no entry or no exit seen.\n"
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
             self, CarParkDrive::kProximityUUID, kDefaultRegionUUID, GateRule::kSilentAfterSeconds,
             GateRule::kWindowSeconds, GateRule::kMarginDb, GateRule::kMinHoldSeconds, GateRule::kBreaksAllowed);
}

namespace {

// The whole file, or nothing with *why saying what stood in the way (a directory, a missing
// file, a read error).
std::optional<std::string> readFile(const std::string& path, std::string* why) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *why = std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  const int readErrno = errno;
  std::fclose(f);
  if (failed) {
    *why = std::strerror(readErrno);
    return std::nullopt;
  }
  return text;
}

bool isExpectedMiss(std::string_view path, const std::string& result, const std::string& answer) {
  // A beacon that belongs to no car park (a shop's, a neighbour's) is looked up like any
  // other, and the service answers 404: that is the answer, not a fault.
  return path == CarParkAPI::kDetailPath && result != "Success" && answer == "Http Status failed: 404";
}

std::string laneName(const std::shared_ptr<LaneModel>& lane) {
  if (!lane) return "none";
  auto id = lane->laneId();
  return id ? std::to_string(*id) : "?";
}

// Prints the story, as text or as JSON lines, and keeps the figures of the summary.
class Story {
 public:
  Story(std::FILE* out, bool json, std::function<double()> clock) : out_(out), json_(json), clock_(std::move(clock)) {}

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
    if (isExpectedMiss(path, result, answer)) {
      ++beaconsOfNoCarPark;
    } else if (result != "Success") {
      ++failedCalls;
    }
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
  int beaconsOfNoCarPark = 0;
  std::map<std::string, int> calls;

 private:
  void say(const std::string& line) { fmt::print(out_, "[{:7.1f} s] {}\n", clock_(), line); }
  void emit(std::string_view event, platform::Dict fields) {
    fields.insert_or_assign("t", platform::Value(std::round(clock_() * 1000.0) / 1000.0));
    fields.insert_or_assign("event", platform::Value(std::string(event)));
    auto line = platform::json::write(platform::Value(std::move(fields)));
    fmt::print(out_, "{}\n", line ? *line : "{}");
  }
  std::FILE* out_;
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
    beacons_ = beacons;
    if (!beacons.empty()) return;
    // Only a reset reports an empty beacon list; its lanes, lane beacons and closest lane follow.
    story_.reset();
    ++resets_;
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
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    lanes_ = lanes;
    (void)swallowed();
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    if (swallowed()) return;
    setClosest(lane, true);
  }

  // The lanes of interest with their signal, and the beacon snapshots, as last reported.
  const std::vector<std::shared_ptr<LaneModel>>& lanes() const { return lanes_; }
  const std::vector<std::shared_ptr<BeaconModel>>& beacons() const { return beacons_; }
  int resets() const { return resets_; }

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
    if (tell) story_.closestLane(lane);
  }

  Story& story_;
  std::function<double()> clock_;
  std::string name_;
  int swallow_ = 0;
  std::vector<std::int64_t> lastLanes_;
  std::shared_ptr<LaneModel> closest_;
  std::vector<std::shared_ptr<LaneModel>> lanes_;
  std::vector<std::shared_ptr<BeaconModel>> beacons_;
  int resets_ = 0;
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

std::optional<DriveArgs> parseArgs(const std::vector<std::string>& argv, std::string* error) {
  DriveArgs args;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      args.help = true;
      return args;
    }
    if (option == "--events") {
      args.events = true;
      continue;
    }
    const bool known = option == "--seed" || option == "--trace" || option == "--write-trace" ||
                       option == "--carpark" || option == "--server" || option == "--user" || option == "--password";
    if (!known) {
      *error = fmt::format("unknown option '{}' (--help lists them)", option);
      return std::nullopt;
    }
    if (i + 1 >= argv.size()) {
      *error = fmt::format("option '{}' needs a value", option);
      return std::nullopt;
    }
    const std::string& value = argv[++i];
    if (value.empty()) {
      *error = fmt::format("option '{}' needs a value, not an empty one", option);
      return std::nullopt;
    }
    if (option == "--seed") {
      std::uint64_t seed = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
      if (ec != std::errc() || end != value.data() + value.size()) {
        *error = fmt::format("--seed needs a whole number from 0 to {}, not '{}'", UINT64_MAX, value);
        return std::nullopt;
      }
      args.drive.seed = seed;
    } else if (option == "--trace") {
      args.traceFile = value;
    } else if (option == "--write-trace") {
      args.writeTraceFile = value;
    } else if (option == "--carpark") {
      args.carParkFile = value;
    } else if (option == "--server") {
      args.server = value;
    } else if (option == "--user") {
      args.user = value;
    } else {
      args.password = value;
    }
  }
  if (args.traceFile && args.writeTraceFile) {
    *error = "--trace and --write-trace do not go together";
    return std::nullopt;
  }
  if (args.server && (!args.user || !args.password)) {
    *error = "--server needs --user and --password";
    return std::nullopt;
  }
  return args;
}

DriveOutcome runDrive(const DriveArgs& args, std::FILE* out, const char* self) {
  DriveOutcome outcome;
  const auto badInput = [&](const std::string& line) {
    fmt::print(stderr, "{}: {}\n", self, line);
    outcome.exitStatus = kExitBadInput;
    return outcome;
  };
  const bool events = args.events;
  std::optional<std::string> server = args.server;

  // What is played: a recorded trace, or the seeded drive.
  platform::sim::SimTrace trace;
  double duration = 0;
  std::size_t frameCount = 0;
  if (args.traceFile) {
    std::string why;
    auto text = readFile(*args.traceFile, &why);
    if (!text) return badInput(fmt::format("cannot read the trace '{}': {}", *args.traceFile, why));
    platform::sim::TraceError error;
    auto parsed = platform::sim::SimTrace::parse(*text, &error);
    if (!parsed) return badInput(fmt::format("{}: {}", *args.traceFile, error.describe()));
    trace = std::move(*parsed);
    frameCount = trace.events().size();
    duration = trace.events().empty() ? 0 : static_cast<double>(trace.events().back().atMicros) / 1e6;
  } else {
    CarParkDrive drive(args.drive);
    const std::string text = drive.traceText();
    if (args.writeTraceFile) {
      std::FILE* f = std::fopen(args.writeTraceFile->c_str(), "wb");
      const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
      const int writeErrno = errno;
      const bool closed = f && std::fclose(f) == 0;
      if (!written || !closed) {
        return badInput(fmt::format("cannot write the trace '{}': {}", *args.writeTraceFile, std::strerror(writeErrno)));
      }
    }
    trace = *platform::sim::SimTrace::parse(text);
    frameCount = drive.frames().size();
    duration = drive.durationSeconds();
  }

  // The car parks the fake serves, and the proximity UUIDs of their lane beacons.
  std::vector<DetailsResult> carParks;
  if (args.carParkFile) {
    const std::string& file = *args.carParkFile;
    std::string why;
    auto text = readFile(file, &why);
    if (!text) return badInput(fmt::format("cannot read the car parks '{}': {}", file, why));
    platform::Error error;
    auto value = platform::json::parse(*text, &error);
    if (!value) return badInput(fmt::format("'{}' is not JSON: {}", file, error.localizedDescription));
    const platform::Array* list = value->array();
    if (!list) return badInput(fmt::format("'{}' is not a JSON array of car parks", file));
    for (std::size_t i = 0; i < list->size(); ++i) {
      auto body = platform::json::write((*list)[i]);
      auto decoded = body ? decodeRecordJSON<DetailsResult>(*body, &error) : std::nullopt;
      if (!decoded) {
        return badInput(
            fmt::format("car park {} of '{}' is not a details reply: {}", i + 1, file, error.localizedDescription));
      }
      if (decoded->result != "Success" || decoded->carParkId == 0 || decoded->lanes.empty()) {
        return badInput(fmt::format("car park {} of '{}' needs \"result\":\"Success\", a carParkId and lanes", i + 1, file));
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
  Story story(out, events, now);

  std::unique_ptr<velmora::testing::ParkingServiceFake> fake;
  if (!server) {
    fake = std::make_unique<velmora::testing::ParkingServiceFake>();
    for (const auto& c : carParks) {
      if (!fake->addCarPark(*encodeRecordJSON(c))) return badInput(fmt::format("car park {} could not be served", c.carParkId));
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
    const LoginResult login = UserAPI::login(*args.user, *args.password);
    story.call("/v4.0/user/login", login.result, {}, *args.user, login.message);
    if (login.result != "Success") {
      fmt::print(stderr, "{}: cannot sign in at {}: {}\n", self, *server, login.message);
      outcome.exitStatus = kExitBadInput;
      return outcome;
    }
    VelmoraSDKConfig::setUser(login.userId, login.authenticationToken);
  }

  if (!events) {
    fmt::print(out, "Parking service: {}{}\n", *server, fake ? " (built-in fake)" : "");
    fmt::print(out, "Drive: {} ({} frames over {:.1f} s)\n\n",
               args.traceFile ? fmt::format("trace {}", *args.traceFile) : fmt::format("seed {}", args.drive.seed),
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

  // The host: once a second it hands the gate rule what lane detection holds, and reports a
  // gate when the rule says.
  GateRule gate;
  const double clockOrigin = stack.world.scheduler->clock()->now().timeIntervalSinceReferenceDate() - stack.now();
  gate.setClock([clockOrigin](platform::Date d) { return d.timeIntervalSinceReferenceDate() - clockOrigin; });
  bool inCarPark = false;
  int resetsSeen = 0;
  const double end = duration + 5;
  for (double t = 1; t <= end; t += 1) {
    stack.at(t);
    if (delegate->resets() != resetsSeen) {
      resetsSeen = delegate->resets();
      gate.forget();
    }
    gate.setLanes(delegate->lanes());
    gate.setBeacons(delegate->beacons());
    auto lane = gate.look(stack.now(), inCarPark ? 2 : 1);
    if (!lane) continue;
    const auto id = lane->laneId();
    if (!id) continue;
    if (inCarPark) {
      const ExitResult r = CarParkAPI::exit(*id, *id);
      story.call(CarParkAPI::kExitPath, r.result, {{"laneId", platform::Value(*id)}}, fmt::format("lane {}", *id),
                 r.message);
      if (r.result != "Success") continue;
      outcome.exitedAt = *id;
    } else {
      const EnterResult r = CarParkAPI::enter(*id, *id);
      story.call(CarParkAPI::kEnterPath, r.result, {{"laneId", platform::Value(*id)}}, fmt::format("lane {}", *id),
                 r.message);
      if (r.result != "Success") continue;
      outcome.enteredAt = *id;
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
    fmt::print(out, "\nSummary\n");
    fmt::print(out, "  entered through lane   {}\n", outcome.enteredAt ? std::to_string(*outcome.enteredAt) : "no entry seen");
    fmt::print(out, "  left through lane      {}\n", outcome.exitedAt ? std::to_string(*outcome.exitedAt) : "no exit seen");
    fmt::print(out, "  car-park changes       {}\n", story.carParkChanges);
    fmt::print(out, "  closest-lane changes   {}\n", story.closestChanges);
    fmt::print(out, "  resets                 {}\n", story.resets);
    for (const auto& [path, n] : story.calls) fmt::print(out, "  calls {:<22} {}\n", path, n);
    fmt::print(out, "  beacons of no car park {}\n", story.beaconsOfNoCarPark);
    fmt::print(out, "  failed calls           {}\n", story.failedCalls);
  }
  service.reset();
  stack.world.runUntilIdle();
  if (!outcome.enteredAt || !outcome.exitedAt) {
    fmt::print(stderr, "{}: the drive ended with {}\n", self,
               !outcome.enteredAt && !outcome.exitedAt ? "no entry and no exit seen"
               : !outcome.enteredAt                    ? "no entry seen"
                                                       : "no exit seen");
    outcome.exitStatus = kExitGateMissing;
  }
  return outcome;
}

}  // namespace carparkdrive
