#include "beacons/foundation/StringAdditions.h"

#include "platform/core/Uuid.h"
#include "platform/text/CaseText.h"

namespace velmora::kestrine::string_additions {

bool isEqualIgnoringCase(std::string_view text, std::string_view other) {
  return platform::text::equalsIgnoringCase(text, other);
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
  return platform::text::lowercased(text).starts_with(platform::text::lowercased(prefix));
}

bool isValidUUID(std::string_view text) { return platform::Uuid::parse(text).has_value(); }

}  // namespace velmora::kestrine::string_additions
