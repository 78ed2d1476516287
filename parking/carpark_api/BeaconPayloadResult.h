#pragma once

#include <optional>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the beacon payload upload: the result envelope alone, both fields optional.
// There is no default constructor: the upload builds its own failure records from two nil
// values. Decoding always fills both ("Failure" and "" for missing or null keys).
struct BeaconPayloadResult {
  std::optional<std::string> result;
  std::optional<std::string> message;

  BeaconPayloadResult(std::optional<std::string> resultText, std::optional<std::string> messageText)
      : result(std::move(resultText)), message(std::move(messageText)) {}

  static BeaconPayloadResult decode(RecordDecoder& d);
  // Writes each field only when present.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
