#include "beacons/microlocation/KSEventMonitor.h"

#include <unordered_set>

#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"
#include "platform/core/Clock.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {

KSEventMonitor::KSEventMonitor(std::shared_ptr<KSTrigger> trigger, Handler handler,
                               std::shared_ptr<KSEventSummary> summary, std::shared_ptr<const platform::Clock> clock,
                               std::shared_ptr<platform::app::Application> app)
    : trigger_(std::move(trigger)),
      handler_(std::move(handler)),
      summary_(summary ? std::move(summary) : std::make_shared<KSEventSummary>()),
      clock_(std::move(clock)),
      app_(std::move(app)) {
  if (!clock_) clock_ = std::make_shared<platform::SystemClock>();
}

KSEventFilterContext::SiteMap KSEventMonitor::siteMapOf(const Sites& sites) {
  KSEventFilterContext::SiteMap map;
  for (const auto& site : sites) {
    if (!site) continue;
    if (auto id = site->siteID()) map[*id] = site;
  }
  return map;
}

std::shared_ptr<KSEventFilterContext> KSEventMonitor::createEventContextWithRangedBeacons(const Beacons& beacons,
                                                                                         const Sites& sites) const {
  return createEventContextWithRangedBeacons(beacons,
                                             std::make_shared<const KSEventFilterContext::SiteMap>(siteMapOf(sites)));
}

std::shared_ptr<KSEventFilterContext> KSEventMonitor::createEventContextWithRangedBeacons(
    const Beacons& beacons, const std::shared_ptr<const KSEventFilterContext::SiteMap>& siteMap) const {
  auto context = std::make_shared<KSEventFilterContext>();
  auto event = std::make_shared<KSEvent>();
  event->setEventID(platform::Uuid::random().string());
  event->setEventIdentifier(trigger_->eventIdentifier());
  event->setEventName(trigger_->eventName());
  context->setEvent(event);
  context->setFirstTriggeredAt(summary_->firstTriggeredAt());
  context->setLastTriggeredAt(summary_->lastTriggeredAt());
  context->setTriggeredCount(summary_->triggeredCount());
  context->setBeaconsToFilter(beacons);
  context->setSharedSiteForSiteID(siteMap);
  return context;
}

std::shared_ptr<KSTriggeredEvent> KSEventMonitor::triggerEventWithRangedBeacons(const Beacons& beacons,
                                                                               const Sites& sites) {
  return triggerEventWithRangedBeaconsInSiteMap(beacons,
                                                std::make_shared<const KSEventFilterContext::SiteMap>(siteMapOf(sites)));
}

std::shared_ptr<KSTriggeredEvent> KSEventMonitor::triggerEventWithRangedBeaconsInSiteMap(
    const Beacons& beacons, const std::shared_ptr<const KSEventFilterContext::SiteMap>& siteMap) {
  auto result = std::make_shared<KSTriggeredEvent>();
  const platform::Date now = clock_->now();

  if (summary_->triggeredCount() > trigger_->repeatCount()) {
    result->triggerState = 2;
    return result;
  }
  if (auto expires = trigger_->expiresAt(); expires && *expires < now) {
    result->triggerState = 2;
    return result;
  }
  if (auto from = trigger_->validFrom(); from && *from > now) return result;

  if (context_ && context_->triggerState() == 0) {
    context_->setBeaconsToFilter(beacons);
    context_->setSharedSiteForSiteID(siteMap);
  } else {
    context_ = createEventContextWithRangedBeacons(beacons, siteMap);
  }
  context_->setNow(now);

  for (const auto& filter : trigger_->allFilters()) {
    if (!filter) continue;
    if (!context_->hasBeaconsRemaining()) {
      if (!filter->shouldApplyFilterWhenNoBeaconsRemaining()) continue;
      context_->setBeaconsToFilter(Beacons{});
    }
    context_->setBeaconsToFilter(filter->filterBeaconsForEvent(*context_));
  }

  if (context_->triggerState() == 0 && context_->hasBeaconsRemaining()) context_->setTriggerState(1);
  if (context_->triggerState() != 1) return result;

  summary_->setLastTriggeredAt(now);
  if (!summary_->firstTriggeredAt()) summary_->setFirstTriggeredAt(now);
  summary_->setTriggeredCount(summary_->triggeredCount() + 1);

  result->triggerState = 1;
  result->firstTriggeredAt = summary_->firstTriggeredAt();
  result->lastTriggeredAt = summary_->lastTriggeredAt();
  result->triggeredCount = summary_->triggeredCount();
  result->filteredMicroLocation = microLocationFromEventFilterContext(*context_);
  result->event = context_->event() ? context_->event()->copy() : nullptr;
  populateEmptyPropertiesForEvent(result->event, context_);
  return result;
}

