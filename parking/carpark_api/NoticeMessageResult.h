#pragma once

#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The notice text of a lane notice reply: a title and a message.
struct NoticeMessageResult {
  std::string title;
  std::string message;

  // Missing or null keys give ""; a wrong type fails (and fails the reply around it).
  static NoticeMessageResult decode(RecordDecoder& d);
  // Always writes both keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
