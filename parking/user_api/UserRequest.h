#pragma once

#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the create call: the client-info block, then the new account. All seven
// account fields are plain strings, always written, the social sign-in tokens included
// (empty when the user has none). Keys "firstname" and "lastname" are lower case.
struct UserRequest : ClientInfoBlock {
  std::string email;
  std::string firstname;
  std::string lastname;
  std::string phoneNo;
  std::string password;
  std::string facebookAccessToken;
  std::string appleIdAccessToken;

  // The block copied from the settings; every account field empty.
  UserRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field empty or nil; the decoder's starting point.
  explicit UserRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // The seven account keys are required; the block's keys are optional.
  static UserRequest decode(RecordDecoder& d);
};

}  // namespace velmora
