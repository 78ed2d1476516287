#pragma once

#include <optional>
#include <string>

namespace velmora::kestrine {

class KSBase64Utilities {
 public:
  KSBase64Utilities() = delete;

  // Base64 (standard alphabet, "=" padding, no line breaks) of the text's UTF-8 bytes; an
  // absent or empty text gives the empty string.
  static std::string base64EncodedString(const std::optional<std::string>& text);
};

}  // namespace velmora::kestrine
