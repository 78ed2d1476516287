#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// The platform type of an app record. Exported as its identifier alone: {"id": n}.
class KSPlatformType : public KSNamedLookupRecord<KSPlatformType> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t platformTypeID() const { return platformTypeID_; }
  void setPlatformTypeID(std::int64_t v) { platformTypeID_ = v; }

 private:
  std::int64_t platformTypeID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
