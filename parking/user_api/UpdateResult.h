#pragma once

#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the update call: the result envelope alone.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct UpdateResult {
  std::string result;
  std::string message;

  // Missing or null keys take the defaults ("Failure", ""); a wrong JSON type fails.
  static UpdateResult decode(RecordDecoder& d);
  // Writes both keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
