// A drive through a car park on the simulated platform, from the radio to the host app: a
// seeded drive (or a recorded trace) is played on the simulated radio, the beacon SDK ranges
// it with its cloud API and local storage off, lane detection works out the car park and the
// closest lane, and this program acts as the operator's app: it reports enter and exit at the
// gates and prints the story as it goes. Time is virtual, so the drive runs in a moment and
// one seed gives one drive everywhere. The parking calls go to a fake parking service on a
// loopback port (or to a real one with --server). Run with --help for the options.
#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "examples/carpark_drive/DriveProgram.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "platform/core/Log.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* self = argc > 0 ? argv[0] : "carpark_drive";
  try {
    std::string error;
    const auto args = carparkdrive::parseArgs(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), &error);
    if (!args) {
      fmt::print(stderr, "{}: {}\n", self, error);
      return carparkdrive::kExitBadInput;
    }
    if (args->help) {
      carparkdrive::printUsage(stdout, self);
      return carparkdrive::kExitDone;
    }
    // The story goes to standard output; the SDKs' own log lines only when something is wrong.
    velmora::platform::Log::setSink(
        [](velmora::platform::LogLevel level, std::string_view category, std::string_view message) {
          if (level >= velmora::platform::LogLevel::Error) {
            fmt::print(stderr, "[{}] {}: {}\n", velmora::platform::Log::levelName(level), category, message);
          }
        });
    velmora::VelmoraSDKConfig::setBeaconLogLevel(velmora::BeaconLogLevel::none);
    return carparkdrive::runDrive(*args, stdout, self).exitStatus;
  } catch (const std::exception& e) {
    // Nothing below is meant to throw; should it, the run still ends with one line.
    fmt::print(stderr, "{}: {}\n", self, e.what());
    return carparkdrive::kExitBadInput;
  }
}
