#pragma once

#include <cstdint>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the login call: the result envelope, the signed-in user's id and token (the
// pair VelmoraSDKConfig::setUser takes; nothing stores them there by itself) and whether the
// account's e-mail address is confirmed.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct LoginResult {
  std::string result;
  std::string message;
  std::int64_t userId = -1;
  std::string authenticationToken;
  bool emailConfirmed = false;

  // Missing or null keys take the defaults ("Failure", "", -1, "", false); a wrong JSON type
  // fails the whole record.
  static LoginResult decode(RecordDecoder& d);
  // Writes all five keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
