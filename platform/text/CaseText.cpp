#include "platform/text/CaseText.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace velmora::platform::text {

namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  icu::UnicodeString x = fromUtf8(a);
  icu::UnicodeString y = fromUtf8(b);
  // Full folding changes lengths ("ß" -> "ss"), so fold both and compare.
  x.foldCase(U_FOLD_CASE_DEFAULT);
  y.foldCase(U_FOLD_CASE_DEFAULT);
  return x == y;
}

std::string lowercased(std::string_view text) {
  icu::UnicodeString u = fromUtf8(text);
  u.toLower(icu::Locale::getRoot());
  std::string out;
  u.toUTF8String(out);
  return out;
}

}  // namespace velmora::platform::text
