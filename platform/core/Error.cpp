#include "platform/core/Error.h"

namespace velmora::platform {

std::string Error::debugDescription() const {
  if (auto it = userInfo.find(kDebugDescriptionKey); it != userInfo.end()) {
    if (const std::string* s = it->second.string()) return *s;
  }
  return {};
}

namespace coding {
namespace {
Dict details(std::string_view debugDescription, std::string_view codingPath) {
  Dict info;
  info.emplace(std::string(kDebugDescriptionKey), Value(debugDescription));
  info.emplace(std::string(kCodingPathKey), Value(codingPath));
  return info;
}
}  // namespace

Error readError(Code code, std::string_view debugDescription, std::string_view codingPath) {
  const char* text = code == kValueNotFound
                         ? "The data couldn\u2019t be read because it is missing."
                         : "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
  return Error(std::string(kDomain), code, text, details(debugDescription, codingPath));
}

Error writeError(std::string_view debugDescription, std::string_view codingPath) {
  return Error(std::string(kDomain), kWriteInvalidValue,
               "The data couldn\u2019t be written because it isn\u2019t in the correct format.",
               details(debugDescription, codingPath));
}
}  // namespace coding

}  // namespace velmora::platform
