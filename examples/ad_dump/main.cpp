// ad_dump: reads captured Bluetooth advertisements from standard input, one per line, and
// prints one line for each: the advertisement-data dictionary the SDK makes of it, as JSON,
// or null.
//
//   manufacturer data as hex, company bytes first:   4c000215e2c56db5...
//   Eddystone service data:                           FEAA:00ee0011...
//
// The maker's iBeacon frames carry only the tail of their proximity UUID; it is matched
// against the SDK's default UUID and any given with --uuid (repeatable, earlier wins).
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconUtilities.h"
#include "examples/ad_dump/AdDump.h"

int main(int argc, char** argv) {
  std::vector<std::string> uuids;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--uuid") == 0 && i + 1 < argc) {
      uuids.emplace_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--uuid PROXIMITY-UUID]... < captures\n", argv[0]);
      return 2;
    }
  }
  uuids.emplace_back(velmora::kestrine::KSProximityUUIDString);
  std::ios::sync_with_stdio(false);
  addump::dump(std::cin, std::cout, uuids);
  return 0;
}
