#pragma once

#include <cstdint>
#include <optional>

#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the lane enter call, which reports that the user entered the car park
// at a lane: the client-info block, the lane id (key "laneId", always written) and the
// calculated lane's id when the caller has one (key "calculatedLaneId", written only when
// present). Same fields and keys as ExitRequest.
struct EnterRequest : ClientInfoBlock {
  std::int64_t laneId = 0;
  std::optional<std::int64_t> calculatedLaneId;

  // The block copied from the settings; laneId 0, no calculated lane.
  EnterRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every block field nil; the decoder's starting point.
  explicit EnterRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Block keys and "calculatedLaneId" optional; "laneId" required.
  static EnterRequest decode(RecordDecoder& d);
};

}  // namespace velmora
