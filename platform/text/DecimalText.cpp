#include "platform/text/DecimalText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace velmora::platform::text {

std::string decimalText(double value, int maxFractionDigits) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-∞" : "+∞";
  maxFractionDigits = std::clamp(maxFractionDigits, 0, 17);
  std::array<char, 400> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, maxFractionDigits);
  std::string out(buffer.data(), result.ptr);
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  // A negative value that rounds to zero is shown as zero.
  if (out == "-0") out = "0";
  return out;
}

}  // namespace velmora::platform::text
