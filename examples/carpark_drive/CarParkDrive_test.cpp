// The car-park drive demo as its users run it, and the drive generator it plays.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "parking/service/RecordCodec.h"
#include "platform/core/Json.h"
#include "platform/sim/SimTrace.h"
#include "testing/CarParkDrive.h"
#include "testing/TempDir.h"

namespace {

using velmora::testing::CarParkDrive;
using velmora::testing::DriveNoise;

struct DemoRun {
  int exitCode = -1;
  std::string out;
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

DemoRun run(const std::string& arguments) {
  const std::string command = std::string(CARPARK_DRIVE_BINARY) + " " + arguments + " 2>/dev/null";
  DemoRun r;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
  // The shop's beacon is looked up and not found; nothing else fails.
  EXPECT_NE(r.out.find(CarParkDrive::strayBeaconId() + " -> Failure: Http Status failed: 404"), std::string::npos);
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

TEST(CarParkDriveDemo, HelpUsageErrorsAndBadInput) {
  const DemoRun help = run("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find(CarParkDrive::kProximityUUID), std::string::npos);
  EXPECT_NE(help.out.find("reports enter"), std::string::npos);
  EXPECT_EQ(run("--bogus").exitCode, 2);
  EXPECT_EQ(run("--seed").exitCode, 2);
  EXPECT_EQ(run("--seed twelve").exitCode, 2);
  EXPECT_EQ(run("--trace /nonexistent/trace").exitCode, 1);

  velmora::testing::TempDir dir;
  const std::string bad = (dir.path() / "bad.trace").string();
  std::ofstream(bad) << "0.0 adv beacon 300 mfr=4C00\n";
  EXPECT_EQ(run("--trace " + bad).exitCode, 1);
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
