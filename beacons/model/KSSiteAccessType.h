#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// Whether a site is public (1) or private (2), with the server's names for it. JSON "id" is
// siteAccessTypeID.
class KSSiteAccessType : public KSNamedLookupRecord<KSSiteAccessType> {
 public:
  static const KSJSONModelClass& jsonClass();

  // 1 for a public site, 2 for a private one; the names stay empty.
  static std::shared_ptr<KSSiteAccessType> siteAccessTypeWithPublic(bool isPublic);

  std::int64_t siteAccessTypeID() const { return siteAccessTypeID_; }
  void setSiteAccessTypeID(std::int64_t v) { siteAccessTypeID_ = v; }

 private:
  std::int64_t siteAccessTypeID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
