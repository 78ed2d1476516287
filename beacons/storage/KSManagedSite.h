#pragma once

#include <memory>
#include <optional>

#include "platform/store/StoreContext.h"

namespace velmora::kestrine {

class KSSite;

// Copies between site rows and site records, on the store's queue. The site record carries
// its identifier and name; the row's other columns stay empty until the record has them.
class KSManagedSite {
 public:
  KSManagedSite() = delete;

  // A new site row with the site's values; nullopt (logged) when the site has no siteID,
  // which the row requires.
  static std::optional<platform::store::ObjectID> managedObjectFromSite(platform::store::StoreContext& ctx,
                                                                        const KSSite& site);
  // The site's identifier and name into the row (a missing name clears it; a missing
  // identifier keeps the stored one).
  static void setValuesWithSite(platform::store::StoreContext& ctx, platform::store::ObjectID row, const KSSite& site);
  static std::shared_ptr<KSSite> toSite(platform::store::StoreContext& ctx, platform::store::ObjectID row);
};

}  // namespace velmora::kestrine
