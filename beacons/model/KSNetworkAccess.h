#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSNetworkAccessOwnership.h"
#include "beacons/model/KSNetworkAccessRole.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// The terms under which a beacon may be used: its ownership, the roles permitted to use it,
// the period of use, and how long a sync stays valid before it must be revalidated. JSON keys
// equal the property names; exported in full.
class KSNetworkAccess : public KSJSONRecord<KSNetworkAccess> {
 public:
  using Roles = std::vector<std::shared_ptr<KSNetworkAccessRole>>;

  static const KSJSONModelClass& jsonClass();

  const std::optional<platform::Date>& beginsAt() const { return beginsAt_; }
  void setBeginsAt(std::optional<platform::Date> v) { beginsAt_ = v; }
  const std::optional<platform::Date>& endsAt() const { return endsAt_; }
  void setEndsAt(std::optional<platform::Date> v) { endsAt_ = v; }
  // Seconds.
  std::optional<double> maxSecondsBeforeRevalidation() const { return maxSecondsBeforeRevalidation_; }
  void setMaxSecondsBeforeRevalidation(std::optional<double> v) { maxSecondsBeforeRevalidation_ = v; }
  const std::shared_ptr<KSNetworkAccessOwnership>& ownership() const { return ownership_; }
  void setOwnership(std::shared_ptr<KSNetworkAccessOwnership> v) { ownership_ = std::move(v); }
  // In the order received.
  const std::optional<Roles>& permittedRoles() const { return permittedRoles_; }
  void setPermittedRoles(std::optional<Roles> v) { permittedRoles_ = std::move(v); }

 private:
  std::optional<platform::Date> beginsAt_, endsAt_;
  std::optional<double> maxSecondsBeforeRevalidation_;
  std::shared_ptr<KSNetworkAccessOwnership> ownership_;
  std::optional<Roles> permittedRoles_;
};

}  // namespace velmora::kestrine
