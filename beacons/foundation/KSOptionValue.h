#pragma once

#include <cstdint>
#include <optional>

#include "platform/core/Value.h"

namespace velmora::kestrine::option {

// The text and number conversions option values are read through. Booleans and numbers
// convert to each other; text converts as the platform's string conversions do; every
// other kind (containers, bytes, dates, null, absent) answers nullopt.

// Text: skips white space, one sign and leading zeros, then YES for Y, y, T, t or 1-9.
// Numbers: non-zero (NaN counts as YES).
std::optional<bool> boolValue(const platform::Value& value);

// Text: the leading POSIX decimal number (white space, sign, digits, fraction, exponent)
// read as a 32-bit float, 0 when there is none, ±infinity past the float range.
// Numbers: converted to float.
std::optional<float> floatValue(const platform::Value& value);

// Text: the leading signed decimal integer, saturating at the 64-bit limits, 0 when there
// is none. Numbers: truncated toward zero, saturating; NaN is 0.
std::optional<std::int64_t> integerValue(const platform::Value& value);

}  // namespace velmora::kestrine::option
