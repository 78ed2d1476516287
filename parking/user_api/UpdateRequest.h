#pragma once

#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the update call: the client-info block (whose user id and token name the
// signed-in user), then the account's new values. The four account fields are always
// written. Keys "firstName" and "lastName" have a capital N, unlike the create records.
struct UpdateRequest : ClientInfoBlock {
  std::string email;
  std::string firstName;
  std::string lastName;
  std::string phoneNo;

  // The block copied from the settings; every account field empty.
  UpdateRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field empty or nil; the decoder's starting point.
  explicit UpdateRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // The four account keys are required; the block's keys are optional.
  static UpdateRequest decode(RecordDecoder& d);
};

}  // namespace velmora
