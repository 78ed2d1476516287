#pragma once

#include <vector>

#include "parking/carpark_api/NoticeBeaconRequest.h"
#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The body of the lane notice call: the client-info block and the beacons the app hears.
// "beacons" is always written, an empty list as [].
struct NoticeRequest : ClientInfoBlock {
  std::vector<NoticeBeaconRequest> beacons;

  // The block copied from the settings; no beacons.
  NoticeRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every block field nil; the decoder's starting point.
  explicit NoticeRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Block keys optional; "beacons" required (missing or null fails), each element decoded
  // as a NoticeBeaconRequest.
  static NoticeRequest decode(RecordDecoder& d);
};

}  // namespace velmora
