// ad_dump: reads captured Bluetooth advertisements from standard input, one per line, and
// prints one line for each: the advertisement-data dictionary the SDK makes of it, as JSON,
// or null.
//
//   manufacturer data as hex, company bytes first:   4c000215e2c56db5...
//   Eddystone service data:                           FEAA:00ee0011...
//
// The maker's iBeacon frames carry only the tail of their proximity UUID; it is matched
// against any UUID given with --uuid (repeatable, earlier wins), then the SDK's default one.
// A bad argument gets one line on standard error and exit status 1.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconUtilities.h"
#include "examples/ad_dump/AdDump.h"

int main(int argc, char** argv) {
  const char* self = argc > 0 ? argv[0] : "ad_dump";
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string error;
  auto uuids = addump::parseArgs(args, &error);
  if (!uuids) {
    std::fprintf(stderr, "%s: %s\n", self, error.c_str());
    return 1;
  }
  uuids->emplace_back(velmora::kestrine::KSProximityUUIDString);
  std::ios::sync_with_stdio(false);
  addump::dump(std::cin, std::cout, *uuids);
  return 0;
}
