#pragma once

#include <cstdint>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the create call: the result envelope, then the new user's id and token.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct UserResult {
  std::string result;
  std::string message;
  std::int64_t userId = -1;
  std::string authenticationToken;

  // Missing or null keys take the defaults ("Failure", "", -1, ""); a wrong JSON type fails
  // the whole record.
  static UserResult decode(RecordDecoder& d);
  // Writes all four keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
