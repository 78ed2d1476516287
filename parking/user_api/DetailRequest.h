#pragma once

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the account detail call: the client-info block alone, whose user id and
// token name the user whose details are asked for.
struct DetailRequest : ClientInfoBlock {
  // The block copied from the settings.
  DetailRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field nil; the decoder's starting point.
  explicit DetailRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Every key optional; the settings are not read.
  static DetailRequest decode(RecordDecoder& d);
};

}  // namespace velmora
