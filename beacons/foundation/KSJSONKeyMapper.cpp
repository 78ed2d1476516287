#include "beacons/foundation/KSJSONKeyMapper.h"

#include <cctype>

namespace velmora::kestrine {

KSJSONKeyMapper::KSJSONKeyMapper() = default;

std::shared_ptr<KSJSONKeyMapper> KSJSONKeyMapper::initWithDictionary(std::map<std::string, std::string> jsonToModel) {
  auto mapper = std::make_shared<KSJSONKeyMapper>();
  mapper->isDictionary_ = true;
  for (auto& [json, model] : jsonToModel) {
    // The map is walked in key order, so of two JSON keys for one property the first one
    // in that order is kept: the same answer on every run.
    mapper->toJSON_.emplace(model, json);
    mapper->toModel_.emplace(json, model);
  }
  return mapper;
}

std::shared_ptr<KSJSONKeyMapper> KSJSONKeyMapper::initWithJSONToModelBlock(KeyBlock jsonToModel, KeyBlock modelToJSON) {
  auto mapper = std::make_shared<KSJSONKeyMapper>();
  mapper->jsonToModelBlock_ = std::move(jsonToModel);
  mapper->modelToJSONBlock_ = std::move(modelToJSON);
  return mapper;
}

std::string KSJSONKeyMapper::applyBlock(const KeyBlock& block, Memo& memo, std::string_view value) const {
  if (!block) return std::string(value);
  {
    std::lock_guard lock(memo.mutex);
    if (auto it = memo.answers.find(value); it != memo.answers.end()) return it->second;
  }
  // The function runs outside the lock: it is the caller's code and may be slow.
  std::string answer = block(value);
  std::lock_guard lock(memo.mutex);
  memo.answers.emplace(std::string(value), answer);
  return answer;
}

std::string KSJSONKeyMapper::convertValue(std::string_view value, bool isImportingToModel) const {
  if (isDictionary_) {
    const auto& lookup = isImportingToModel ? toJSON_ : toModel_;
    if (auto it = lookup.find(value); it != lookup.end()) return it->second;
    return std::string(value);
  }
  return isImportingToModel ? applyBlock(modelToJSONBlock_, toJSONMemo_, value)
                            : applyBlock(jsonToModelBlock_, toModelMemo_, value);
}

namespace {

bool isAsciiAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// address_line_1 -> addressLine1: every word capitalised (first letter upper, the rest
// lower; a word starts after any character that is not a letter or digit), every "_"
// removed, then the first character lower-cased.
std::string underscoreToCamel(std::string_view key) {
  if (key.find('_') == std::string_view::npos) return std::string(key);
  std::string out;
  bool wordStart = true;
  for (char c : key) {
    const bool alnum = isAsciiAlnum(c);
    if (c != '_') out += alnum ? (wordStart ? upper(c) : lower(c)) : c;
    wordStart = !alnum;
  }
  if (!out.empty()) out[0] = lower(out[0]);
  return out;
}

// addressLine1 -> address_line_1: each upper-case letter becomes "_" and its lower-case
// form, then each run of digits gets a "_" in front.
std::string camelToUnderscore(std::string_view name) {
  std::string lowered;
  for (char c : name) {
    if (std::isupper(static_cast<unsigned char>(c))) {
      lowered += '_';
      lowered += lower(c);
    } else {
      lowered += c;
    }
  }
  std::string out;
  bool inDigits = false;
  for (char c : lowered) {
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (digit && !inDigits) out += '_';
    inDigits = digit;
    out += c;
  }
  return out;
}

}  // namespace

std::shared_ptr<KSJSONKeyMapper> KSJSONKeyMapper::mapperFromUnderscoreCaseToCamelCase() {
  return initWithJSONToModelBlock(underscoreToCamel, camelToUnderscore);
}

std::shared_ptr<KSJSONKeyMapper> KSJSONKeyMapper::mapperFromUpperCaseToLowerCase() {
  return initWithJSONToModelBlock(
      [](std::string_view key) {
        std::string out(key);
        for (char& c : out) c = lower(c);
        return out;
      },
      [](std::string_view name) {
        std::string out(name);
        for (char& c : out) c = upper(c);
        return out;
      });
}

}  // namespace velmora::kestrine
