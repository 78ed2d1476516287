#pragma once

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the user status call: the client-info block alone.
struct StatusRequest : ClientInfoBlock {
  // The block copied from the settings.
  StatusRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field nil; the decoder's starting point.
  explicit StatusRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Every key optional; the settings are not read.
  static StatusRequest decode(RecordDecoder& d);
};

}  // namespace velmora
