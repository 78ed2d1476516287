#pragma once

#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace kestrine {

// One key/value pair of text the platform attaches to beacons, categories and sites; the
// micro-location features read their settings from such pairs.
class KSCustomValue : public KSJSONRecord<KSCustomValue> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& customValueID() const { return customValueID_; }
  void setCustomValueID(std::optional<std::string> v) { customValueID_ = std::move(v); }
  const std::optional<std::string>& key() const { return key_; }
  void setKey(std::optional<std::string> v) { key_ = std::move(v); }
  const std::optional<std::string>& value() const { return value_; }
  void setValue(std::optional<std::string> v) { value_ = std::move(v); }

 private:
  std::optional<std::string> customValueID_, key_, value_;
};

}  // namespace kestrine
