#include "testing/CarParkDrive.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "testing/LaneStackWorld.h"

namespace velmora::testing {

double DriveNoise::uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

double DriveNoise::normal() {
  if (haveSpare_) {
    haveSpare_ = false;
    return spare_;
  }
  // 1 - uniform() lies in (0, 1], so the logarithm is finite.
  const double r = std::sqrt(-2.0 * std::log(1.0 - uniform()));
  const double angle = 2.0 * std::numbers::pi * uniform();
  spare_ = r * std::sin(angle);
  haveSpare_ = true;
  return r * std::cos(angle);
}

namespace {

struct Point {
  double x = 0;
  double y = 0;
};

struct Beacon {
  std::string token;
  int major = 0;
  int minor = 0;
  Point at;
  double height = 0;
};

struct LanePlace {
  std::int64_t laneId;
  std::int64_t laneType;
  std::int64_t group;
  std::int64_t sortOrder;
  int slot;  // the lane's place in its row of barriers
};

// Entry lanes side by side; the exit lanes 80 m further along the same barrier line, out of
// each other's range.
const LanePlace kLanes[] = {
    {101, 1, 1, 1, 0}, {102, 1, 1, 2, 1}, {103, 1, 1, 3, 2}, {201, 2, 2, 1, 0}, {202, 2, 2, 2, 1},
};
constexpr double kExitRowX = 80.0;

// The lane's axis; its barrier is the line y = 0.
double laneX(const LanePlace& lane, double spacing) {
  return (lane.laneType == 2 ? kExitRowX : 0.0) + spacing * lane.slot;
}
constexpr double kGantryHeight = 2.5;
constexpr double kSpeed = 3.0;       // m/s
constexpr double kWaitSeconds = 6.0;  // at each barrier
constexpr double kWaitGap = 1.5;      // how far before the barrier the car waits

std::vector<Beacon> beacons(double spacing) {
  std::vector<Beacon> out;
  for (const auto& lane : kLanes) {
    for (int k = 1; k <= 2; ++k) {
      const int minor = static_cast<int>(lane.laneId) * 10 + k;
      out.push_back({fmt::format("lane{}-{}", lane.laneId, k == 1 ? 'a' : 'b'), CarParkDrive::kMajor, minor,
                     {laneX(lane, spacing) + (k == 1 ? -0.5 : 0.5), 0.0}, kGantryHeight});
    }
  }
  out.push_back({"shop", CarParkDrive::kStrayMajor, 1, {-8.0, -15.0}, 2.0});
  return out;
}

// The car's path: waypoints with the times it is there, straight lines between them.
struct Waypoint {
  double t;
  Point at;
};

// How far in front of a row of barriers the road runs that a car approaching from the side
// takes, and how far beyond the row's outer lanes it comes from.
constexpr double kRoadGap = 8.0;
constexpr double kRoadReach = 30.0;

std::vector<Waypoint> path(const CarParkDrive::Options& options) {
  const double spacing = options.laneSpacing;
  const double entryX = laneX(kLanes[1], spacing), exitX = laneX(kLanes[4], spacing);
  const int side = options.approachSide < 0 ? -1 : (options.approachSide > 0 ? 1 : 0);
  std::vector<Waypoint> out;
  auto go = [&](Point to) {
    const Waypoint& last = out.back();
    const double d = std::hypot(to.x - last.at.x, to.y - last.at.y);
    out.push_back({last.t + d / kSpeed, to});
  };
  auto stay = [&](double seconds) { out.push_back({out.back().t + seconds, out.back().at}); };
  if (side == 0) {
    out.push_back({0.0, {entryX, -40.0}});
  } else {
    // Along the road in front of the entry row, past the lanes on that side.
    const double from = side < 0 ? laneX(kLanes[0], spacing) - kRoadReach : laneX(kLanes[2], spacing) + kRoadReach;
    out.push_back({0.0, {from, -kRoadGap}});
    go({entryX, -kRoadGap});
  }
  go({entryX, -kWaitGap});
  stay(kWaitSeconds);
  go({40.0, 75.0});  // the bay, out of every beacon's range
  stay(options.parkedSeconds);
  if (side == 0) {
    go({exitX, 30.0});
  } else {
    const double from = side < 0 ? laneX(kLanes[3], spacing) - kRoadReach : laneX(kLanes[4], spacing) + kRoadReach;
    go({from, kRoadGap});
    go({exitX, kRoadGap});
  }
  go({exitX, kWaitGap});
  stay(kWaitSeconds);
  go({exitX, -40.0});
  return out;
}

Point positionAt(const std::vector<Waypoint>& route, double t) {
  if (t <= route.front().t) return route.front().at;
  for (std::size_t i = 1; i < route.size(); ++i) {
    if (t <= route[i].t) {
      const auto& a = route[i - 1];
      const auto& b = route[i];
      const double span = b.t - a.t;
      const double f = span > 0 ? (t - a.t) / span : 1.0;
      return {a.at.x + f * (b.at.x - a.at.x), a.at.y + f * (b.at.y - a.at.y)};
    }
  }
  return route.back().at;
}

}  // namespace

CarParkDrive::CarParkDrive(Options options) : options_(options) {
  const auto route = path(options_);
  duration_ = route.back().t;
  const auto all = beacons(options_.laneSpacing);
  DriveNoise noise(options_.seed);
  const auto periodMs = static_cast<std::int64_t>(std::llround(1000.0 / options_.framesPerSecond));
  const auto endMs = static_cast<std::int64_t>(std::ceil(duration_ * 1000.0));
  for (std::size_t b = 0; b < all.size(); ++b) {
    const Beacon& beacon = all[b];
    // Beacons are not in step: each sends at its own offset within the period.
    const std::int64_t offsetMs = static_cast<std::int64_t>(b * 7) % periodMs;
    double dropOutUntil = -1;
    for (std::int64_t ms = offsetMs; ms < endMs; ms += periodMs) {
      const double t = static_cast<double>(ms) / 1000.0;
      // A short drop-out (a van in the way, the phone turned in a pocket) starts now and then.
      if (t >= dropOutUntil && noise.chance(0.004)) dropOutUntil = t + 0.5 + 1.5 * noise.uniform();
      const bool lost = noise.chance(options_.lossRate);
      const double shadow = options_.shadowingDb * noise.normal();
      if (t < dropOutUntil || lost) continue;
      const Point car = positionAt(route, t);
      const double dx = car.x - beacon.at.x, dy = car.y - beacon.at.y;
      const double d = std::max(0.1, std::sqrt(dx * dx + dy * dy + beacon.height * beacon.height));
      const double level = options_.measuredPower - 10.0 * options_.pathLossExponent * std::log10(d) + shadow;
      const int rssi = static_cast<int>(std::lround(level));
      if (rssi < options_.sensitivityDbm) continue;
      frames_.push_back({t, beacon.token, std::min(rssi, -1), beacon.major, beacon.minor});
    }
  }
  std::stable_sort(frames_.begin(), frames_.end(), [](const Frame& a, const Frame& b) { return a.t < b.t; });
}

DetailsResult CarParkDrive::carPark() {
  DetailsResult r;
  r.result = "Success";
  r.carParkId = kCarParkId;
  r.carParkName = "Harbour";
  for (const auto& place : kLanes) {
    LaneResult lane;
    lane.laneId = place.laneId;
    lane.laneType = place.laneType;
    lane.laneGroupId = place.group;
    lane.sortOrder = place.sortOrder;
    lane.minRSSI = -72;
    lane.minDetectionSecs = 2;
    lane.maxDetectionSecs = 6;
    lane.retrySecs = 3;
    for (int k = 1; k <= 2; ++k) {
      LaneBeaconResult lb;
      lb.laneBeaconId = place.laneId * 10 + k;
      lb.beaconId = beaconId(kMajor, static_cast<int>(place.laneId) * 10 + k);
      lane.laneBeacons.push_back(lb);
    }
    r.lanes.push_back(lane);
  }
  return r;
}

std::string CarParkDrive::beaconId(int major, int minor) { return fmt::format("{}:{}:{}", kProximityUUID, major, minor); }
std::string CarParkDrive::strayBeaconId() { return beaconId(kStrayMajor, 1); }

std::string CarParkDrive::traceText() const {
  std::string text = fmt::format("# car-park drive, seed {}, {} frames over {:.1f} s\n", options_.seed, frames_.size(),
                                 duration_);
  for (const auto& f : frames_) {
    text += fmt::format("{:.3f} adv {} {} mfr={}\n", f.t, f.peripheral, f.rssi,
                        iBeaconFrameHex(kProximityUUID, f.major, f.minor, options_.measuredPower));
  }
  return text;
}

}  // namespace velmora::testing
