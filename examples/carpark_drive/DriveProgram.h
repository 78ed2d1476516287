#pragma once

// The car-park drive program as a library: its arguments, and one drive from the radio to
// the host's gates. main() is a thin shell around these, and the tests call them directly.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "testing/CarParkDrive.h"

namespace carparkdrive {

// Exit statuses.
inline constexpr int kExitDone = 0;
// A bad argument, or a file that cannot be read or is not what the option needs.
inline constexpr int kExitBadInput = 1;
// The drive ended without an entry or without an exit reported.
inline constexpr int kExitGateMissing = 3;

struct DriveArgs {
  velmora::testing::CarParkDrive::Options drive;
  std::optional<std::string> traceFile, writeTraceFile, carParkFile, server, user, password;
  bool events = false;
  bool help = false;
};

// The arguments after the program's name. On a bad one, returns nothing and sets *error to
// one line saying what is wrong.
std::optional<DriveArgs> parseArgs(const std::vector<std::string>& args, std::string* error);

void printUsage(std::FILE* to, const char* self);

// What a drive came to.
struct DriveOutcome {
  int exitStatus = kExitDone;
  std::optional<std::int64_t> enteredAt, exitedAt;
};

// Plays one drive and tells its story on out. A bad input file gets one line on standard
// error (prefixed with self) and kExitBadInput.
DriveOutcome runDrive(const DriveArgs& args, std::FILE* out, const char* self);

}  // namespace carparkdrive
