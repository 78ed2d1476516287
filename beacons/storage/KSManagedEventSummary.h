#pragma once

#include <memory>

#include "platform/store/StoreContext.h"

namespace velmora::kestrine {

class KSEventSummary;

// Copies between event-summary rows and summary records, on the store's queue.
class KSManagedEventSummary {
 public:
  KSManagedEventSummary() = delete;

  static void setValuesWithEventSummary(platform::store::StoreContext& ctx, platform::store::ObjectID row,
                                        const KSEventSummary& summary);
  static std::shared_ptr<KSEventSummary> toEventSummary(platform::store::StoreContext& ctx,
                                                        platform::store::ObjectID row);
  static std::shared_ptr<KSEventSummary> toEventSummary(const platform::store::Row& row);
};

}  // namespace velmora::kestrine
