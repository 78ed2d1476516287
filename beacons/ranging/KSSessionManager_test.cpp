#include "beacons/ranging/KSSessionManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>

#include "testing/CentralTestSupport.h"
#include "beacons/bluetooth/KSScanManager.h"
#include "beacons/foundation/KSMTDates.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "testing/HexBytes.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::sim::SimApp;

std::shared_ptr<KSDateRange> range(Date from, std::optional<Date> through) {
  auto r = std::make_shared<KSDateRange>();
  r->setFromDate(from);
  r->setThroughDate(through);
  return r;
}

// An ended session with one stretch of background scanning that stopped `ago` seconds
// before `now` and lasted `used` seconds.
std::shared_ptr<KSSession> usedSession(Date now, double used, double ago) {
  const Date stop = now.addingTimeInterval(-ago);
  auto s = KSSession::sessionBeganAt(stop.addingTimeInterval(-used), std::nullopt);
  s->setBackgroundScanDateRanges({range(stop.addingTimeInterval(-used), stop)});
  s->dateRange()->setThroughDate(stop);
  return s;
}

struct SessionWorld {
  explicit SessionWorld(Date wall, std::shared_ptr<platform::UserDefaults> defaults = nullptr) {
    world.scheduler->setWallTime(wall);
    provider = KSInstanceProvider::create(world.bundle(defaults ? defaults : world.defaults));
    configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    KSUserDefaultsManager::installMaker(*provider);
    KSSessionManager::installMaker(*provider);
  }
  Date now() const { return world.scheduler->clock()->now(); }
  void seed(std::vector<std::shared_ptr<KSSession>> sessions) {
    KSUserDefaultsManager::sharedManager(*provider)->storeSessions(sessions);
  }
  std::shared_ptr<KSSessionManager> manager() {
    return provider->singleton<KSSessionManager>(KSSessionManager::kSingletonName, {});
  }
  void setOption(std::string_view key, platform::Value value) {
    platform::Dict options;
    options[std::string(key)] = std::move(value);
    configurator->setUserOptions(options);
  }
  std::vector<std::string> observe() {
    for (auto name : {KSSessionManagerNotificationDidBeginSession, KSSessionManagerNotificationDidResumeSession,
                      KSSessionManagerNotificationDidEndSession}) {
      tokens.push_back(world.center->addObserver(std::string(name), nullptr, nullptr,
                                                 [this](const platform::Notification& n) { posted.push_back(n.name); }));
    }
    return {};
  }
  ~SessionWorld() {
    for (const auto& t : tokens) world.center->removeObserver(t);
  }
  velmora::testing::ScopedTimeZone utc{"UTC"};
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::vector<platform::NotificationCenter::ObserverToken> tokens;
  std::vector<std::string> posted;
};

TEST(SessionBudget, Table) {
  struct Case {
    const char* name;
    int hour, minute, second;
    std::optional<double> used, ago;  // nothing: no background scanning recorded
    std::optional<double> wantAfter;  // seconds after now; nothing: no session
  };
  const Case cases[] = {
      {"over the budget", 12, 0, 0, 3601, 100, std::nullopt},
      {"exactly the budget: the shortest session", 12, 0, 0, 3600, 100, 12.96},
      {"plenty left", 12, 0, 0, 600, 100, 120},
      {"100 s left just before midnight: the budget resets", 23, 59, 30, 3500, 40, 120},
      {"100 s left earlier", 23, 57, 0, 3500, 40, 100},
      {"nothing recorded", 12, 0, 0, std::nullopt, std::nullopt, 120},
  };
  for (const auto& c : cases) {
    SessionWorld w(Date::fromUnixSeconds(0));
    w.world.scheduler->setWallTime(mt::dateFromYear(2026, 3, 10, c.hour, c.minute, c.second));
    w.world.app->perform(SimApp::Step::LaunchBackground);
    w.world.runUntilIdle();
    if (c.used) w.seed({usedSession(w.now(), *c.used, *c.ago)});
    auto m = KSSessionManager::create(*w.provider);
    auto got = m->whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(false);
    if (!c.wantAfter) {
      EXPECT_FALSE(got) << c.name;
    } else {
      ASSERT_TRUE(got) << c.name;
      EXPECT_EQ(*got, w.now().addingTimeInterval(*c.wantAfter)) << c.name;
    }
  }
}

TEST(SessionBudget, SpacingOnlyHoldsBackShouldBeginAndAZeroBudgetGrantsNothing) {
  SessionWorld w(mt::dateFromYear(2026, 3, 10, 12, 0));
  w.world.app->perform(SimApp::Step::LaunchBackground);
  w.world.runUntilIdle();
  w.seed({usedSession(w.now(), 60, 20)});
  auto m = KSSessionManager::create(*w.provider);
  EXPECT_FALSE(m->shouldBeginSession());
  auto s = m->beginSession();
  ASSERT_TRUE(s);
  EXPECT_EQ(*s->expiresAt(), w.now().addingTimeInterval(120));
  EXPECT_FALSE(m->beginSession());  // one at a time

  SessionWorld zero(mt::dateFromYear(2026, 3, 10, 12, 0));
  zero.world.app->perform(SimApp::Step::LaunchBackground);
  zero.world.runUntilIdle();
  zero.setOption(KSOptionMaximumDailyBackgroundUsageInMinutes, 0);
  auto none = KSSessionManager::create(*zero.provider);
  EXPECT_FALSE(none->whenShouldNextBackgroundSessionExpireWithIgnoreSessionFrequency(true));
  EXPECT_FALSE(none->beginSession());
}

