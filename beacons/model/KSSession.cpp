#include "beacons/model/KSSession.h"

#include <algorithm>

#include "beacons/foundation/KSMTDates.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSSession::jsonClass() {
  using S = KSSession;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<S>("KSSession", [](auto& c) {
    c.allOptional();
    c.whitelist({"identifier", "dateRange", "expiresAt", "backgroundScanDateRanges", "startedScanningAt",
                 "lastScanStartedAt", "lastScanStoppedAt"});
    c.text("identifier", &S::identifier, &S::setIdentifier);
    c.record("dateRange", &S::dateRange, &S::setDateRange);
    c.date("expiresAt", &S::expiresAt, &S::setExpiresAt);
    c.records("backgroundScanDateRanges", &S::backgroundScanDateRanges, &S::setBackgroundScanDateRanges);
    c.date("startedScanningAt", &S::startedScanningAt, &S::setStartedScanningAt);
    c.date("lastScanStartedAt", &S::lastScanStartedAt, &S::setLastScanStartedAt);
    c.date("lastScanStoppedAt", &S::lastScanStoppedAt, &S::setLastScanStoppedAt);
  });
  return cls;
}

std::shared_ptr<KSSession> KSSession::sessionBeganAt(platform::Date from, std::optional<platform::Date> expiresAt) {
  auto session = std::make_shared<KSSession>();
  session->identifier_ = "ks:" + platform::Uuid::random().string();
  session->dateRange_ = std::make_shared<KSDateRange>();
  session->dateRange_->setFromDate(from);
  session->expiresAt_ = expiresAt;
  return session;
}

std::optional<platform::Date> KSSession::fromDate() const {
  return dateRange_ ? dateRange_->fromDate() : std::nullopt;
}

std::optional<platform::Date> KSSession::throughDate() const {
  return dateRange_ ? dateRange_->throughDate() : std::nullopt;
}

bool KSSession::isExpired(platform::Date now) const { return expiresAt_ && now > *expiresAt_; }
bool KSSession::hasEnded() const { return throughDate().has_value(); }

bool KSSession::endedToday(platform::Date now) const {
  auto through = throughDate();
  return through && *through >= mt::startOfCurrent(now, mt::Unit::Day);
}

bool KSSession::endedBeforeYesterday(platform::Date now) const {
  auto through = throughDate();
  return through && *through < mt::startOfPrevious(now, mt::Unit::Day);
}

bool KSSession::endedAfterDate(platform::Date date) const {
  auto through = throughDate();
  return through && *through > date;
}

platform::Date KSSession::lastOrCurrentScanStoppedAtWithFromDate(platform::Date from, platform::Date now) const {
  if (!lastScanStartedAt_) return from;
  const platform::Date estimated = lastScanStartedAt_->addingTimeInterval(KSSessionScanOnTimeIntervalInSeconds);
  return estimated < now && estimated >= from ? estimated : now;
}

void KSSession::scanManagerStartedScanAt(platform::Date at, bool inBackground) {
  if (!startedScanningAt_) startedScanningAt_ = at;
  lastScanStartedAt_ = at;
  if (!inBackground) {
    appState_ = AppState::Foreground;
    return;
  }
  const bool continuing = appState_ == AppState::Background && current_;
  appState_ = AppState::Background;
  if (!continuing) startTrackingBackgroundScanStartedAt(at);
}

void KSSession::startTrackingBackgroundScanStartedAt(platform::Date at) {
  auto range = std::make_shared<KSDateRange>();
  range->setFromDate(at);
  ranges_.insert(ranges_.begin(), range);
  current_ = range;
}

void KSSession::scanManagerStoppedScanAt(platform::Date at, platform::Date now) {
  if (!startedScanningAt_) return;
  lastScanStoppedAt_ = lastOrCurrentScanStoppedAtWithFromDate(at, now);
  if (appState_ == AppState::Background && current_ && current_->fromDate()) {
    current_->setThroughDate(lastOrCurrentScanStoppedAtWithFromDate(*current_->fromDate(), now));
  }
}

void KSSession::end(platform::Date now) {
  if (!dateRange_) dateRange_ = std::make_shared<KSDateRange>();
  const platform::Date from = dateRange_->fromDate().value_or(now);
  dateRange_->setThroughDate(lastOrCurrentScanStoppedAtWithFromDate(from, now));
  if (current_ && !current_->throughDate() && current_->fromDate()) {
    current_->setThroughDate(lastOrCurrentScanStoppedAtWithFromDate(*current_->fromDate(), now));
  }
  current_.reset();
}

double KSSession::backgroundScanTimeIntervalSinceDate(platform::Date since) const {
  double total = 0;
  for (const auto& range : ranges_) {
    if (!range || !range->fromDate()) continue;
    const platform::Date from = *range->fromDate();
    const platform::Date through = range->throughDate().value_or(from);
    if (from > since) {
      total += through.timeIntervalSince(from);
    } else if (through >= since) {
      total += through.timeIntervalSince(since);
    }
  }
  return total;
}

double KSSession::backgroundScanTimeIntervalToday(platform::Date now) const {
  return backgroundScanTimeIntervalSinceDate(mt::startOfCurrent(now, mt::Unit::Day));
}

std::optional<platform::Date> KSSession::lastBackgroundScanStoppedAt() const {
  if (ranges_.empty() || !ranges_.front()) return std::nullopt;
  return ranges_.front()->throughDate();
}

}  // namespace velmora::kestrine
