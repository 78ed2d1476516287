#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include "parking/service/RecordCodec.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/text/FixedDateFormat.h"

namespace velmora {

// Reads a date of a parking reply, which the service sends as text in one of a few fixed
// formats. The value must be a JSON string (anything else is a type error and no format is
// tried); the formats are tried in order and the first that reads the whole text wins.
// When none does, the error is a data-corrupted decoding error at codingPath whose debug
// description is "Cannot decode date string " followed by the text. On failure returns
// nullopt and fills *error.
std::optional<platform::Date> decodeDateString(const platform::Value& value, const std::string& codingPath,
                                               std::initializer_list<const platform::text::FixedDateFormat*> formats,
                                               platform::Error* error);

// The date rule of the user status reply: to the second, to the millisecond, and to the
// millisecond with a zone offset ("yyyy-MM-dd'T'HH:mm:ss", "yyyy-MM-dd'T'HH:mm:ss.SSS",
// "yyyy-MM-dd'T'HH:mm:ss.SSSZ"), in that order. A text without an offset is read in the
// device's current time zone.
const DateRule& statusDateRule();

// The date rule of the lane exit reply: the first two formats of statusDateRule only, so a
// text with a zone offset is refused.
const DateRule& laneExitDateRule();

}  // namespace velmora
