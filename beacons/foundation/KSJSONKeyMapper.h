#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace velmora::kestrine {

// Translates between a record's property names and the JSON key paths they travel under.
//
// The usual form is built from a map of JSON key (or dotted key path) to property name:
//
//   KSJSONKeyMapper::initWithDictionary({{"id", "beaconID"}, {"wireframeUrl", "wireframeURLString"}})
//
// A name the map does not hold maps to itself. The function form wraps two functions and
// remembers every answer; two ready-made ones convert underscore_case and UPPER case keys.
// Mappers are shared, immutable in what they answer, and safe to use from any thread.
class KSJSONKeyMapper {
 public:
  using KeyBlock = std::function<std::string(std::string_view)>;

  // A mapper without functions: both directions answer the input unchanged.
  KSJSONKeyMapper();
  KSJSONKeyMapper(const KSJSONKeyMapper&) = delete;
  KSJSONKeyMapper& operator=(const KSJSONKeyMapper&) = delete;

  // JSON key path to property name. When two JSON keys name the same property, the
  // property exports under the one that sorts first.
  static std::shared_ptr<KSJSONKeyMapper> initWithDictionary(std::map<std::string, std::string> jsonToModel);
  static std::shared_ptr<KSJSONKeyMapper> initWithDictionary(
      std::initializer_list<std::pair<const std::string, std::string>> jsonToModel) {
    return initWithDictionary(std::map<std::string, std::string>(jsonToModel));
  }
  // Two functions, each answer remembered per input.
  static std::shared_ptr<KSJSONKeyMapper> initWithJSONToModelBlock(KeyBlock jsonToModel, KeyBlock modelToJSON);

  // address_line_1 <-> addressLine1.
  static std::shared_ptr<KSJSONKeyMapper> mapperFromUnderscoreCaseToCamelCase();
  // NAME <-> name.
  static std::shared_ptr<KSJSONKeyMapper> mapperFromUpperCaseToLowerCase();

  // true: property name to JSON key path (what the model layer asks, for import and export
  // alike); false: JSON key to property name.
  std::string convertValue(std::string_view value, bool isImportingToModel) const;

 private:
  struct Memo {
    std::mutex mutex;
    std::map<std::string, std::string, std::less<>> answers;
  };
  std::string applyBlock(const KeyBlock& block, Memo& memo, std::string_view value) const;

  // Dictionary form.
  bool isDictionary_ = false;
  std::map<std::string, std::string, std::less<>> toModel_;
  std::map<std::string, std::string, std::less<>> toJSON_;
  // Function form.
  KeyBlock jsonToModelBlock_;
  KeyBlock modelToJSONBlock_;
  mutable Memo toModelMemo_;
  mutable Memo toJSONMemo_;
};

}  // namespace velmora::kestrine
