#include "beacons/ranging/KSSessionManager.h"

#include <algorithm>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSMTDates.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/app/Application.h"
#include "platform/core/Clock.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

// Holds the manager's lock; the outermost scope posts what was queued once it unlocks.
class KSSessionManagerScope {
 public:
  explicit KSSessionManagerScope(KSSessionManager& m) : m_(m) {
    m_.lock_.lock();
    ++m_.depth_;
  }
  ~KSSessionManagerScope() {
    std::vector<std::string_view> posts;
    if (--m_.depth_ == 0) posts.swap(m_.pending_);
    m_.lock_.unlock();
    if (!m_.center_) return;
    for (auto name : posts) m_.center_->post(std::string(name), m_.shared_from_this());
  }
  KSSessionManagerScope(const KSSessionManagerScope&) = delete;
  KSSessionManagerScope& operator=(const KSSessionManagerScope&) = delete;

 private:
  KSSessionManager& m_;
};

std::shared_ptr<KSSessionManager> KSSessionManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSSessionManager> KSSessionManager::sharedManager(KSInstanceProvider& provider) {
  // Made by the registry's maker (the SDK's, a delegate of the location client), never by
  // one of its own that would leave it deaf to region events.
  return provider.singleton<KSSessionManager>(kSingletonName, nullptr);
}

void KSSessionManager::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSSessionManager>(std::string(kSingletonName), [](KSInstanceProvider& p) { return create(p); });
}

std::shared_ptr<KSSessionManager> KSSessionManager::create(KSInstanceProvider& provider) {
  std::shared_ptr<KSSessionManager> manager(new KSSessionManager(provider));
  {
    KSSessionManagerScope scope(*manager);
    manager->sessions_ = manager->defaults_ ? manager->defaults_->loadSessions() : std::vector<std::shared_ptr<KSSession>>{};
    manager->endAllSessions();
    if (manager->removeSessionsEndedBeforeYesterday()) manager->storeSessions();
  }
  manager->subscribe();
  return manager;
}

KSSessionManager::KSSessionManager(KSInstanceProvider& provider) {
  const auto& platform = provider.platform();
  scheduler_ = platform.scheduler ? platform.scheduler : platform::dispatch::Scheduler::shared();
  center_ = platform.notificationCenter;
  app_ = platform.app;
  configurator_ = KSConfigurator::sharedConfigurator(provider);
  defaults_ = KSUserDefaultsManager::sharedManager(provider);
  serialQueue_ = scheduler_->makeSerialQueue("com.kestrine.sessionManager");
}

KSSessionManager::~KSSessionManager() {
  if (center_) {
    for (const auto& token : observers_) center_->removeObserver(token);
  }
}

platform::Date KSSessionManager::now() const { return scheduler_->clock()->now(); }

bool KSSessionManager::appInBackground() const { return KSDefinitionsInternal::isAppInBackground(app_.get()); }

double KSSessionManager::sessionLength() const {
  return configurator_ ? configurator_->backgroundSessionTimeIntervalInSeconds()
                       : KSBackgroundSessionTimeIntervalInSeconds;
}

void KSSessionManager::post(std::string_view name) { pending_.push_back(name); }

void KSSessionManager::async(std::function<void(KSSessionManager&)> work) {
  std::weak_ptr<KSSessionManager> weak = weak_from_this();
  serialQueue_->async([weak, work = std::move(work)] {
    if (auto self = weak.lock()) {
      KSSessionManagerScope scope(*self);
      work(*self);
    }
  });
}

void KSSessionManager::subscribe() {
  if (!center_) return;
  std::weak_ptr<KSSessionManager> weak = weak_from_this();
  auto on = [&](std::string_view name, std::function<void(KSSessionManager&, const platform::Notification&)> work) {
    observers_.push_back(center_->addObserver(std::string(name), nullptr, nullptr,
                                              [weak, work](const platform::Notification& n) {
                                                auto self = weak.lock();
                                                if (!self) return;
                                                self->async([work, n](KSSessionManager& m) { work(m, n); });
                                              }));
  };
  auto resumeOrBegin = [](KSSessionManager& m, const platform::Notification&) { m.resumeOrBeginSession(); };
  on(platform::app::kDidFinishLaunchingNotification, resumeOrBegin);
  on(KSNotificationDidStartRunning, resumeOrBegin);
  on(platform::app::kDidEnterBackgroundNotification, [](KSSessionManager& m, const platform::Notification&) {
    m.updateCurrentSessionExpiry();
    m.endCurrentSessionIfExpired();
    m.storeSessions();
  });
  on(platform::app::kDidBecomeActiveNotification, [](KSSessionManager& m, const platform::Notification&) {
    m.endCurrentSessionIfExpired();
    m.updateCurrentSessionExpiry();
    m.endCurrentSessionIfExpired();
    if (m.shouldBeginSession()) {
      m.beginSession();
    } else {
      m.storeSessions();
    }
  });
  on(platform::app::kWillTerminateNotification,
     [](KSSessionManager& m, const platform::Notification&) { m.endCurrentSession(); });
  on(KSScanManagerNotificationDidStartScan,
     [](KSSessionManager& m, const platform::Notification& n) { m.scanEvent(n, true); });
  on(KSScanManagerNotificationDidStopScan,
     [](KSSessionManager& m, const platform::Notification& n) { m.scanEvent(n, false); });
}

