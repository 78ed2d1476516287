#pragma once

#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the lane enter call: the result envelope and the bay reserved for the user.
// A default-built record has an empty result; one decoded from a reply without "result"
// has "Failure".
struct EnterResult {
  std::string result;
  std::string message;
  std::string reservedBay;

  static EnterResult decode(RecordDecoder& d);
  // Always writes all three keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
