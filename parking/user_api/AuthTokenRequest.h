#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the auth-token call. The one request without the client-info block: it
// carries the app's credentials and, only when the caller sets them, a user id and an
// e-mail address. The user id is never taken from the settings.
struct AuthTokenRequest {
  std::string appId;
  std::string clientSecret;
  std::optional<std::int64_t> userId;
  std::optional<std::string> email;

  // The credentials copied from the settings (empty when never set); no user id, no e-mail.
  AuthTokenRequest();
  // Every field empty or nil; the decoder's starting point.
  explicit AuthTokenRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // "appId" and "clientSecret" are required; the other two keys are optional.
  static AuthTokenRequest decode(RecordDecoder& d);
};

}  // namespace velmora