void KSSessionManager::scanEvent(const platform::Notification& n, bool started) {
  if (!currentSession_) return;
  const platform::Date at = now();
  platform::Date occurred = at;
  if (auto it = n.userInfo.find(KSScanManagerNotificationOccurredAtItem); it != n.userInfo.end()) {
    if (auto date = it->second.toDate()) occurred = *date;
  }
  if (started) {
    currentSession_->scanManagerStartedScanAt(occurred, appInBackground());
  } else {
    currentSession_->scanManagerStoppedScanAt(occurred, at);
  }
  endCurrentSessionIfExpired();
}

// --- queries

bool KSSessionManager::isCurrentlyInSession() const {
  std::lock_guard guard(lock_);
  return currentSession_ != nullptr;
}

std::optional<platform::Date> KSSessionManager::currentSessionBeganAt() const {
  std::lock_guard guard(lock_);
  return currentSession_ ? currentSession_->fromDate() : std::nullopt;
}

std::optional<std::string> KSSessionManager::currentSessionIdentifier() {
  std::lock_guard guard(lock_);
  return currentSession_ ? currentSession_->identifier() : std::nullopt;
}

std::shared_ptr<KSSession> KSSessionManager::currentSession() const {
  std::lock_guard guard(lock_);
  return currentSession_;
}

std::vector<std::shared_ptr<KSSession>> KSSessionManager::sessions() const {
  std::lock_guard guard(lock_);
  return sessions_;
}

// --- the budget

std::optional<platform::Date> KSSessionManager::whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(
    bool ignore) {
  std::lock_guard guard(lock_);
  const platform::Date at = now();
  double used = 0;
  std::optional<platform::Date> last;
  for (const auto& session : sessions_) {
    if (!session->hasScannedInBackground()) continue;
    used += session->backgroundScanTimeIntervalToday(at);
    auto stopped = session->lastBackgroundScanStoppedAt();
    if (stopped && (!last || *stopped > *last)) last = stopped;
  }
  const double length = std::max(sessionLength(), KSMinimumBackgroundSessionTimeIntervalInSeconds);
  const platform::Date expiry = at.addingTimeInterval(length);
  const double budget =
      static_cast<double>(configurator_ ? configurator_->maximumDailyBackgroundUsageInMinutes() : 60) * 60.0;
  // A budget of nothing grants nothing, whatever was recorded.
  if (budget <= 0) return std::nullopt;
  if (!last) return expiry;
  if (used > budget) return std::nullopt;
  if (!ignore && *last > at.addingTimeInterval(-KSMinimumTimeIntervalBetweenBackgroundSessionsInSeconds)) {
    return std::nullopt;
  }
  const double remaining = budget - used;
  if (remaining > length) return expiry;
  const platform::Date tomorrow = mt::startOfNext(at, mt::Unit::Day);
  if (remaining > tomorrow.timeIntervalSince(at) && expiry > tomorrow) return expiry;
  return at.addingTimeInterval(std::max(remaining, KSMinimumBackgroundSessionTimeIntervalInSeconds));
}

double KSSessionManager::backgroundScanTimeIntervalToday() {
  std::lock_guard guard(lock_);
  const platform::Date at = now();
  double used = 0;
  for (const auto& session : sessions_) used += session->backgroundScanTimeIntervalToday(at);
  return used;
}

// --- changes

