#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// A role a party may hold to use a beacon it does not own.
class KSNetworkAccessRole : public KSJSONRecord<KSNetworkAccessRole> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t networkAccessRoleID() const { return networkAccessRoleID_; }
  void setNetworkAccessRoleID(std::int64_t v) { networkAccessRoleID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }

  // The name (empty when it is not set).
  std::string description() const override { return name_.value_or(std::string()); }

 private:
  std::int64_t networkAccessRoleID_ = 0;
  std::optional<std::string> name_;
};

}  // namespace velmora::kestrine
