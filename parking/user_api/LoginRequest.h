#pragma once

#include <optional>
#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the login call: the client-info block, then the credentials. "email" and
// "password" are always written, empty or not; the two social sign-in tokens only when set.
// Nothing is checked: empty credentials, or both tokens together, go out as they stand.
struct LoginRequest : ClientInfoBlock {
  std::string email;
  std::string password;
  std::optional<std::string> facebookAccessToken;
  std::optional<std::string> appleIdAccessToken;

  // The block copied from the settings; empty credentials, no tokens.
  LoginRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field empty or nil; the decoder's starting point.
  explicit LoginRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // "email" and "password" are required; every other key is optional.
  static LoginRequest decode(RecordDecoder& d);
};

}  // namespace velmora
