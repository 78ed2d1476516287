#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::platform::json {

// Deepest nesting of arrays and objects a document may have; deeper input is refused
// rather than risk the stack.
inline constexpr int kMaxDepth = 512;

// Parses JSON text into a Value. The top level must be an object or an array: a bare
// fragment such as `123` or `null` is refused, as are invalid UTF-8, trailing text and
// nesting deeper than kMaxDepth. Integers keep their kind: a negative integer is Int, a
// non-negative one Int when it fits in int64 and UInt otherwise; a number written with a
// fraction or exponent is Double. On failure returns nullopt and fills *error.
std::optional<Value> parse(std::string_view text, Error* error = nullptr);

// Writes a Value as compact JSON text. Int and UInt are written as integers (no ".0"),
// Double in the shortest form that reads back to the same double. Absent entries of a
// dictionary are left out. Fails (nullopt, *error filled) on NaN or infinite doubles,
// strings that are not valid UTF-8, and kinds JSON cannot carry (Absent at the top level
// or in an array, Bytes, Date, Object). Keys are written in sorted order.
std::optional<std::string> write(const Value& value, Error* error = nullptr);

}  // namespace velmora::platform::json
