#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// Whether a beacon is owned, shared with others or public (ids 1, 2, 3).
class KSNetworkAccessOwnership : public KSJSONRecord<KSNetworkAccessOwnership> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t networkAccessOwnershipID() const { return networkAccessOwnershipID_; }
  void setNetworkAccessOwnershipID(std::int64_t v) { networkAccessOwnershipID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }

  // The name when set, else by id: "Owned", "Shared", "Public", or "Unknown" for any other id.
  std::string description() const override;

 private:
  std::int64_t networkAccessOwnershipID_ = 0;
  std::optional<std::string> name_;
};

}  // namespace velmora::kestrine