TEST(Sessions, ForegroundSessionGetsAnExpiryInTheBackground) {
  SessionWorld w(mt::dateFromYear(2026, 3, 10, 12, 0));
  auto m = w.manager();
  w.world.app->perform(SimApp::Step::LaunchForeground);
  w.world.runUntilIdle();
  ASSERT_TRUE(m->isCurrentlyInSession());
  EXPECT_FALSE(m->currentSession()->expiresAt());
  const auto id = m->currentSessionIdentifier();
  ASSERT_TRUE(id);
  EXPECT_EQ(id->rfind("ks:", 0), 0u);
  w.world.advanceBy(30);
  w.world.app->perform(SimApp::Step::EnterBackground);
  w.world.runUntilIdle();
  ASSERT_TRUE(m->currentSession()->expiresAt());
  EXPECT_LE(*m->currentSession()->expiresAt(), w.now().addingTimeInterval(120));
  w.world.app->perform(SimApp::Step::Terminate);
  w.world.runUntilIdle();
  EXPECT_FALSE(m->isCurrentlyInSession());
  EXPECT_FALSE(m->currentSessionIdentifier());
}

// A remote option's session length beyond the date range (1e13 s) gives a session that
// lasts, not one whose expiry wrapped into the past and ends it on entering the background.
TEST(Sessions, AHugeSessionLengthDoesNotEndTheSessionAtOnce) {
  for (double length : {1e13, 1e300, double(INFINITY)}) {
    SCOPED_TRACE(length);
    SessionWorld w(mt::dateFromYear(2026, 3, 10, 12, 0));
    w.setOption(KSOptionBackgroundSessionTimeIntervalInSeconds, length);
    auto m = w.manager();
    w.world.app->perform(SimApp::Step::LaunchForeground);
    w.world.runUntilIdle();
    w.world.app->perform(SimApp::Step::EnterBackground);
    w.world.runUntilIdle();
    ASSERT_TRUE(m->isCurrentlyInSession());
    ASSERT_TRUE(m->currentSession()->expiresAt());
    EXPECT_GT(*m->currentSession()->expiresAt(), w.now().addingTimeInterval(86400));
    w.world.advanceBy(600);
    EXPECT_TRUE(m->isCurrentlyInSession());
    EXPECT_FALSE(m->currentSession()->isExpired(w.now()));
  }
}

TEST(Sessions, CreationResumesARecentOpenSessionAndClosesAnOlderOne) {
  const Date noon = mt::dateFromYear(2026, 3, 10, 12, 0);
  {
    SessionWorld w(noon);
    auto recent = KSSession::sessionBeganAt(noon.addingTimeInterval(-60), std::nullopt);
    w.seed({recent});
    w.observe();
    auto m = w.manager();
    w.world.app->perform(SimApp::Step::LaunchForeground);
    w.world.runUntilIdle();
    EXPECT_EQ(m->currentSessionIdentifier(), recent->identifier());
    EXPECT_EQ(w.posted, std::vector<std::string>{std::string(KSSessionManagerNotificationDidResumeSession)});
  }
  {
    SessionWorld w(noon);
    auto old = KSSession::sessionBeganAt(noon.addingTimeInterval(-200), std::nullopt);
    old->setLastScanStoppedAt(noon.addingTimeInterval(-150));
    auto older = KSSession::sessionBeganAt(noon.addingTimeInterval(-300), std::nullopt);  // never scanned
    w.seed({old, older});
    w.observe();
    auto m = w.manager();
    auto sessions = m->sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(*sessions[0]->throughDate(), noon.addingTimeInterval(-150));
    EXPECT_EQ(*sessions[1]->throughDate(), noon.addingTimeInterval(-300));
    w.world.app->perform(SimApp::Step::LaunchForeground);
    w.world.runUntilIdle();
    EXPECT_NE(m->currentSessionIdentifier(), old->identifier());
    EXPECT_EQ(w.posted, std::vector<std::string>{std::string(KSSessionManagerNotificationDidBeginSession)});
  }
}

