#pragma once

#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the create-user call: the client-info block, then the new user's e-mail
// address, names and phone number, always written. Keys "firstname" and "lastname" are
// lower case. The call sends no user headers: the block's user id and token travel in the
// body only.
struct CreateUserRequest : ClientInfoBlock {
  std::string email;
  std::string firstname;
  std::string lastname;
  std::string phoneNo;

  // The block copied from the settings; the four own fields empty.
  CreateUserRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field empty or nil; the decoder's starting point.
  explicit CreateUserRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // The four own keys are required; the block's keys are optional.
  static CreateUserRequest decode(RecordDecoder& d);
};

}  // namespace velmora
