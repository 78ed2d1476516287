#include "parking/user_api/AuthTokenResult.h"

namespace velmora {

AuthTokenResult AuthTokenResult::decode(RecordDecoder& d) {
  std::string result = d.string("result", "Failure");
  std::string message = d.string("message");
  const std::int64_t userId = d.int64("userId", -1);
  std::string authenticationToken = d.string("authenticationToken");
  return AuthTokenResult(std::move(result), std::move(message), userId, std::move(authenticationToken));
}

void AuthTokenResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("userId", userId);
  e.put("authenticationToken", authenticationToken);
}

}  // namespace velmora
