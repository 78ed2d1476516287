#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "parking/service/LaneResult.h"
#include "parking/service/RecordCodec.h"
#include "platform/core/Date.h"

namespace velmora {

// The reply of the user status call: the signed-in user's account and parking status.
// Lane detection reads result, inCarPark, isNested and carParkId; the host app may read
// any field.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure". The message is optional, but
// both construction and decoding leave it present (empty when the reply has none).
struct StatusResult {
  std::string result;
  std::optional<std::string> message = std::string();
  std::string accountType;
  bool emailConfirmed = false;
  std::string accessStatus;
  bool inCarPark = false;
  bool isNested = false;
  std::optional<platform::Date> entryTime;
  std::optional<platform::Date> entryTimeUTC;
  std::optional<platform::Date> serverTime;
  std::optional<std::int64_t> secondsInCarPark;
  std::optional<std::int64_t> homeCarParkId;
  std::string homeCarParkName;
  std::string groupZoneName;
  std::string groupZoneColourCode;
  std::string groupZoneCode;
  std::optional<std::int64_t> carParkId;
  std::string carParkName;
  bool casualAccess = false;
  bool hasCard = false;
  std::vector<LaneResult> lanes;
  std::optional<double> amount;
  std::string reservedBay;

  // Missing or null keys take the defaults; a wrong JSON type, a lane the lane decoder
  // refuses, or a date text the decoder's date rule refuses fails the whole record. The
  // three dates are read by the decoder's date rule (the status call installs
  // statusDateRule).
  static StatusResult decode(RecordDecoder& d);
  // Writes every non-optional field and each present optional one. Dates are written as
  // seconds since 2001-01-01T00:00:00Z, not in the text form that decoding reads.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
