#pragma once

#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The outcome that BeaconService's start and stop hand to their completion blocks.
struct BeaconServiceResult {
  bool success = true;
  // Why it failed; empty on success.
  std::string message;

  // JSON form {"success":…, "message":…}; both keys required on decoding.
  void encode(RecordEncoder& e) const;
  static BeaconServiceResult decode(RecordDecoder& d);
};

}  // namespace velmora
