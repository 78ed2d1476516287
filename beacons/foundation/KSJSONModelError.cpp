#include "beacons/foundation/KSJSONModelError.h"

#include <fmt/format.h>

namespace velmora::kestrine {

using platform::Error;

namespace {
Error make(std::int64_t code, std::string description, platform::Dict userInfo = {}) {
  return Error(std::string(KSJSONModelErrorDomain), code, std::move(description), std::move(userInfo));
}
}  // namespace

Error KSJSONModelError::errorInvalidDataWithMessage(std::string_view message) {
  return make(kInvalidData, fmt::format("Invalid JSON data: {}", message));
}

Error KSJSONModelError::errorInvalidDataWithMissingKeys(const std::vector<std::string>& names) {
  platform::Array keys;
  for (const auto& name : names) keys.emplace_back(name);
  platform::Dict info;
  info.emplace(std::string(kKSJSONModelMissingKeys), platform::Value(std::move(keys)));
  return make(kInvalidData,
              "Invalid JSON data. Required JSON keys are missing from the input. Check the error user information.",
              std::move(info));
}

Error KSJSONModelError::errorInvalidDataWithTypeMismatch(std::string_view message) {
  platform::Dict info;
  info.emplace(std::string(kKSJSONModelTypeMismatch), platform::Value(message));
  return make(kInvalidData,
              "Invalid JSON data. The JSON type mismatches the expected type. Check the error user information.",
              std::move(info));
}

Error KSJSONModelError::errorBadResponse() {
  return make(kBadResponse, "Bad network response. Probably the JSON URL is unreachable.");
}

Error KSJSONModelError::errorBadJSON() { return make(kBadJSON, "Malformed JSON. Check the KSJSONModel data input."); }

Error KSJSONModelError::errorModelIsInvalid() {
  return make(kModelIsInvalid, "Model does not validate. The custom validation for the input data failed.");
}

Error KSJSONModelError::errorInputIsNil() { return make(kInputIsNil, "Initializing model with nil input object."); }

Error KSJSONModelError::errorByPrependingKeyPathComponent(const Error& error, std::string_view component) {
  Error out = error;
  const std::string old = keyPath(error);
  std::string path(component);
  if (!old.empty()) {
    if (old.front() != '[') path += '.';
    path += old;
  }
  out.userInfo.insert_or_assign(std::string(kKSJSONModelKeyPath), platform::Value(std::move(path)));
  return out;
}

std::string KSJSONModelError::keyPath(const Error& error) {
  auto it = error.userInfo.find(kKSJSONModelKeyPath);
  if (it == error.userInfo.end() || !it->second.string()) return {};
  return *it->second.string();
}

}  // namespace velmora::kestrine
