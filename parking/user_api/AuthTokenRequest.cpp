#include "parking/user_api/AuthTokenRequest.h"

#include "parking/config/VelmoraSDKConfig.h"

namespace velmora {

AuthTokenRequest::AuthTokenRequest()
    : appId(VelmoraSDKConfig::getAppId()), clientSecret(VelmoraSDKConfig::getClientSecret()) {}

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
