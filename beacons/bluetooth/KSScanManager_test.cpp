#include "beacons/bluetooth/KSScanManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>

#include "testing/CentralTestSupport.h"

namespace velmora::kestrine {
namespace {

using namespace testsupport;
using platform::bluetooth::BluetoothUUID;

constexpr std::int64_t us(double seconds) { return static_cast<std::int64_t>(seconds * 1e6 + 0.5); }

std::vector<ScanEvent> since(const std::vector<ScanEvent>& log, std::int64_t base) {
  std::vector<ScanEvent> out;
  for (auto e : log) {
    e.atMicros -= base;
    out.push_back(e);
  }
  return out;
}

struct DutyCycle : ::testing::Test {
  void begin() {
    base = cw.world.scheduler->clock()->uptime().count();
    cw.world.center->post(std::string(KSSessionManagerNotificationDidBeginSession));
  }
  std::vector<ScanEvent> log() { return since(cw.central->log(), base); }
  CentralWorld cw;
  std::int64_t base = 0;
};

// The expected log, built from the rule: starts with their stop after the on-time.
void expectCycle(std::vector<ScanEvent>& want, std::int64_t start, std::vector<BluetoothUUID> filter = {}) {
  want.push_back({start, true, filter});
  want.push_back({start + us(3.0), false, {}});
}

TEST_F(DutyCycle, ForegroundSessionThenBackground) {
  cw.hub->allowScans = false;  // no scan before the session
  cw.makeClient();
  cw.world.runUntilIdle();
  cw.hub->allowScans = true;
  begin();
  cw.world.scheduler->advanceBy(82.32);
  cw.world.app->perform(platform::sim::SimApp::Step::EnterBackground);
  cw.world.runUntilIdle();
  cw.client->applicationDidEnterBackground();
  cw.world.scheduler->advanceBy(100.0 - 82.32);

  std::vector<ScanEvent> want;
  for (int k = 0; k <= 16; ++k) expectCycle(want, k * us(3.72));
  expectCycle(want, us(62.52));
  for (double t : {69.12, 75.72, 82.32}) expectCycle(want, us(t));
  expectCycle(want, us(96.12), {*BluetoothUUID::parse("FEC4")});
  const auto got = log();
  ASSERT_EQ(got.size(), want.size()) << ::testing::PrintToString(got);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "at " << i;
  EXPECT_EQ(cw.client->scanManager()->scanState(), 5);
  EXPECT_EQ(cw.central->startsWhileScanning, 0);
}

TEST_F(DutyCycle, EnergySaverOffKeepsTheShortPause) {
  cw.setOption(KSOptionUseEnergySaverScanStrategy, false);
  cw.hub->allowScans = false;
  cw.makeClient();
  cw.world.runUntilIdle();
  cw.hub->allowScans = true;
  begin();
  cw.world.scheduler->advanceBy(74.0);
  auto got = log();
  std::vector<std::int64_t> starts;
  for (const auto& e : got) {
    if (e.start && e.atMicros > us(62.52)) starts.push_back(e.atMicros);
  }
  EXPECT_EQ(starts, (std::vector<std::int64_t>{us(66.24), us(69.96), us(73.68)}));
}

TEST_F(DutyCycle, SiteConnectionAndSessionEnd) {
  cw.hub->allowScans = false;
  cw.makeClient();
  cw.world.runUntilIdle();
  cw.hub->allowScans = true;
  begin();
  cw.world.scheduler->advanceBy(70.0);
  platform::Dict info;
  info[std::string(KSSiteManagerNotificationSiteIDItem)] = std::string("site-1");
  cw.world.center->post(std::string(KSSiteManagerNotificationDidEnterSite), nullptr, info);
  cw.world.scheduler->advanceBy(10.0);
  // 80 falls in a pause (stop at 79.56, next start due at 80.28): connect there.
  const auto id = platform::Uuid::random();
  const std::size_t beforeConnect = cw.central->log().size();
  cw.client->scanManager()->connectingToPeripheral(id.string());
  EXPECT_EQ(cw.client->scanManager()->scanState(), 7);
  EXPECT_FALSE(cw.client->scanManager()->isTimerArmed());
  cw.world.scheduler->advanceBy(10.0);
  EXPECT_EQ(cw.central->log().size(), beforeConnect);
  cw.client->scanManager()->disconnectedFromPeripheral(id.string());
  auto got = log();
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(got.back().start);
  EXPECT_EQ(got.back().atMicros, us(90.0));
  // In the site, the stop at 72.12 is followed by a start after the short pause.
  bool sawSitePause = false;
  for (std::size_t i = 0; i + 1 < got.size(); ++i) {
    if (!got[i].start && got[i].atMicros == us(72.12)) sawSitePause = got[i + 1].atMicros == us(72.84);
  }
  EXPECT_TRUE(sawSitePause);
  cw.world.center->post(std::string(KSSessionManagerNotificationDidEndSession));
  EXPECT_FALSE(cw.client->isScanningEnabled());
  EXPECT_EQ(cw.client->scanManager()->scanState(), 0);
  const auto end = cw.central->log().size();
  cw.world.scheduler->advanceBy(30.0);
  EXPECT_EQ(cw.central->log().size(), end);
}

TEST_F(DutyCycle, BackgroundLaunchAndScanIDs) {
  CentralWorld bg(platform::sim::SimApp::Step::LaunchBackground);
  bg.session->running = true;
  bg.makeClient();
  EXPECT_EQ(bg.client->scanManager()->scanState(), 4);
  std::vector<std::pair<std::string, std::string>> ids;  // (name, scan ID)
  auto observe = [&](std::string_view name) {
    return bg.world.center->addObserver(std::string(name), nullptr, nullptr, [&ids](const platform::Notification& n) {
      ids.emplace_back(n.name, *n.userInfo.at(std::string(KSScanManagerNotificationScanIDItem)).string());
    });
  };
  auto t1 = observe(KSScanManagerNotificationDidStartScan);
  auto t2 = observe(KSScanManagerNotificationDidStopScan);
  const auto base0 = bg.world.scheduler->clock()->uptime().count();
  bg.world.runUntilIdle();
  bg.world.scheduler->advanceBy(45.0);
  std::vector<std::int64_t> starts;
  for (const auto& e : since(bg.central->log(), base0)) {
    if (e.start) {
      starts.push_back(e.atMicros);
      EXPECT_EQ(e.filter, std::vector<BluetoothUUID>{*BluetoothUUID::parse("FEC4")});
    }
  }
  EXPECT_EQ(starts, (std::vector<std::int64_t>{0, us(3.72), us(7.44), us(11.16), us(14.16), us(27.96), us(41.76)}));
  ASSERT_GE(ids.size(), 2u);
  std::set<std::string> seen;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (ids[i].first == KSScanManagerNotificationDidStartScan) {
      EXPECT_TRUE(seen.insert(ids[i].second).second);
      if (i + 1 < ids.size()) {
        EXPECT_EQ(ids[i + 1].second, ids[i].second);
      }
    }
  }
  bg.world.center->removeObserver(t1);
  bg.world.center->removeObserver(t2);

