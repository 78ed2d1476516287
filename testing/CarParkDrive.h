#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "parking/carpark_api/DetailsResult.h"

namespace velmora::testing {

// Gaussian and uniform numbers from std::mt19937_64 through transforms of our own, so that
// one seed gives the same numbers with every standard library (the library's distributions
// are free to differ between implementations; the engine's output is not).
class DriveNoise {
 public:
  explicit DriveNoise(std::uint64_t seed) : engine_(seed) {}
  // In [0, 1), from the top 53 bits of one draw.
  double uniform();
  // Mean 0, standard deviation 1 (Box-Muller, both values of a pair used).
  double normal();
  bool chance(double probability) { return uniform() < probability; }

 private:
  std::mt19937_64 engine_;
  bool haveSpare_ = false;
  double spare_ = 0;
};

// A seeded drive through a small car park, as the phone's radio would hear it.
//
// The car park "Harbour" (id 7) has three entry lanes (101, 102, 103: type 1, group 1) and
// two exit lanes (201, 202: type 2, group 2), each with two iBeacons on a gantry 3 m above
// the barrier line (proximity UUID kProximityUUID, major kMajor, minor lane * 10 + 1 and + 2,
// measured power -59 dBm). Entry lanes stand 3.5 m apart (Options::laneSpacing); the exit
// lanes 80 m further on. A stray beacon of a shop by the approach road (major 999) belongs to
// no car park.
//
// The car comes up the approach road to entry lane 102, waits 6 s at its barrier, drives to
// a parking bay out of range of every beacon, stays, comes back to exit lane 202, waits 6 s
// at its barrier and leaves. Each beacon sends 10 frames a second; what the phone hears
// follows the log-distance model (exponent 2.2) with Gaussian shadowing, loses 20 % of the
// frames at random and whole stretches of a beacon in short drop-outs, and hears nothing
// below the receiver's sensitivity.
class CarParkDrive {
 public:
  static constexpr const char* kProximityUUID = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
  static constexpr int kMajor = 100;
  static constexpr int kStrayMajor = 999;
  static constexpr std::int64_t kCarParkId = 7;
  static constexpr std::int64_t kEntryLane = 102;
  static constexpr std::int64_t kExitLane = 202;

  struct Options {
    std::uint64_t seed = 7;
    double framesPerSecond = 10;
    double lossRate = 0.2;
    double shadowingDb = 2.0;
    double pathLossExponent = 2.2;
    int measuredPower = -59;
    int sensitivityDbm = -90;
    // Seconds the car stays in its bay.
    double parkedSeconds = 40;
    // Metres between neighbouring lanes' axes (entry lanes, and exit lanes alike).
    double laneSpacing = 3.5;
    // How the car reaches each barrier: 0 straight up the lane's axis; -1 along the road in
    // front of the barriers from the side of the lower lane numbers, +1 from the other side,
    // passing the neighbouring lanes on the way.
    int approachSide = 0;
  };

  // One frame as heard: when, from which beacon (the trace's peripheral token), how strong.
  struct Frame {
    double t = 0;
    std::string peripheral;
    int rssi = 0;
    int major = 0;
    int minor = 0;
  };

  explicit CarParkDrive(Options options);

  // The car park's details reply, as the parking service gives it (the same whatever the
  // geometry: the service knows lanes, not where they stand).
  static DetailsResult carPark();
  // "UUID:major:minor" of a beacon of the drive.
  static std::string beaconId(int major, int minor);
  static std::string strayBeaconId();

  // Every frame heard, in time order.
  const std::vector<Frame>& frames() const { return frames_; }
  // The frames in the simulated radio's trace format (tx -59, the beacons' tokens).
  std::string traceText() const;
  // When the drive ends (the car has left every beacon's range).
  double durationSeconds() const { return duration_; }

 private:
  Options options_;
  std::vector<Frame> frames_;
  double duration_ = 0;
};

}  // namespace velmora::testing
