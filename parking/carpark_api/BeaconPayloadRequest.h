#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "parking/carpark_api/BeaconPayloadItem.h"
#include "parking/service/ClientInfoBlock.h"
#include "parking/service/RecordCodec.h"
#include "platform/core/Date.h"

namespace velmora {

// The body of the beacon payload upload: the client-info block, the car-park and lane
// context of the report, a time stamp and the lane readings. The SDK fills only the block;
// the host app sets the rest before it sends the request. Every field is optional and
// written only when present: "items" set to an empty list is written as [], nil leaves the
// key out. Keys keep the capital D: "carParkID", "calculatedLaneID", "laneID".
struct BeaconPayloadRequest : ClientInfoBlock {
  std::optional<bool> inCarPark;
  std::optional<bool> isNested;
  // The host app's code; passed through unchanged.
  std::optional<std::int64_t> reasonType;
  std::optional<std::int64_t> carParkID;
  std::optional<std::int64_t> calculatedLaneID;
  std::optional<std::int64_t> laneID;
  // Written as a JSON number of seconds since 2001-01-01T00:00:00Z.
  std::optional<platform::Date> timestampUTC;
  std::optional<std::vector<BeaconPayloadItem>> items;

  // The block copied from the settings; the eight own fields nil.
  BeaconPayloadRequest() : ClientInfoBlock(ClientInfoBlock::fromSettings()) {}
  // Every field nil; the decoder's starting point.
  explicit BeaconPayloadRequest(Undecoded) {}

  void encode(RecordEncoder& e) const;
  // Every key optional; a present "items" is read element by element and one failing item
  // fails the whole request. The settings are not read.
  static BeaconPayloadRequest decode(RecordDecoder& d);
};

}  // namespace velmora