  CentralWorld none(platform::sim::SimApp::Step::LaunchBackground);
  none.setOption(KSOptionScanInBackground, false);
  none.session->running = true;
  none.makeClient();
  none.world.scheduler->advanceBy(45.0);
  EXPECT_TRUE(none.central->log().empty());
}

TEST_F(DutyCycle, BackgroundOptionTurnedOffInState5EndsTheRunningScanAndStartsNoMore) {
  cw.hub->allowScans = false;
  cw.makeClient();
  cw.world.runUntilIdle();
  cw.hub->allowScans = true;
  begin();
  cw.world.scheduler->advanceBy(82.32);
  cw.world.app->perform(platform::sim::SimApp::Step::EnterBackground);
  cw.world.runUntilIdle();
  cw.client->applicationDidEnterBackground();
  ASSERT_EQ(cw.client->scanManager()->scanState(), 5);
  ASSERT_TRUE(cw.client->isScanningEnabled());
  cw.setOption(KSOptionScanInBackground, false);
  const auto before = log().size();
  cw.world.scheduler->advanceBy(60.0);
  const auto got = log();
  ASSERT_EQ(got.size(), before + 1);
  EXPECT_EQ(got.back(), (ScanEvent{us(85.32), false, {}}));
  EXPECT_FALSE(cw.client->scanManager()->isTimerArmed());
}

TEST(DutyCycleThreads, EventsFromThreeThreadsWithTheTimerRunning) {
  CentralWorld cw;
  cw.session->running = true;
  cw.makeClient();
  cw.world.runUntilIdle();
  std::atomic<bool> done{false};
  std::thread timer([&] {
    for (int i = 0; i < 200; ++i) cw.world.scheduler->advanceBy(0.37);
    done = true;
  });
  std::thread sites([&] {
    platform::Dict info;
    info[std::string(KSSiteManagerNotificationSiteIDItem)] = std::string("s");
    for (int i = 0; i < 200; ++i) {
      cw.world.center->post(std::string(i % 2 ? KSSiteManagerNotificationDidExitSite : KSSiteManagerNotificationDidEnterSite),
                            nullptr, info);
    }
  });
  std::thread connections([&] {
    for (int i = 0; i < 200; ++i) {
      cw.client->scanManager()->connectingToPeripheral("p");
      cw.client->scanManager()->disconnectedFromPeripheral("p");
      cw.client->applicationDidBecomeActive();
    }
  });
  timer.join();
  sites.join();
  connections.join();
  EXPECT_EQ(cw.central->startsWhileScanning, 0);
}

}  // namespace
}  // namespace velmora::kestrine
