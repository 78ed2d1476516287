#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the auth-token call: the result envelope, then the user's id and token.
// It has no default constructor: it is made from all four values, or decoded.
struct AuthTokenResult {
  std::string result;
  std::string message;
  std::int64_t userId;
  std::string authenticationToken;

  AuthTokenResult(std::string result, std::string message, std::int64_t userId, std::string authenticationToken)
      : result(std::move(result)),
        message(std::move(message)),
        userId(userId),
        authenticationToken(std::move(authenticationToken)) {}

  // Missing or null keys take the defaults ("Failure", "", -1, ""); a wrong JSON type fails
  // the whole record.
  static AuthTokenResult decode(RecordDecoder& d);
  // Writes all four keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
