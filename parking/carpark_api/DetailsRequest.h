#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the car-park details call: the client-info block, then the beacon id and/or
// the car-park id to look up. Keys "beaconID" and "carParkID" (capital D); a nil id is left
// out of the body, so a request with neither asks with the block alone.
struct DetailsRequest : ClientInfoBlock {
  std::optional<std::string> beaconID;
  std::optional<std::int64_t> carParkID;

  // The block copied from the settings; both ids nil.
  DetailsRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field nil; the decoder's starting point.
  explicit DetailsRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Every key optional; the settings are not read.
  static DetailsRequest decode(RecordDecoder& d);
};

}  // namespace velmora