std::shared_ptr<KSSession> KSSessionManager::beginSession() {
  KSSessionManagerScope scope(*this);
  if (currentSession_) return nullptr;
  std::optional<platform::Date> expiry;
  if (appInBackground()) {
    expiry = whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(true);
    if (!expiry) return nullptr;
  }
  // Old sessions go at every begin too, so a process that runs for weeks keeps a short list.
  removeSessionsEndedBeforeYesterday();
  // Beyond the cap, the oldest ended sessions that never scanned in the background go: they
  // count nothing against the background budget. The others are bounded by the budget.
  for (auto it = sessions_.end(); sessions_.size() >= kMaximumSessions && it != sessions_.begin();) {
    --it;
    if ((*it)->hasEnded() && !(*it)->hasScannedInBackground()) it = sessions_.erase(it);
  }
  auto session = KSSession::sessionBeganAt(now(), expiry);
  currentSession_ = session;
  sessions_.insert(sessions_.begin(), session);
  storeSessions();
  post(KSSessionManagerNotificationDidBeginSession);
  return session;
}

void KSSessionManager::resumeSession() {
  KSSessionManagerScope scope(*this);
  if (currentSession_ || sessions_.empty()) return;
  const auto& newest = sessions_.front();
  if (newest->hasEnded() || newest->isExpired(now())) return;
  currentSession_ = newest;
  post(KSSessionManagerNotificationDidResumeSession);
  updateCurrentSessionExpiry();
}

void KSSessionManager::resumeOrBeginSession() {
  KSSessionManagerScope scope(*this);
  resumeSession();
  endCurrentSessionIfExpired();
  if (shouldBeginSession()) beginSession();
}

void KSSessionManager::endCurrentSession() {
  KSSessionManagerScope scope(*this);
  if (!currentSession_) return;
  currentSession_->end(now());
  currentSession_.reset();
  storeSessions();
  post(KSSessionManagerNotificationDidEndSession);
}

void KSSessionManager::endCurrentSessionIfExpired() {
  KSSessionManagerScope scope(*this);
  if (currentSession_ && !currentSession_->hasEnded() && currentSession_->isExpired(now())) endCurrentSession();
}

void KSSessionManager::endAllSessions() {
  KSSessionManagerScope scope(*this);
  const platform::Date at = now();
  const platform::Date recent = at.addingTimeInterval(-sessionLength());
  for (std::size_t i = 0; i < sessions_.size(); ++i) {
    auto& session = sessions_[i];
    if (session->hasEnded()) continue;
    const auto from = session->fromDate();
    if (i == 0 && !session->isExpired(at) && from && *from > recent) continue;
    std::optional<platform::Date> through = from;
    if (auto stopped = session->lastScanStoppedAt(); stopped && (!through || *stopped > *through)) through = stopped;
    if (!session->dateRange()) session->setDateRange(std::make_shared<KSDateRange>());
    session->dateRange()->setThroughDate(through.value_or(at));
  }
}

bool KSSessionManager::removeSessionsEndedBeforeYesterday() {
  KSSessionManagerScope scope(*this);
  const platform::Date at = now();
  const auto removed = std::erase_if(sessions_, [&](const auto& s) { return s->endedBeforeYesterday(at); });
  return removed > 0;
}

bool KSSessionManager::shouldBeginSession() {
  KSSessionManagerScope scope(*this);
  if (currentSession_) return false;
  if (!appInBackground()) return true;
  if (configurator_ && !configurator_->scanInBackground()) return false;
  return whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(false).has_value();
}

void KSSessionManager::updateCurrentSessionExpiry() {
  KSSessionManagerScope scope(*this);
  const platform::Date at = now();
  if (!currentSession_ || currentSession_->isExpired(at) || currentSession_->hasEnded()) return;
  if (appInBackground()) {
    currentSession_->setExpiresAt(whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(true).value_or(at));
  } else {
    currentSession_->setExpiresAt(std::nullopt);
  }
}

void KSSessionManager::storeSessions() {
  KSSessionManagerScope scope(*this);
  if (defaults_) defaults_->storeSessions(sessions_);
}

// --- region events

void KSSessionManager::regionEvent() {
  async([](KSSessionManager& m) {
    m.endCurrentSessionIfExpired();
    if (m.shouldBeginSession()) m.beginSession();
  });
}

void KSSessionManager::locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient*,
                                                                 const std::shared_ptr<KSBeaconRegion>&) {
  regionEvent();
}

void KSSessionManager::locationManagerClientDidDetermineStateForBeaconRegion(KSLocationManagerClient*, long,
                                                                             const std::shared_ptr<KSBeaconRegion>&) {
  regionEvent();
}

void KSSessionManager::locationManagerClientDidRangeBeaconsInBeaconRegion(
    KSLocationManagerClient*, const std::vector<platform::location::Beacon>&, const std::shared_ptr<KSBeaconRegion>&) {
  regionEvent();
}

}  // namespace velmora::kestrine