TEST(Sessions, SessionsEndedBeforeYesterdayAreDroppedAndStored) {
  const Date noon = mt::dateFromYear(2026, 3, 10, 12, 0);
  SessionWorld w(noon);
  auto ancient = usedSession(noon, 10, 3 * 86400);
  auto yesterday = usedSession(noon, 10, 86400);
  w.seed({yesterday, ancient});
  auto m = w.manager();
  EXPECT_EQ(m->sessions().size(), 1u);
  auto reopened = KSUserDefaultsManager(platform::UserDefaults::open(w.world.defaults->path())).loadSessions();
  ASSERT_EQ(reopened.size(), 1u);
  EXPECT_EQ(reopened[0]->identifier(), yesterday->identifier());
  // A stored list that does not decode loads empty.
  w.world.defaults->setObject(KSUserDefaultsSessionsKey, platform::Value(platform::Array{platform::Value(42)}));
  EXPECT_TRUE(KSUserDefaultsManager(w.world.defaults).loadSessions().empty());
}

TEST(Sessions, WholeRoadInTheBackground) {
  testsupport::CentralWorld cw(std::nullopt);
  velmora::testing::ScopedTimeZone utc("UTC");
  cw.world.scheduler->setWallTime(mt::dateFromYear(2026, 3, 10, 12, 0));
  KSUserDefaultsManager::installMaker(*cw.provider);
  auto sessions = KSSessionManager::create(*cw.provider);
  // As the hub does: scans only in a session.
  cw.hub->shouldScan = [weak = std::weak_ptr<KSSessionManager>(sessions)] {
    auto s = weak.lock();
    return s && s->isCurrentlyInSession();
  };
  cw.makeClient(nullptr, sessions);
  std::set<std::string> scanIDs;
  auto token = cw.world.center->addObserver(
      std::string(KSScanManagerNotificationDidStartScan), nullptr, nullptr, [&](const platform::Notification& n) {
        scanIDs.insert(*n.userInfo.at(std::string(KSScanManagerNotificationScanIDItem)).string());
      });
  platform::sim::SimAdvertiser beacon;
  beacon.identifier = platform::Uuid::random();
  const auto frame = velmora::testing::hexBytes("040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0");
  beacon.advertisement.manufacturerData = platform::Bytes(frame.begin(), frame.end());
  beacon.advertisement.serviceUUIDs = {*platform::bluetooth::BluetoothUUID::parse("FEC4")};
  beacon.intervalSeconds = 1.0;
  beacon.phaseSeconds = 0.5;
  cw.world.radio->addAdvertiser(beacon);
  const auto base = cw.world.scheduler->clock()->uptime().count();
  cw.world.app->perform(SimApp::Step::LaunchBackground);
  cw.world.runUntilIdle();
  ASSERT_TRUE(sessions->currentSession());
  EXPECT_EQ(*sessions->currentSession()->expiresAt(), cw.world.scheduler->clock()->now().addingTimeInterval(120));
  cw.world.advanceBy(200);

  std::vector<std::int64_t> starts, want;
  for (const auto& e : cw.central->log()) {
    if (e.start) starts.push_back(e.atMicros - base);
  }
  for (double t : {0.0, 3.72, 7.44, 11.16}) want.push_back(std::llround(t * 1e6));
  for (int k = 0; k <= 8; ++k) want.push_back(14'160'000 + k * 13'800'000);  // 14.16 ... 124.56
  EXPECT_EQ(starts, want);
  const auto log = cw.central->log();
  ASSERT_FALSE(log.empty());
  EXPECT_FALSE(log.back().start);
  EXPECT_EQ(log.back().atMicros - base, 124'560'000);  // stopped at once when the session ended
  EXPECT_FALSE(sessions->isCurrentlyInSession());
  EXPECT_DOUBLE_EQ(sessions->backgroundScanTimeIntervalToday(), 113.76);
  {
    std::lock_guard lock(cw.hub->mutex);
    ASSERT_FALSE(cw.hub->discoveries.empty());
    for (const auto& d : cw.hub->discoveries) EXPECT_TRUE(scanIDs.count(d.scanID)) << d.scanID;
  }
  cw.world.center->removeObserver(token);

  // A new registry over the same defaults file sees today's use (stored dates keep whole
  // seconds).
  {
    auto reopened = KSInstanceProvider::create(cw.world.bundle(platform::UserDefaults::open(cw.world.defaults->path())));
    KSUserDefaultsManager::installMaker(*reopened);
    EXPECT_NEAR(KSSessionManager::create(*reopened)->backgroundScanTimeIntervalToday(), 113.76, 1.0);
  }
  // The second registry's objects went with it; what they had queued runs to nothing.
  cw.world.runUntilIdle();
}

TEST(SessionThreads, QueriesWhileSessionsBeginAndEnd) {
  SessionWorld w(mt::dateFromYear(2026, 3, 10, 12, 0));
  auto m = w.manager();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      auto id = m->currentSessionIdentifier();
      auto began = m->currentSessionBeganAt();
      if (id) {
        EXPECT_EQ(id->rfind("ks:", 0), 0u);
      }
      (void)began;
    }
  });
  for (int i = 0; i < 40; ++i) {
    m->beginSession();
    m->endCurrentSession();
  }
  done = true;
  reader.join();
  EXPECT_FALSE(m->isCurrentlyInSession());
}

}  // namespace
}  // namespace velmora::kestrine
