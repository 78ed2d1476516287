#pragma once

#include <cstdint>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the create-user call: the result envelope, then the new user's id and token.
// Nothing stores them into the settings; keeping them is the host app's business.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct CreateUserResult {
  std::string result;
  std::string message;
  std::int64_t userId = -1;
  std::string authenticationToken;

  // Missing or null keys take the defaults ("Failure", "", -1, ""); a wrong JSON type, or a
  // user id outside the Int64 range, fails the whole record.
  static CreateUserResult decode(RecordDecoder& d);
  // Writes all four keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
