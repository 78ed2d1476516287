#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/service/RecordCodec.h"
#include "platform/core/Date.h"

namespace velmora {

// The reply of the lane exit call: the result envelope, when the stay began, how long it
// lasted in seconds, and the amount the service reports for it. A default-built record has
// an empty result; one decoded from a reply without "result" has "Failure".
//
// "entryTime" is read by the decoder's date rule; the exit call installs the rule that
// takes "yyyy-MM-dd'T'HH:mm:ss" and the same with milliseconds, and nothing with a zone.
struct ExitResult {
  std::string result;
  std::string message;
  std::optional<platform::Date> entryTime;
  std::optional<std::int64_t> secondsInCarPark;
  std::optional<double> amount;

  static ExitResult decode(RecordDecoder& d);
  // Writes result and message always, the other three when present (the date as seconds
  // since 2001-01-01T00:00:00Z).
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
