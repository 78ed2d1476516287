// Every event and visit the SDK makes carries the session it was made in: the session
// manager's current session identifier, read from outside through what the SDK hands to
// its posters.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HostSdk.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSEventManagerPorts.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSEvent.h"
#include "beacons/ranging/KSSessionManager.h"

namespace hostsuite {
namespace {

using namespace velmora::kestrine;

class RecordingPoster final : public KSEventPoster {
 public:
  void postEvent(const std::shared_ptr<KSEvent>& event) override { posted.push_back(event); }
  std::vector<std::shared_ptr<KSEvent>> posted;
};

class HostSession : public ::testing::Test {
 protected:
  void SetUp() override {
    HostSdk::offlineOptions();
    kestrine::KestrineSDK::startRunning([this](int status) { started = status; });
    host.phone.runUntilIdle();
    session = KSSessionManager::sharedManager()->currentSessionIdentifier();
    ASSERT_TRUE(started) << "the SDK did not report its start";
    ASSERT_TRUE(session && !session->empty()) << "no session is running after the start";
  }

  HostSdk host;
  std::optional<int> started;
  std::optional<std::string> session;
};

TEST_F(HostSession, LoggedEventsCarryTheSession) {
  auto poster = std::make_shared<RecordingPoster>();
  KSEventManager::Ports ports;
  ports.poster = poster;
  auto events = KSEventManager::create(ports, host.provider.get());
  events->logEventWithIdentifier("host.opened", std::string("a"), std::nullopt, std::nullopt);
  events->logEventWithIdentifier("host.closed", std::nullopt, std::nullopt, std::nullopt);
  events->postAllEvents();
  host.phone.runUntilIdle();

  ASSERT_EQ(poster->posted.size(), 2u);
  for (const auto& event : poster->posted) {
    EXPECT_EQ(event->sessionUUID(), session) << event->eventIdentifier().value_or("?");
  }
}

TEST_F(HostSession, BeaconVisitsCarryTheSession) {
  std::vector<std::shared_ptr<KSBeaconVisit>> posted;
  KSVisitTracker::Ports ports;
  ports.postBeaconVisit = [&posted](std::shared_ptr<KSBeaconVisit> visit) { posted.push_back(std::move(visit)); };
  KSVisitTracker::installMaker(*host.provider, ports);
  auto tracker = KSVisitTracker::sharedTracker(*host.provider);
  ASSERT_TRUE(tracker);

  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID("visit-1");
  beacon->setSerialNumber("visit-1");
  auto visit = tracker->beginBeaconVisitWithBeacon(beacon);
  ASSERT_TRUE(visit);
  EXPECT_EQ(visit->sessionUUID(), session);
  tracker->endBeaconVisits({visit});
  host.phone.runUntilIdle();
  for (const auto& v : posted) EXPECT_EQ(v->sessionUUID(), session);
}

}  // namespace
}  // namespace hostsuite
