#include "beacons/microlocation/KSZoneMonitor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSMTDates.h"
#include "beacons/foundation/KSOptionValue.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSZone.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/text/CaseText.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kDwellTimePart = "dwelltime";
constexpr std::string_view kInZoneAfterTimeRangePart = "inzoneaftertimerange";

// The internal site manager as the monitor's site source.
class SiteManagerSource : public KSZoneSiteSource {
 public:
  explicit SiteManagerSource(std::shared_ptr<KSSiteManagerInternal> manager) : manager_(std::move(manager)) {}
  Sites allCachedSites() override { return manager_ ? manager_->allCachedSites() : Sites(); }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) override {
    return manager_ ? manager_->cachedSiteWithSiteID(siteID) : nullptr;
  }
  // The monitor is registered as its own class: the site manager's multicast reads from the
  // class which messages a subscriber handles, and a subscriber registered as the bare
  // protocol counts as handling none (the monitor would hear no site entry, exit or sync).
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> delegate) override {
    if (!manager_) return;
    if (auto monitor = std::dynamic_pointer_cast<KSZoneMonitor>(delegate)) {
      manager_->addDelegate(monitor);
    } else {
      manager_->addDelegate(std::move(delegate));
    }
  }
  void removeDelegate(const KSSiteManagerInternalDelegate* delegate) override {
    if (manager_) manager_->removeDelegate(delegate);
  }

 private:
  std::shared_ptr<KSSiteManagerInternal> manager_;
};

// Lower case by the root locale; plain ASCII (the usual key) without a trip through ICU,
// where the root rules map exactly A-Z to a-z.
std::string folded(std::string_view text) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (!ascii) return platform::text::lowercased(text);
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const auto at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

// The leading POSIX float of a text; 0 for none or one that is not finite.
float leadingFloat(const std::string& text) {
  const float v = option::floatValue(platform::Value(text)).value_or(0.0f);
  return std::isfinite(v) ? v : 0.0f;
}

std::int64_t leadingInteger(const std::string& text) {
  return option::integerValue(platform::Value(text)).value_or(0);
}

std::uint64_t distance(std::int64_t a, std::int64_t b) {
  return a >= b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

}  // namespace

// --- creation ----------------------------------------------------------------------------

KSZoneMonitor::KSZoneMonitor(Token, Ports ports) : ports_(std::move(ports)) {}

std::shared_ptr<KSZoneMonitor> KSZoneMonitor::create(Ports ports) {
  // Without its scheduler, centre, sites and session, the monitor is the host app's and finds
  // everything not given in the registry. Given those, the registry stays out of it (no
  // stored dates without defaults).
  const bool complete = ports.scheduler && ports.center && ports.sites && ports.isCurrentlyInSession;
  std::shared_ptr<KSInstanceProvider> provider = complete ? nullptr : KSInstanceProvider::sharedProvider();
  if (provider) {
    const auto& platform = provider->platform();
    if (!ports.scheduler) ports.scheduler = platform.scheduler;
    if (!ports.center) ports.center = platform.notificationCenter;
    if (!ports.sites) ports.sites = std::make_shared<SiteManagerSource>(KSSiteManagerInternal::sharedInternal(*provider));
    if (!ports.isCurrentlyInSession) {
      ports.isCurrentlyInSession = [] {
        auto sessions = KSSessionManager::sharedManager();
        return sessions && sessions->isCurrentlyInSession();
      };
    }
    if (!ports.defaults) ports.defaults = KSUserDefaultsManager::sharedManager(*provider);
  }
  if (!ports.scheduler) ports.scheduler = platform::dispatch::Scheduler::shared();
  if (!ports.eventManager.scheduler) ports.eventManager.scheduler = ports.scheduler;
  auto monitor = std::make_shared<KSZoneMonitor>(Token{}, std::move(ports));
  monitor->eventManager_ = KSEventManager::create(monitor->ports_.eventManager, provider.get());
  monitor->setUp();
  return monitor;
}

