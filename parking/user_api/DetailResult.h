#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the account detail call: the result envelope, the user's account type,
// e-mail address, names and phone number, the home car park (id, name, position) and the
// user's group zone. The SDK passes these on without reading them.
//
// A default-built record has an empty result (it is the blocking call's starting record);
// one decoded from a reply without "result" has "Failure".
struct DetailResult {
  std::string result;
  std::string message;
  std::string accountType;
  std::string email;
  std::string firstName;
  std::string lastName;
  std::string phoneNo;
  std::optional<std::int64_t> homeCarParkId;
  std::string homeCarParkName;
  std::string groupZoneName;
  std::string groupZoneColourCode;
  std::string groupZoneCode;
  std::optional<double> homeCarParkLatitude;
  std::optional<double> homeCarParkLongitude;

  // Missing or null keys take the defaults ("Failure", empty texts, nil); a wrong JSON type
  // fails the whole record.
  static DetailResult decode(RecordDecoder& d);
  // Writes the eleven texts always and the three optional fields when present.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
