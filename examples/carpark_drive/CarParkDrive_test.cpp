// The car-park drive demo as its users run it, and the drive generator it plays.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "examples/carpark_drive/DriveProgram.h"
#include "parking/service/RecordCodec.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "testing/ConfigReset.h"
#include "platform/sim/SimTrace.h"
#include "testing/CarParkDrive.h"
#include "testing/TempDir.h"

namespace {

using velmora::testing::CarParkDrive;
using velmora::testing::DriveNoise;

struct DemoRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::size_t at = 0;
    while (at < out.size()) {
      auto end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      result.push_back(out.substr(at, end - at));
      at = end + 1;
    }
    return result;
  }
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the program as a user would, standard error kept apart. An abort or a signal gives
// exit code -1.
DemoRun run(const std::string& arguments) {
  velmora::testing::TempDir dir;
  const std::string errFile = (dir.path() / "stderr").string();
  const std::string command = std::string(CARPARK_DRIVE_BINARY) + " " + arguments + " 2>" + errFile;
  DemoRun r;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = slurp(errFile);
  return r;
}

// The events of a --events run, each parsed.
std::vector<velmora::platform::Value> events(const DemoRun& r) {
  std::vector<velmora::platform::Value> out;
  for (const auto& line : r.lines()) {
    auto v = velmora::platform::json::parse(line);
    EXPECT_TRUE(v && v->dict()) << line;
    if (v) out.push_back(*v);
  }
  return out;
}

std::string eventName(const velmora::platform::Value& e) { return e["event"].string() ? *e["event"].string() : ""; }