void KSZoneMonitor::setUp() {
  queue_ = ports_.scheduler->mainQueue();
  if (ports_.sites) {
    ports_.sites->addDelegate(shared_from_this());
    configureWithSites(ports_.sites->allCachedSites());
  }
  if (ports_.defaults) {
    // After the first configuration: records made during creation start unsuspended.
    auto suspended = ports_.defaults->loadSuspendedZoneMonitoringAt();
    auto resumed = ports_.defaults->loadResumedZoneMonitoringAt();
    std::lock_guard lock(mutex_);
    suspendedZoneMonitoringAt_ = suspended;
    resumedZoneMonitoringAt_ = resumed;
  }
  if (ports_.center) {
    std::weak_ptr<KSZoneMonitor> weak = shared_from_this();
    auto begin = [weak](const platform::Notification&) {
      if (auto self = weak.lock()) self->sessionDidBegin();
    };
    observers_.push_back(ports_.center->addObserver(std::string(KSSessionManagerNotificationDidBeginSession), nullptr,
                                                    nullptr, begin));
    observers_.push_back(ports_.center->addObserver(std::string(KSSessionManagerNotificationDidResumeSession), nullptr,
                                                    nullptr, begin));
    observers_.push_back(ports_.center->addObserver(std::string(KSSessionManagerNotificationDidEndSession), nullptr,
                                                    nullptr, [weak](const platform::Notification&) {
                                                      if (auto self = weak.lock()) self->sessionDidEnd();
                                                    }));
  }
  std::lock_guard lock(mutex_);
  currentlyInSession_ = ports_.isCurrentlyInSession && ports_.isCurrentlyInSession();
  startTimer();
}

KSZoneMonitor::~KSZoneMonitor() {
  if (ports_.center) {
    for (const auto& token : observers_) ports_.center->removeObserver(token);
  }
  if (ports_.sites) ports_.sites->removeDelegate(this);
  std::lock_guard lock(mutex_);
  cancelTimer();
}

platform::Date KSZoneMonitor::now() const { return ports_.scheduler->clock()->now(); }

// --- accessors ---------------------------------------------------------------------------

