#pragma once

#include <string>

namespace velmora::platform::text {

// A number as plain decimal text whatever the locale: a point as decimal separator, no
// grouping, a minus sign for negatives, at most maxFractionDigits fraction digits (rounded
// to nearest, ties to even) and no trailing zeros ("151.2093", "3", "-33.86882"). NaN gives
// "NaN", infinities "+∞" and "-∞".
std::string decimalText(double value, int maxFractionDigits);

}  // namespace velmora::platform::text