TEST(CarParkDriveDemo, TheDefaultDriveEntersAndLeavesThroughTheDriveLanes) {
  const DemoRun r = run("");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("car park      Harbour (7)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("call          /v4.0/carpark/enter lane 102 -> Success"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("call          /v4.0/carpark/exit lane 202 -> Success"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("entered through lane   102"), std::string::npos);
  EXPECT_NE(r.out.find("left through lane      202"), std::string::npos);
  // The shop's beacon is looked up and not found: the service's answer, not a failed call.
  EXPECT_NE(r.out.find(CarParkDrive::strayBeaconId() + " -> Failure: Http Status failed: 404"), std::string::npos);
  EXPECT_EQ(r.out.find("  beacons of no car park 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  beacons of no car park "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  failed calls           0\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(CarParkDriveDemo, ADriveWithoutBothGatesSaysSoAndFails) {
  // A trace of the approach alone: the car reaches the entry barrier and the recording stops.
  velmora::testing::TempDir dir;
  const std::string all = slurp(CARPARK_DRIVE_TESTDATA "/drive-seed7.trace");
  std::string approach;
  for (std::size_t at = 0; at < all.size();) {
    const auto end = all.find('\n', at);
    const std::string line = all.substr(at, end - at);
    at = end == std::string::npos ? all.size() : end + 1;
    if (!line.starts_with("#") && std::stod(line) > 30.0) break;
    approach += line + "\n";
  }
  const std::string entryOnly = (dir.path() / "entry-only.trace").string();
  std::ofstream(entryOnly) << approach;
  const DemoRun r = run("--trace " + entryOnly);
  EXPECT_EQ(r.exitCode, carparkdrive::kExitGateMissing) << r.out << r.err;
  EXPECT_NE(r.out.find("entered through lane   102"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("left through lane      no exit seen"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("no exit seen"), std::string::npos) << r.err;

  // Nothing heard at all: neither gate.
  const std::string empty = (dir.path() / "empty.trace").string();
  std::ofstream(empty) << "# nothing heard\n";
  const DemoRun silent = run("--trace " + empty);
  EXPECT_EQ(silent.exitCode, carparkdrive::kExitGateMissing);
  EXPECT_NE(silent.out.find("entered through lane   no entry seen"), std::string::npos) << silent.out;
}

TEST(CarParkDriveDemo, EventsTellTheSameStoryInOrderAndTheRecordedTraceGivesTheSameDecisions) {
  const DemoRun generated = run("--events");
  ASSERT_EQ(generated.exitCode, 0);
  const auto story = events(generated);
  ASSERT_FALSE(story.empty());

  double last = 0;
  std::vector<std::string> gates;
  std::optional<std::int64_t> closestAtEnter;
  std::optional<std::int64_t> closest;
  for (const auto& e : story) {
    const double t = e["t"].toDouble().value_or(-1);
    EXPECT_GE(t, last) << velmora::platform::json::write(e).value_or("");
    last = t;
    const std::string name = eventName(e);
    EXPECT_TRUE(name == "carPark" || name == "closestLane" || name == "lanes" || name == "reset" || name == "call")
        << name;
    if (name == "closestLane") closest = e["laneId"].toInt64();
    if (name == "reset") closest.reset();
    if (name == "call") {
      ASSERT_TRUE(e["path"].string() && e["result"].string());
      const std::string path = *e["path"].string();
      if (path == "/v4.0/carpark/enter" || path == "/v4.0/carpark/exit") {
        gates.push_back(path.substr(path.rfind('/') + 1) + " " + std::to_string(e["laneId"].toInt64().value_or(0)));
        if (path.ends_with("enter")) closestAtEnter = closest;
      }
    }
  }
  EXPECT_EQ(gates, (std::vector<std::string>{"enter 102", "exit 202"}));
  // The host reports the gate of the lane lane detection holds as closest.
  EXPECT_EQ(closestAtEnter, 102);

  const DemoRun replayed = run(std::string("--events --trace ") + CARPARK_DRIVE_TESTDATA + "/drive-seed7.trace");
  ASSERT_EQ(replayed.exitCode, 0);
  EXPECT_EQ(replayed.out, generated.out);
}

TEST(CarParkDriveDemo, CarParksFromAFileAreServedByTheirLaneBeacons) {
  velmora::testing::TempDir dir;
  auto quay = CarParkDrive::carPark();
  quay.carParkId = 12;
  quay.carParkName = "Quay";
  const std::string path = (dir.path() / "carparks.json").string();
  std::ofstream(path) << "[" << *velmora::encodeRecordJSON(quay) << "]";

  const auto story = events(run("--events --carpark " + path));
  std::vector<std::string> carParks;
  for (const auto& e : story) {
    if (eventName(e) == "carPark") carParks.push_back(*e["name"].string() + " " + std::to_string(*e["carParkId"].toInt64()));
  }
  EXPECT_EQ(carParks, std::vector<std::string>{"Quay 12"});

  std::ofstream(path) << R"([{"result":"Success"}])";
  EXPECT_EQ(run("--carpark " + path).exitCode, 1);
}

TEST(CarParkDriveDemo, Help) {
  const DemoRun help = run("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find(CarParkDrive::kProximityUUID), std::string::npos);
  EXPECT_NE(help.out.find("reports enter"), std::string::npos);
}

// Every bad input ends the run with exit status 1 and one line on standard error that names
// what is wrong; nothing aborts.
TEST(CarParkDriveDemo, EveryBadInputGetsOneLineAndStatusOne) {
  velmora::testing::TempDir dir;
  const std::string d = dir.path().string();
  const auto file = [&](const std::string& name, const std::string& text) {
    const std::string path = d + "/" + name;
    std::ofstream(path) << text;
    return path;
  };
  const std::string badTrace = file("bad.trace", "0.0 adv beacon 300 mfr=4C00\n");
  const std::string notJson = file("not.json", "[{\"result\":");
  const std::string notArray = file("object.json", R"({"result":"Success"})");
  const std::string noLanes = file("nolanes.json", R"([{"result":"Success"}])");
  const std::string unreadable = file("unreadable.trace", "0.0 adv beacon -60 mfr=4C00\n");
  ::chmod(unreadable.c_str(), 0);
  const bool root = ::geteuid() == 0;  // root reads a file of mode 0 all the same

  struct Case {
    std::string arguments;
    std::string says;  // a piece of the one line
  };
  std::vector<Case> cases = {
      {"--bogus", "unknown option '--bogus'"},
      {"extra", "unknown option 'extra'"},
      {"--seed", "'--seed' needs a value"},
      {"--trace", "'--trace' needs a value"},
      {"--seed twelve", "--seed needs a whole number"},
      {"--seed -1", "--seed needs a whole number"},
      {"--seed 99999999999999999999999", "--seed needs a whole number"},
      {"--seed ''", "needs a value"},
      {"--trace /nonexistent/trace", "cannot read the trace '/nonexistent/trace'"},
      {"--trace " + d, "cannot read the trace '" + d + "': Is a directory"},
      {"--trace " + badTrace, badTrace},
      {"--carpark /nonexistent/carparks.json", "cannot read the car parks"},
      {"--carpark " + d, "cannot read the car parks '" + d + "': Is a directory"},
      {"--carpark " + notJson, "is not JSON"},
      {"--carpark " + notArray, "is not a JSON array of car parks"},
      {"--carpark " + noLanes, "needs \"result\":\"Success\", a carParkId and lanes"},
      {"--write-trace " + d, "cannot write the trace '" + d + "'"},
      {"--trace " + badTrace + " --write-trace " + d + "/out.trace", "do not go together"},
      {"--server http://127.0.0.1:9", "--server needs --user and --password"},
  };
  if (!root) cases.push_back({"--trace " + unreadable, "Permission denied"});
  for (const auto& c : cases) {
    const DemoRun r = run(c.arguments);
    EXPECT_EQ(r.exitCode, carparkdrive::kExitBadInput) << c.arguments << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.arguments << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.arguments << "\n" << r.err;
  }
}

// The host's gate rule over many drives of varied geometry: lanes 3 to 6 m apart, 2 to 5 dB
// of shadowing, 10 to 40 % of frames lost, the car coming up the lane or along the road from
// either side, past the neighbouring lanes. No drive may be reported at a wrong lane; a drive
// whose neighbouring lanes the signal cannot tell apart ends with "no entry seen" or "no exit
// seen" instead. The target is 995 drives in 1000 right at both gates; the rule now decides
// about 975 (the rest are lanes 3 to 4 m apart whose signals stay within a decibel or two
// of each other for the whole wait at the barrier), and the bar below holds that level.
TEST(CarParkDriveGateRule, SeededDrivesOfVariedGeometryAreNeverReportedAtAWrongLane) {
  velmora::testing::ConfigReset config;
  const auto quiet = velmora::platform::Log::setSink([](auto, auto, auto) {});
  velmora::VelmoraSDKConfig::setBeaconLogLevel(velmora::BeaconLogLevel::none);
  std::FILE* devNull = std::fopen("/dev/null", "w");
  ASSERT_NE(devNull, nullptr);

  constexpr int kDrives = CARPARK_SWEEP_DRIVES;
  int right = 0;
  int wrongLane = 0;
  std::vector<std::string> wrong;
  for (int i = 0; i < kDrives; ++i) {
    DriveNoise pick(10'000 + static_cast<std::uint64_t>(i));
    carparkdrive::DriveArgs args;
    args.drive.seed = 1 + static_cast<std::uint64_t>(i);
    args.drive.laneSpacing = 3.0 + 3.0 * pick.uniform();
    args.drive.shadowingDb = 2.0 + 3.0 * pick.uniform();
    args.drive.lossRate = 0.1 + 0.3 * pick.uniform();
    args.drive.approachSide = i % 3 - 1;
    const auto outcome = carparkdrive::runDrive(args, devNull, "sweep");
    if (outcome.enteredAt == CarParkDrive::kEntryLane && outcome.exitedAt == CarParkDrive::kExitLane) {
      ++right;
    } else {
      if (outcome.enteredAt.value_or(CarParkDrive::kEntryLane) != CarParkDrive::kEntryLane ||
          outcome.exitedAt.value_or(CarParkDrive::kExitLane) != CarParkDrive::kExitLane) {
        ++wrongLane;
      }
      wrong.push_back(fmt::format("seed {} spacing {:.2f} m sigma {:.2f} dB loss {:.0f} % side {}: entry {} exit {}",
                                  args.drive.seed, args.drive.laneSpacing, args.drive.shadowingDb,
                                  100 * args.drive.lossRate, args.drive.approachSide,
                                  outcome.enteredAt ? std::to_string(*outcome.enteredAt) : "none",
                                  outcome.exitedAt ? std::to_string(*outcome.exitedAt) : "none"));
    }
  }
  std::fclose(devNull);
  velmora::platform::Log::setSink(quiet);
  EXPECT_EQ(wrongLane, 0) << fmt::format("{}", fmt::join(wrong, "\n"));
  EXPECT_GE(right * 1000, kDrives * 970) << right << " of " << kDrives << " right; not right:\n"
                                         << fmt::format("{}", fmt::join(wrong, "\n"));
}

TEST(CarParkDriveGenerator, OneSeedOneDrive) {
  const CarParkDrive a({.seed = 7}), b({.seed = 7}), c({.seed = 8});
  EXPECT_EQ(a.traceText(), b.traceText());
  EXPECT_NE(a.traceText(), c.traceText());
  ASSERT_TRUE(velmora::platform::sim::SimTrace::parse(a.traceText()));

  // About a fifth of the frames in range is lost, and some more in drop-outs: the two
  // beacons of lane 102 send 10 frames a second each while the car waits at its barrier.
  int heardAtBarrier = 0;
  for (const auto& f : a.frames()) {
    EXPECT_LE(f.rssi, -1);
    EXPECT_GE(f.rssi, -90);
    if (f.t >= 13.0 && f.t < 18.5 && f.peripheral.starts_with("lane102")) ++heardAtBarrier;
  }
  EXPECT_GT(heardAtBarrier, 60);  // of 110 sent
  EXPECT_LT(heardAtBarrier, 100);
}

TEST(CarParkDriveGenerator, NoiseIsOurOwnTransformOfTheStandardEngine) {
  // mt19937_64's output is fixed by the standard; so then are these numbers.
  DriveNoise pinned(7);
  std::mt19937_64 engine(7);
  EXPECT_EQ(pinned.uniform(), static_cast<double>(engine() >> 11) * 0x1.0p-53);

  DriveNoise noise(42);
  double sum = 0, squares = 0;
  constexpr int kN = 200000;
  for (int i = 0; i < kN; ++i) {
    const double x = noise.normal();
    sum += x;
    squares += x * x;
  }
  EXPECT_NEAR(sum / kN, 0.0, 0.01);
  EXPECT_NEAR(std::sqrt(squares / kN), 1.0, 0.01);
}

}  // namespace
