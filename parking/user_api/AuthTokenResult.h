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

  AuthTokenResult(std::string resultText, std::string messageText, std::int64_t user, std::string token)
      : result(std::move(resultText)),
        message(std::move(messageText)),
        userId(user),
        authenticationToken(std::move(token)) {}

  // Missing or null keys take the defaults ("Failure", "", -1, ""); a wrong JSON type fails
  // the whole record.
  static AuthTokenResult decode(RecordDecoder& d);
  // Writes all four keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