std::shared_ptr<KSZoneMonitorDelegate> KSZoneMonitor::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void KSZoneMonitor::setDelegate(const std::shared_ptr<KSZoneMonitorDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
std::shared_ptr<platform::dispatch::Queue> KSZoneMonitor::queue() const {
  std::lock_guard lock(mutex_);
  return queue_;
}
void KSZoneMonitor::setQueue(std::shared_ptr<platform::dispatch::Queue> queue) {
  std::lock_guard lock(mutex_);
  queue_ = queue ? std::move(queue) : ports_.scheduler->mainQueue();
}
std::vector<std::string> KSZoneMonitor::zoneIdentifierKeys() const {
  std::lock_guard lock(mutex_);
  return zoneIdentifierKeys_;
}
void KSZoneMonitor::setZoneIdentifierKeys(std::vector<std::string> keys) {
  std::lock_guard lock(mutex_);
  zoneIdentifierKeys_ = std::move(keys);
}
bool KSZoneMonitor::isZoneMonitoringEnabled() const {
  std::lock_guard lock(mutex_);
  return zoneMonitoringEnabled_;
}
std::optional<platform::Date> KSZoneMonitor::suspendedZoneMonitoringAt() const {
  std::lock_guard lock(mutex_);
  return suspendedZoneMonitoringAt_;
}
std::optional<platform::Date> KSZoneMonitor::resumedZoneMonitoringAt() const {
  std::lock_guard lock(mutex_);
  return resumedZoneMonitoringAt_;
}

template <class M, class... A>
void KSZoneMonitor::tell(M method, A... args) {
  if (delegate_.expired() || !queue_) return;
  auto self = shared_from_this();
  queue_->async([self, method, args...] {
    auto delegate = self->delegate();
    if (delegate) std::invoke(method, *delegate, self, args...);
  });
}

std::shared_ptr<KSSite> KSZoneMonitor::cachedSite(const std::string& siteID) const {
  if (siteID.empty() || !ports_.sites) return nullptr;
  return ports_.sites->cachedSiteWithSiteID(siteID);
}

// --- configuration -------------------------------------------------------------------------

KSZoneSiteConfiguration KSZoneMonitor::configurationFromCustomValues(
    const std::vector<std::shared_ptr<KSCustomValue>>& values) {
  KSZoneSiteConfiguration out;
  for (const auto& customValue : values) {
    if (!customValue || !customValue->key()) continue;
    const std::string& key = *customValue->key();
    const std::string value = customValue->value().value_or("");
    const auto parts = split(folded(key), '_');
    if (parts.size() >= 2) {
      auto at = std::find(parts.begin(), parts.end(), kDwellTimePart);
      if (at != parts.end()) {
        if (at != parts.begin()) out.dwellTimeForZone[*(at - 1)] = leadingFloat(value);
        continue;
      }
      at = std::find(parts.begin(), parts.end(), kInZoneAfterTimeRangePart);
      if (at != parts.end()) {
        if (at != parts.begin()) {
          const auto pieces = split(value, ',');
          if (pieces.size() == 2) {
            const std::int64_t a = leadingInteger(pieces[0]);
            const std::int64_t b = leadingInteger(pieces[1]);
            out.inZoneAfterTimeForZone[*(at - 1)] = KSZoneTimeRange{a, distance(b, a)};
          }
        }
        continue;
      }
    }
    if (key == KSZoneMonitorSuspensionTimeKey) out.suspensionTime = leadingFloat(value);
  }
  return out;
}

void KSZoneMonitor::configureWithSites(const std::vector<std::shared_ptr<KSSite>>& sites) {
  const auto at = now();
  std::lock_guard lock(mutex_);
  for (const auto& site : sites) {
    if (!site || !site->isSyncedOrRestored()) continue;
    const auto siteID = site->siteID();
    if (!siteID) continue;
    const auto config = configurationFromCustomValues(site->customValues().value_or(KSSite::CustomValues()));
    auto& info = siteInfoForSiteID_[*siteID];
    for (const auto& [zone, dwell] : config.dwellTimeForZone) info.dwellTimeForZoneIdentifier[zone] = dwell;
    for (const auto& [zone, window] : config.inZoneAfterTimeForZone) info.inZoneAfterTimeForZoneIdentifier[zone] = window;
    if (config.suspensionTime) {
      configureSuspensionTime(info, *config.suspensionTime, at);
    } else {
      info.suspensionInfo.reset();
    }
  }
}

std::optional<float> KSZoneMonitor::dwellTimeForZone(const std::string& siteID, const std::string& zone) const {
  std::lock_guard lock(mutex_);
  auto site = siteInfoForSiteID_.find(siteID);
  if (site == siteInfoForSiteID_.end()) return std::nullopt;
  auto it = site->second.dwellTimeForZoneIdentifier.find(zone);
  if (it == site->second.dwellTimeForZoneIdentifier.end()) return std::nullopt;
  return it->second;
}

std::optional<KSZoneTimeRange> KSZoneMonitor::inZoneAfterTimeRangeForZone(const std::string& siteID,
                                                                          const std::string& zone) const {
  std::lock_guard lock(mutex_);
  auto site = siteInfoForSiteID_.find(siteID);
  if (site == siteInfoForSiteID_.end()) return std::nullopt;
  auto it = site->second.inZoneAfterTimeForZoneIdentifier.find(zone);
  if (it == site->second.inZoneAfterTimeForZoneIdentifier.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<KSZone> KSZoneMonitor::zoneForIdentifier(const std::string& siteID, const std::string& zone) const {
  std::lock_guard lock(mutex_);
  auto site = siteInfoForSiteID_.find(siteID);
  if (site == siteInfoForSiteID_.end()) return nullptr;
  auto it = site->second.zoneInfoForZoneIdentifier.find(zone);
  return it == site->second.zoneInfoForZoneIdentifier.end() ? nullptr : it->second.zone;
}

// --- monitoring ----------------------------------------------------------------------------

void KSZoneMonitor::startMonitoringZones() {
  std::lock_guard lock(mutex_);
  if (zoneMonitoringEnabled_) return;
  zoneMonitoringEnabled_ = true;
  const std::string identifier(KSZoneMonitorTriggerIdentifier);
  eventManager_->removeMonitoredEvent(identifier);

  // The keys in lower case, once for the trigger's life; the filter and the pass both
  // match category keys against them ignoring case.
  auto keys = std::make_shared<const std::set<std::string>>([this] {
    std::set<std::string> out;
    for (const auto& key : zoneIdentifierKeys_) out.insert(folded(key));
    return out;
  }());
  auto filter = KSEventFilter::filterByPredicate([keys](const KSBeacon& beacon) {
    return KSEventFilter::beaconHasCategoryMatchingPredicate(beacon, [&keys](const KSCategory& category) {
      return category.hasCustomValueKey([&keys](const std::string& key) { return keys->count(folded(key)) > 0; });
    });
  });
  auto trigger = KSTrigger::initWithIdentifier(identifier, {filter});
  trigger->setRepeatCount(std::numeric_limits<std::int64_t>::max());
  std::weak_ptr<KSZoneMonitor> weak = shared_from_this();
  eventManager_->monitorEventWithTrigger(trigger, [weak, keys](const std::shared_ptr<KSTriggeredEvent>& event) {
    if (auto self = weak.lock()) self->handleRangingPass(event, *keys);
  });
}

void KSZoneMonitor::stopMonitoringZones() {
  std::lock_guard lock(mutex_);
  zoneMonitoringEnabled_ = false;
  eventManager_->removeAllMonitoredEvents();
}

void KSZoneMonitor::handleRangingPass(const std::shared_ptr<KSTriggeredEvent>& event,
                                      const std::set<std::string>& foldedKeys) {
  if (!currentlyInSession_.load() || !event) return;
  auto location = std::dynamic_pointer_cast<KSMicroLocation>(event->filteredMicroLocation);
  if (!location) return;
  const auto at = now();

  // A zone's beacons of this pass, in the order they were ranged and each once.
  struct Ranged {
    std::shared_ptr<KSZone> zone;
    KSZoneMonitorDelegate::Beacons beacons;
  };
  std::map<std::string, std::map<std::string, Ranged>> rangedInZone;

  // A beacon reaches a zone once per matching custom value. The beacons are taken one after
  // the other, so while the list holds each beacon once, a beacon already in a zone's list is
  // the last one there; searching the whole list made the pass quadratic in the beacons of a
  // zone. Only a list that names a beacon twice needs the search.
  const auto passBeacons = location->beacons();
  bool repeats = false;
  {
    std::vector<const KSBeacon*> order;
    order.reserve(passBeacons.size());
    for (const auto& beacon : passBeacons) order.push_back(beacon.get());
    std::sort(order.begin(), order.end());
    repeats = std::adjacent_find(order.begin(), order.end()) != order.end();
  }

  std::lock_guard lock(mutex_);
  for (const auto& beacon : passBeacons) {
    if (!beacon) continue;
    const std::string siteID = beacon->siteID().value_or("");
    if (isZoneMonitoringSuspendedInSiteID(siteID, true)) continue;
    auto site = cachedSite(siteID);
    if (!site || !site->isSyncedOrRestored()) continue;
    if (shouldSuspendZoneMonitoringInSiteID(siteID)) {
      suspendZoneMonitoringInSiteID(siteID);
      continue;
    }
    auto& info = siteInfoForSiteID_[siteID];
    for (const auto& category : beacon->categories().value_or(std::vector<std::shared_ptr<KSCategory>>())) {
      if (!category) continue;
      for (const auto& customValue : category->customValues().value_or(KSCategory::CustomValues())) {
        if (!customValue || !customValue->key() || !foldedKeys.count(folded(*customValue->key()))) continue;
        const std::string zoneID = folded(customValue->value().value_or(""));
        auto found = info.zoneInfoForZoneIdentifier.find(zoneID);
        const bool isNew = found == info.zoneInfoForZoneIdentifier.end();
        if (isNew) {
          auto zone = std::make_shared<KSZone>();
          zone->setSite(site);
          zone->setIdentifier(zoneID);
          zone->setEnteredZoneAt(at);
          found = info.zoneInfoForZoneIdentifier.emplace(zoneID, ZoneEntry{*customValue->key(), zone, 0, 0}).first;
        }
        ZoneEntry& entry = found->second;
        const auto& zone = entry.zone;
        std::optional<float> dwell;
        if (auto d = info.dwellTimeForZoneIdentifier.find(zoneID); d != info.dwellTimeForZoneIdentifier.end()) {
          dwell = d->second;
        }
        KSZoneTimeRange window;
        if (auto w = info.inZoneAfterTimeForZoneIdentifier.find(zoneID);
            w != info.inZoneAfterTimeForZoneIdentifier.end()) {
          window = w->second;
        }

        if (isNew || zone->zoneState() != 1) {
          zone->setZoneState(1);
          zone->setEntryCount(zone->entryCount() + 1);
          if (isNew) {
            tell(&KSZoneMonitorDelegate::zoneMonitorDidEnterZone, zone);
          } else {
            zone->setReenteredZoneAt(at);
            tell(&KSZoneMonitorDelegate::zoneMonitorDidReEnterZone, zone);
          }
          if (shouldSuspendZoneMonitoringInSiteID(siteID)) suspendZoneMonitoringInSiteID(siteID);
        } else {
          const auto lastEntered = zone->lastEntered();
          if (dwell && entry.dwellStatus == 0 && lastEntered &&
              static_cast<double>(*dwell) < at.timeIntervalSince(*lastEntered)) {
            tell(&KSZoneMonitorDelegate::zoneMonitorDidDwellInZoneForTimeInterval, zone, static_cast<double>(*dwell));
            entry.dwellStatus = 1;
          }
          const auto entered = zone->enteredZoneAt();
          if (window.length != 0 && entry.windowStatus == 0 && entered) {
            const double elapsed = at.timeIntervalSince(*entered);
            const long double from = static_cast<long double>(window.location);
            const long double to = from + static_cast<long double>(window.length);
            if (elapsed > from && elapsed < to) {
              tell(&KSZoneMonitorDelegate::zoneMonitorInZoneAfterTimeForRange, zone, elapsed, window);
              entry.windowStatus = 1;
            }
          }
        }
        zone->setLastRangedBeaconsInZoneAt(at);
        auto& inZone = rangedInZone[siteID][zoneID];
        inZone.zone = zone;
        const bool listed =
            repeats ? std::find(inZone.beacons.begin(), inZone.beacons.end(), beacon) != inZone.beacons.end()
                    : !inZone.beacons.empty() && inZone.beacons.back() == beacon;
        if (!listed) inZone.beacons.push_back(beacon);
      }
    }
  }
  for (const auto& [siteID, zones] : rangedInZone) {
    for (const auto& [zoneID, ranged] : zones) {
      tell(&KSZoneMonitorDelegate::zoneMonitorDidRangeBeaconsInZone, ranged.beacons, ranged.zone);
    }
  }
}

// --- exits and the timer ---------------------------------------------------------------------

void KSZoneMonitor::exitZone(ZoneEntry& entry) {
  const auto& zone = entry.zone;
  if (!zone || zone->zoneState() != 1) return;
  zone->setZoneState(2);
  zone->setExitedZoneAt(now());
  entry.dwellStatus = 0;
  tell(&KSZoneMonitorDelegate::zoneMonitorDidExitZone, zone);
}

void KSZoneMonitor::checkForZoneExits() {
  const auto at = now();
  std::lock_guard lock(mutex_);
  for (auto& [siteID, info] : siteInfoForSiteID_) {
    for (auto& [zoneID, entry] : info.zoneInfoForZoneIdentifier) {
      if (!entry.zone || entry.zone->zoneState() != 1) continue;
      const auto last = entry.zone->lastRangedBeaconsInZoneAt();
      if (last && at.timeIntervalSince(*last) > kExitAfterSilence) exitZone(entry);
    }
  }
}

void KSZoneMonitor::startTimer() {
  std::lock_guard lock(mutex_);
  cancelTimer();
  if (!currentlyInSession_.load()) return;
  timer_ = KSGCDTimer::initWithDispatchQueue(ports_.scheduler->globalQueue(), KSGCDTimerDefaultLeeway,
                                             std::string("com.kestrine.zoneMonitor.exitCheck"), ports_.scheduler);
  std::weak_ptr<KSZoneMonitor> weak = weak_from_this();
  timer_->scheduleBlock(
      [weak] {
        if (auto self = weak.lock()) {
          self->checkForZoneExits();
          self->startTimer();
        }
      },
      kExitCheckInterval);
}

void KSZoneMonitor::cancelTimer() {
  std::lock_guard lock(mutex_);
  if (timer_) timer_->invalidate();
  timer_.reset();
}

// --- sessions --------------------------------------------------------------------------------

void KSZoneMonitor::sessionDidBegin() {
  std::lock_guard lock(mutex_);
  const bool wasInSession = currentlyInSession_.exchange(true);
  if (!wasInSession) startTimer();
}

void KSZoneMonitor::sessionDidEnd() {
  std::lock_guard lock(mutex_);
  currentlyInSession_ = false;
  cancelTimer();
  for (auto& [siteID, info] : siteInfoForSiteID_) {
    for (auto& [zoneID, entry] : info.zoneInfoForZoneIdentifier) exitZone(entry);
    info.zoneInfoForZoneIdentifier.clear();
  }
}

// --- the site manager ----------------------------------------------------------------------

void KSZoneMonitor::siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> site) {
  std::lock_guard lock(mutex_);
  tell(&KSZoneMonitorDelegate::zoneMonitorDidEnterSite, site);
}

void KSZoneMonitor::siteManagerInternalDidExitSite(std::shared_ptr<KSSite> site) {
  std::lock_guard lock(mutex_);
  tell(&KSZoneMonitorDelegate::zoneMonitorDidExitSite, site);
}

// --- suspension ------------------------------------------------------------------------------

void KSZoneMonitor::configureSuspensionTime(SiteInfo& info, float suspensionTime, platform::Date at) {
  if (info.suspensionInfo) {
    info.suspensionInfo->suspensionTime = suspensionTime;
    return;
  }
  KSZoneSuspensionRecord record;
  record.suspensionTime = suspensionTime;
  // A global suspension younger than t goes on in a site first seen now.
  const double t = static_cast<double>(suspensionTime);
  if (suspendedZoneMonitoringAt_ && *suspendedZoneMonitoringAt_ > at.addingTimeInterval(-t)) {
    record.isSuspended = true;
    record.resumeAfter = suspendedZoneMonitoringAt_->addingTimeInterval(t);
  }
  info.suspensionInfo = record;
}

std::optional<KSZoneSuspensionRecord> KSZoneMonitor::suspensionRecordForSiteID(const std::string& siteID) const {
  std::lock_guard lock(mutex_);
  auto it = siteInfoForSiteID_.find(siteID);
  if (it == siteInfoForSiteID_.end()) return std::nullopt;
  return it->second.suspensionInfo;
}

bool KSZoneMonitor::isZoneMonitoringSuspendedInSiteID(const std::string& siteID, bool resumeIfNeeded) {
  if (siteID.empty()) return false;
  std::lock_guard lock(mutex_);
  auto it = siteInfoForSiteID_.find(siteID);
  if (it == siteInfoForSiteID_.end() || !it->second.suspensionInfo) return false;
  const auto& record = *it->second.suspensionInfo;
  if (record.isSuspended && resumeIfNeeded) {
    if (record.resumeAfter && !(now() > *record.resumeAfter)) return true;
    resumeZoneMonitoringInSiteID(siteID, false);
    return false;
  }
  return record.isSuspended;
}

bool KSZoneMonitor::shouldSuspendZoneMonitoringInSiteID(const std::string& siteID) {
  std::lock_guard lock(mutex_);
  auto it = siteInfoForSiteID_.find(siteID);
  if (it == siteInfoForSiteID_.end() || !it->second.suspensionInfo) return false;
  const auto& record = *it->second.suspensionInfo;
  if (record.isSuspended) return false;
  const auto at = now();
  const double t = static_cast<double>(record.suspensionTime);
  if (resumedZoneMonitoringAt_ && *resumedZoneMonitoringAt_ > at.addingTimeInterval(-t)) return false;
  if (record.suspendAfter) return at > *record.suspendAfter;
  return true;
}

void KSZoneMonitor::suspendZoneMonitoringInSiteID(const std::string& siteID) {
  std::lock_guard lock(mutex_);
  auto it = siteInfoForSiteID_.find(siteID);
  if (it == siteInfoForSiteID_.end() || !it->second.suspensionInfo) return;
  auto& info = it->second;
  auto& record = *info.suspensionInfo;
  const auto resumeAt = now().addingTimeInterval(static_cast<double>(record.suspensionTime));
  if (record.isSuspended) {
    record.resumeAfter = resumeAt;
    return;
  }
  auto site = cachedSite(siteID);
  const auto name = site ? site->name() : std::nullopt;
  platform::Log::info("zones", "KestrineSDK - Suspending zone montioring in site {} will resume after {}",
                      name.value_or("(null)"), mt::stringValue(resumeAt));
  tell(&KSZoneMonitorDelegate::zoneMonitorWillSuspendMonitoringInSiteUntilDate, site, resumeAt);
  record.isSuspended = true;
  record.resumeAfter = resumeAt;
  record.suspendAfter.reset();
  for (auto& [zoneID, entry] : info.zoneInfoForZoneIdentifier) exitZone(entry);
}

void KSZoneMonitor::resumeZoneMonitoringInSiteID(const std::string& siteID, bool scheduleNextSuspension) {
  std::lock_guard lock(mutex_);
  auto it = siteInfoForSiteID_.find(siteID);
  if (it == siteInfoForSiteID_.end() || !it->second.suspensionInfo || !it->second.suspensionInfo->isSuspended) return;
  auto& record = *it->second.suspensionInfo;
  tell(&KSZoneMonitorDelegate::zoneMonitorWillResumeMonitoringInSite, cachedSite(siteID));
  if (scheduleNextSuspension) {
    record.suspendAfter = now().addingTimeInterval(static_cast<double>(record.suspensionTime));
  } else {
    record.suspendAfter.reset();
  }
  record.resumeAfter.reset();
  record.isSuspended = false;
}

void KSZoneMonitor::suspendMonitoringZonesInAllSites() {
  std::optional<platform::Date> suspended, resumed;
  {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, info] : siteInfoForSiteID_) ids.push_back(id);
    for (const auto& id : ids) suspendZoneMonitoringInSiteID(id);
    resumedZoneMonitoringAt_.reset();
    suspendedZoneMonitoringAt_ = now();
    suspended = suspendedZoneMonitoringAt_;
    resumed = resumedZoneMonitoringAt_;
  }
  storeDates(suspended, resumed);
}

void KSZoneMonitor::resumeMonitoringZonesInAllSites() {
  std::optional<platform::Date> suspended, resumed;
  {
    std::lock_guard lock(mutex_);
    suspendedZoneMonitoringAt_.reset();
    resumedZoneMonitoringAt_ = now();
    std::vector<std::string> ids;
    for (const auto& [id, info] : siteInfoForSiteID_) ids.push_back(id);
    for (const auto& id : ids) {
      if (isZoneMonitoringSuspendedInSiteID(id, false)) resumeZoneMonitoringInSiteID(id, true);
    }
    suspended = suspendedZoneMonitoringAt_;
    resumed = resumedZoneMonitoringAt_;
  }
  storeDates(suspended, resumed);
}

void KSZoneMonitor::storeDates(std::optional<platform::Date> suspended, std::optional<platform::Date> resumed) {
  if (!ports_.defaults) return;
  ports_.defaults->storeSuspendedZoneMonitoringAt(suspended);
  ports_.defaults->storeResumedZoneMonitoringAt(resumed);
}

}  // namespace velmora::kestrine
