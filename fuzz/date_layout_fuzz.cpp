// Differential check of the fixed date layouts against the calendar library's formatter. The
// first byte picks a pattern and a zone, the rest is the text. On a text of the layout's shape
// both must agree; off it the fixed layout must refuse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text/DefaultTimeZone.h"
#include "platform/text/FixedDateFormat.h"
#include "platform/text/LibraryDateFormat.h"

namespace {

using velmora::platform::text::FixedDateFormat;
using velmora::platform::text::LibraryDateFormat;

constexpr std::string_view kPatterns[] = {
    "yyyy-MM-dd'T'HH:mm:ss", "yyyy-MM-dd'T'HH:mm:ss.SSS", "yyyy-MM-dd'T'HH:mm:ss.SSSZ", "yyyy-MM-dd HH:mm:ss Z",
};
constexpr std::string_view kZones[] = {"Etc/UTC", "Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns"};

// The shape of the pattern's texts: 9 a digit, + a sign, anything else itself.
constexpr std::string_view kShapes[] = {
    "9999-99-99T99:99:99", "9999-99-99T99:99:99.999", "9999-99-99T99:99:99.999+9999", "9999-99-99 99:99:99 +9999",
};

bool hasExactShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char s = shape[i];
    if (s == '9' ? (c < '0' || c > '9') : s == '+' ? (c != '+' && c != '-') : c != s) return false;
  }
  return true;
}

// A zone offset "+9999" may also be written "+99:99" or "Z".
bool hasShape(std::string_view text, std::string_view shape) {
  if (hasExactShape(text, shape)) return true;
  const std::size_t at = shape.find("+9999");
  if (at == std::string_view::npos) return false;
  for (std::string_view alternative : {"+99:99", "Z"}) {
    std::string other(shape);
    other.replace(at, 5, alternative);
    if (hasExactShape(text, other)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const FixedDateFormat* fixed[] = {new FixedDateFormat(kPatterns[0]), new FixedDateFormat(kPatterns[1]),
                                           new FixedDateFormat(kPatterns[2]), new FixedDateFormat(kPatterns[3])};
  static const LibraryDateFormat* library[] = {new LibraryDateFormat(kPatterns[0]), new LibraryDateFormat(kPatterns[1]),
                                               new LibraryDateFormat(kPatterns[2]), new LibraryDateFormat(kPatterns[3])};
  const std::size_t p = data[0] % 4;
  velmora::platform::text::DefaultTimeZone::set(kZones[(data[0] / 4) % 4]);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto mine = fixed[p]->parse(text);
  if (!hasShape(text, kShapes[p])) {
    if (mine) std::abort();
    return 0;
  }
  if (mine != library[p]->parse(text)) std::abort();
  return 0;
}