namespace {

bool isEmpty(const std::optional<std::string>& text) { return !text || text->empty(); }
bool isEmpty(const platform::Value& value) { return value.isAbsent() || value.isNull(); }

}  // namespace

void KSEventMonitor::populateEmptyPropertiesForEvent(const std::shared_ptr<KSEvent>& event,
                                                     const std::shared_ptr<KSEventFilterContext>& context) const {
  if (!event || !context || !context->hasBeaconsRemaining()) return;
  const auto& b = context->beaconsToFilter()->front();
  if (!b) return;
  if (isEmpty(event->siteID())) event->setSiteID(b->siteID());
  if (isEmpty(event->siteName())) event->setSiteName(b->siteName());
  if (isEmpty(event->beaconID())) event->setBeaconID(b->beaconID());
  if (isEmpty(event->beaconName())) event->setBeaconName(b->name());
  if (isEmpty(event->categoryID())) {
    auto categories = b->categories();
    if (categories && !categories->empty() && categories->front()) {
      const auto& category = categories->front();
      event->setCategoryID(category->categoryID());
      if (isEmpty(event->categoryName())) event->setCategoryName(category->name());
    }
  }
  if (isEmpty(event->rssi())) event->setRssi(b->rssi());
  if (isEmpty(event->accuracy())) event->setAccuracy(platform::Value(b->accuracy()));
  if (!event->beganAt()) event->setBeganAt(clock_->now());
  if (!event->endedAt()) event->setEndedAt(event->beganAt());
  if (auto mapPoint = b->mapPoint()) {
    if (isEmpty(event->mapID())) event->setMapID(mapPoint->mapID());
    if (auto point = mapPoint->point()) {
      if (isEmpty(event->mapX())) event->setMapX(platform::Value(static_cast<float>(point->x())));
      if (isEmpty(event->mapY())) event->setMapY(platform::Value(static_cast<float>(point->y())));
    }
  }
  const bool background = KSDefinitionsInternal::isAppInBackground(app_.get());
  if (!event->beganInBackground()) event->setBeganInBackground(background);
  if (!event->endedInBackground()) event->setEndedInBackground(background);
}

std::shared_ptr<KSMicroLocation> KSEventMonitor::microLocationFromEventFilterContext(
    const KSEventFilterContext& context) {
  static const Beacons& none = *new Beacons();
  const Beacons& beacons = context.beaconsToFilter() ? *context.beaconsToFilter() : none;
  const auto& siteMap = context.siteForSiteID();
  Sites sites;
  // Each entry of the map is taken once; once all are, the other beacons add no site.
  std::unordered_set<const KSEventFilterContext::SiteMap::value_type*> taken;
  if (!siteMap.empty()) {
    for (const auto& beacon : beacons) {
      if (!beacon) continue;
      auto id = beacon->siteID();
      if (!id) continue;
      auto it = siteMap.find(*id);
      if (it == siteMap.end()) continue;
      if (!taken.insert(&*it).second) continue;
      sites.push_back(it->second);
      if (sites.size() == siteMap.size()) break;
    }
  }
  return KSMicroLocation::initWithSites(sites, beacons);
}

std::shared_ptr<KSTriggeredEvent> KSEventMonitor::createDefaultTriggeredEvent() const {
  auto result = std::make_shared<KSTriggeredEvent>();
  result->event = std::make_shared<KSEvent>();
  result->event->setEventIdentifier(trigger_->eventIdentifier());
  return result;
}

}  // namespace velmora::kestrine
