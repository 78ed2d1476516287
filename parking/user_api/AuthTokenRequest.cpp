#include "parking/user_api/AuthTokenRequest.h"

#include <utility>

#include "parking/config/VelmoraSDKConfig.h"

namespace velmora {

// The app's id and secret from one snapshot of the settings, so they always belong together.
AuthTokenRequest::AuthTokenRequest() : AuthTokenRequest(undecoded) {
  auto settings = VelmoraSDKConfig::snapshot();
  appId = std::move(settings.appId);
  clientSecret = std::move(settings.clientSecret);
}

void AuthTokenRequest::encode(RecordEncoder& e) const {
  e.put("appId", appId);
  e.put("clientSecret", clientSecret);
  e.put("userId", userId);
  e.put("email", email);
}

AuthTokenRequest AuthTokenRequest::decode(RecordDecoder& d) {
  AuthTokenRequest r(undecoded);
  r.appId = d.requiredString("appId");
  r.clientSecret = d.requiredString("clientSecret");
  r.userId = d.optionalInt64("userId");
  r.email = d.optionalString("email");
  return r;
}

}  // namespace velmora
