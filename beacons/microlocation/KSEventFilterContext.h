#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSEvent.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;

// The working record of one trigger's evaluation: the beacons still in play (each filter's
// output replaces them), the event being built, the trigger's firing history as it stood
// when the context was made, the sites of the ranged beacons, and the moment of the pass,
// which every filter takes as "now".
class KSEventFilterContext {
 public:
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using SiteMap = std::map<std::string, std::shared_ptr<KSSite>>;

  // Absent and empty both mean no beacons remain.
  const std::optional<Beacons>& beaconsToFilter() const { return beaconsToFilter_; }
  void setBeaconsToFilter(std::optional<Beacons> v) { beaconsToFilter_ = std::move(v); }
  bool hasBeaconsRemaining() const { return beaconsToFilter_ && !beaconsToFilter_->empty(); }

  const std::shared_ptr<KSEvent>& event() const { return event_; }
  void setEvent(const std::shared_ptr<KSEvent>& v) { event_ = v ? v->copy() : nullptr; }

  // 0 not triggered, 1 triggered.
  std::int32_t triggerState() const { return triggerState_; }
  void setTriggerState(std::int32_t v) { triggerState_ = v; }
  std::int64_t triggeredCount() const { return triggeredCount_; }
  void setTriggeredCount(std::int64_t v) { triggeredCount_ = v; }
  const std::optional<platform::Date>& firstTriggeredAt() const { return firstTriggeredAt_; }
  void setFirstTriggeredAt(std::optional<platform::Date> v) { firstTriggeredAt_ = v; }
  const std::optional<platform::Date>& lastTriggeredAt() const { return lastTriggeredAt_; }
  void setLastTriggeredAt(std::optional<platform::Date> v) { lastTriggeredAt_ = v; }

  const SiteMap& siteForSiteID() const {
    static const SiteMap& empty = *new SiteMap();
    return siteForSiteID_ ? *siteForSiteID_ : empty;
  }
  void setSiteForSiteID(SiteMap v) { siteForSiteID_ = std::make_shared<const SiteMap>(std::move(v)); }
  // The same map for every context of a pass: the map is never changed once made, so the
  // monitors of one manager share it instead of each building its own.
  void setSharedSiteForSiteID(std::shared_ptr<const SiteMap> v) { siteForSiteID_ = std::move(v); }

  // The moment of the evaluation.
  platform::Date now() const { return now_; }
  void setNow(platform::Date v) { now_ = v; }

 private:
  std::optional<Beacons> beaconsToFilter_;
  std::shared_ptr<KSEvent> event_;
  std::int32_t triggerState_ = 0;
  std::int64_t triggeredCount_ = 0;
  std::optional<platform::Date> firstTriggeredAt_, lastTriggeredAt_;
  std::shared_ptr<const SiteMap> siteForSiteID_;
  platform::Date now_;
};

// What every event filter answers: the beacons of the context that pass (or none), and
// whether it also runs when no beacons remain (no by default).
class KSEventFiltering {
 public:
  using Beacons = KSEventFilterContext::Beacons;
  virtual ~KSEventFiltering() = default;
  virtual std::optional<Beacons> filterBeaconsForEvent(KSEventFilterContext& context) = 0;
  virtual bool shouldApplyFilterWhenNoBeaconsRemaining() const { return false; }
};

}  // namespace velmora::kestrine
