#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "beacons/microlocation/KSEventFilterContext.h"
#include "beacons/storage/KSEventSummary.h"
#include "beacons/microlocation/KSTrigger.h"
#include "beacons/model/KSEvent.h"

namespace velmora::platform {
class Clock;
namespace app {
class Application;
}
}  // namespace velmora::platform

namespace velmora::kestrine {

class KSMicroLocation;

// One monitored trigger inside an event manager: the trigger, its running totals, the
// caller's handler and the filter context of the evaluation in progress. Each ranging pass
// the manager asks it to evaluate the trigger; it decides whether the trigger is finished,
// not yet live, quiet or firing, and on firing builds the event and a snapshot of the
// beacons that made it fire.
//
// A monitor is evaluated by one thread at a time (the hub's queue); the manager reads and
// writes the summary under its own lock.
class KSEventMonitor {
 public:
  using Handler = std::function<void(const std::shared_ptr<KSTriggeredEvent>&)>;
  using Beacons = KSEventFilterContext::Beacons;
  using Sites = std::vector<std::shared_ptr<KSSite>>;

  // The clock gives "now" for every pass; the app answers the background flags (none: in
  // the foreground).
  KSEventMonitor(std::shared_ptr<KSTrigger> trigger, Handler handler, std::shared_ptr<KSEventSummary> summary,
                 std::shared_ptr<const platform::Clock> clock, std::shared_ptr<platform::app::Application> app = nullptr);

  const std::shared_ptr<KSTrigger>& trigger() const { return trigger_; }
  const std::shared_ptr<KSEventSummary>& eventSummary() const { return summary_; }
  void setEventSummary(std::shared_ptr<KSEventSummary> v) { summary_ = std::move(v); }
  const Handler& eventHandler() const { return handler_; }
  const std::shared_ptr<KSEventFilterContext>& currentFilterContext() const { return context_; }

  // One evaluation against a pass's beacons (nearest first) and their cached sites. State
  // 2: used up or expired; 0: not live yet or quiet; 1: fired, with the event and snapshot.
  std::shared_ptr<KSTriggeredEvent> triggerEventWithRangedBeacons(const Beacons& beacons, const Sites& sites);
  // The same with the sites' map by site id made once for the pass (siteMapOf(sites)), so
  // that the monitors of a manager share it.
  std::shared_ptr<KSTriggeredEvent> triggerEventWithRangedBeaconsInSiteMap(
      const Beacons& beacons, const std::shared_ptr<const KSEventFilterContext::SiteMap>& siteMap);

  std::shared_ptr<KSEventFilterContext> createEventContextWithRangedBeacons(const Beacons& beacons,
                                                                            const Sites& sites) const;
  std::shared_ptr<KSEventFilterContext> createEventContextWithRangedBeacons(
      const Beacons& beacons, const std::shared_ptr<const KSEventFilterContext::SiteMap>& siteMap) const;
  // Fills the event's empty fields from the context's first remaining beacon.
  void populateEmptyPropertiesForEvent(const std::shared_ptr<KSEvent>& event,
                                       const std::shared_ptr<KSEventFilterContext>& context) const;
  // The remaining beacons and the distinct sites of theirs that the context knows.
  static std::shared_ptr<KSMicroLocation> microLocationFromEventFilterContext(const KSEventFilterContext& context);
  std::shared_ptr<KSTriggeredEvent> createDefaultTriggeredEvent() const;

  // Each site under its own site id.
  static KSEventFilterContext::SiteMap siteMapOf(const Sites& sites);

 private:

  std::shared_ptr<KSTrigger> trigger_;
  Handler handler_;
  std::shared_ptr<KSEventSummary> summary_;
  std::shared_ptr<KSEventFilterContext> context_;
  std::shared_ptr<const platform::Clock> clock_;
  std::shared_ptr<platform::app::Application> app_;
};

}  // namespace velmora::kestrine
