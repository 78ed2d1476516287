#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

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

  // The three fields copied directly: the record the generic property-by-property copy
  // gives, without its dynamic values.
  std::shared_ptr<KSCustomValue> copy() const {
    auto c = std::make_shared<KSCustomValue>();
    c->customValueID_ = customValueID_;
    c->key_ = key_;
    c->value_ = value_;
    return c;
  }

 private:
  std::optional<std::string> customValueID_, key_, value_;
};

}  // namespace velmora::kestrine
