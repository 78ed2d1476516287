#include "platform/sim/SimRadio.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::platform::sim {
namespace {

using bluetooth::AdvertisementData;
using bluetooth::BluetoothUUID;
using bluetooth::CentralState;
using bluetooth::PeripheralState;

// Records what a central reports, with the virtual uptime of each report.
class Recorder final : public bluetooth::CentralDelegate, public bluetooth::PeripheralDelegate {
 public:
  explicit Recorder(dispatch::VirtualScheduler& s) : s_(s) {}

  struct Seen {
    std::int64_t at;
    Uuid peripheral;
    int rssi;
    AdvertisementData ad;
  };
  std::vector<CentralState> states;
  std::vector<Seen> seen;
  std::vector<std::string> events;  // connections and GATT answers, with the time in ms

  void centralDidUpdateState(CentralState state) override { states.push_back(state); }
  void centralDidDiscoverPeripheral(const std::shared_ptr<bluetooth::Peripheral>& p, const AdvertisementData& ad,
                                    int rssi) override {
    seen.push_back({now(), p->identifier(), rssi, ad});
  }
  void centralDidConnectPeripheral(const std::shared_ptr<bluetooth::Peripheral>&) override { log("connect"); }
  void centralDidFailToConnectPeripheral(const std::shared_ptr<bluetooth::Peripheral>&,
                                         const std::optional<Error>& e) override {
    log("fail " + (e ? std::to_string(e->code) : std::string("-")));
  }
  void centralDidDisconnectPeripheral(const std::shared_ptr<bluetooth::Peripheral>&,
                                      const std::optional<Error>& e) override {
    log("disconnect " + (e ? std::to_string(e->code) : std::string("-")));
  }
  void peripheralDidDiscoverServices(const std::shared_ptr<bluetooth::Peripheral>&,
                                     const std::optional<Error>& e) override {
    log("services " + (e ? std::to_string(e->code) : std::string("-")));
  }

  std::vector<std::int64_t> times() const {
    std::vector<std::int64_t> out;
    for (const auto& s : seen) out.push_back(s.at);
    return out;
  }

 private:
  std::int64_t now() const { return s_.manualClock()->uptime().count(); }
  void log(const std::string& what) { events.push_back(std::to_string(now() / 1000) + " " + what); }
  dispatch::VirtualScheduler& s_;
};

struct RadioFixture : ::testing::Test {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  std::shared_ptr<SimRadio> radio = SimRadio::create(scheduler);
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(*scheduler);
  std::shared_ptr<dispatch::Queue> queue = scheduler->makeSerialQueue("sdk");
  std::shared_ptr<bluetooth::Central> central = radio->makeCentral(recorder, queue);

  SimTrace trace(const char* text) {
    TraceError error;
    auto t = SimTrace::parse(text, &error);
    EXPECT_TRUE(t) << error.describe();
    return t ? *t : SimTrace();
  }
  static AdvertisementData named(std::string name) { return AdvertisementData{.localName = std::move(name)}; }
};

TEST_F(RadioFixture, FirstStateIsPostedAfterCreation) {
  EXPECT_TRUE(recorder->states.empty());
  EXPECT_EQ(central->state(), CentralState::PoweredOn);
  scheduler->runUntilIdle();
  EXPECT_EQ(recorder->states, std::vector<CentralState>{CentralState::PoweredOn});

  auto off = SimRadio::create(scheduler, CentralState::PoweredOff);
  auto other = std::make_shared<Recorder>(*scheduler);
  auto c = off->makeCentral(other, queue);
  c->scanForPeripherals({}, {});
  EXPECT_FALSE(c->isScanning());
  scheduler->runUntilIdle();
  EXPECT_EQ(other->states, std::vector<CentralState>{CentralState::PoweredOff});
}

TEST_F(RadioFixture, MakersGiveSimulatedOrUnsupportedCentrals) {
  auto other = std::make_shared<Recorder>(*scheduler);
  auto made = radio->centralMaker()(other, queue);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->state(), CentralState::PoweredOn);
  auto none = bluetooth::unsupportedCentralMaker()(other, queue);
  none->scanForPeripherals({}, {});
  EXPECT_FALSE(none->isScanning());
  EXPECT_FALSE(bluetooth::CentralMaker()(other, queue));
  scheduler->runUntilIdle();
  EXPECT_EQ(other->states, (std::vector<CentralState>{CentralState::PoweredOn, CentralState::Unsupported}));
}

TEST_F(RadioFixture, TraceReachesAScanningCentralAtExactlyItsTimesAndNothingWhileIdleOrOff) {
  const auto lines = trace(
      "0.5 adv p1 -61 name=one\n"
      "1.25 adv p2 -70 uuids=FEAA\n"
      "2.000001 adv p1 -62 name=one\n");
  scheduler->runUntilIdle();
  const std::int64_t start = scheduler->manualClock()->uptime().count();

  radio->play(lines);  // not scanning: nothing
  scheduler->advanceBy(3);
  EXPECT_TRUE(recorder->seen.empty());

  central->scanForPeripherals({}, {.allowDuplicates = true});
  const std::int64_t scanStart = scheduler->manualClock()->uptime().count();
  radio->play(lines);
  scheduler->advanceBy(3);
  EXPECT_EQ(recorder->times(), (std::vector<std::int64_t>{scanStart + 500000, scanStart + 1250000, scanStart + 2000001}));
  ASSERT_EQ(recorder->seen.size(), 3u);
  EXPECT_EQ(recorder->seen[0].peripheral, SimTrace::identifierForToken("p1"));
  EXPECT_EQ(recorder->seen[1].rssi, -70);
  EXPECT_EQ(recorder->seen[2].ad.localName, "one");
  EXPECT_EQ(scanStart, start + 3000000);

  // Power goes off in the middle: the scan ends, and power on does not restart it.
  recorder->seen.clear();
  radio->play(trace(
      "0.1 adv p1 -60 name=one\n"
      "0.2 power off\n"
      "0.3 adv p1 -60 name=one\n"
      "0.4 power on\n"
      "0.5 adv p1 -60 name=one\n"));
  scheduler->advanceBy(1);
  EXPECT_EQ(recorder->seen.size(), 1u);
  EXPECT_FALSE(central->isScanning());
  EXPECT_EQ(recorder->states,
            (std::vector<CentralState>{CentralState::PoweredOn, CentralState::PoweredOff, CentralState::PoweredOn}));
}

TEST_F(RadioFixture, ServiceFilterPassesOnlyFramesCarryingTheService) {
  const auto fec4 = *BluetoothUUID::parse("FEC4");
  central->scanForPeripherals({*BluetoothUUID::parse("0000FEC4-0000-1000-8000-00805F9B34FB")},
                              {.allowDuplicates = true});
  radio->play(trace(
      "0.1 adv listed -60 uuids=FEC4\n"
      "0.2 adv long -60 svc=0000FEC4-0000-1000-8000-00805F9B34FB:0102\n"
      "0.3 adv eddystone -60 svc=FEAA:00EE\n"
      "0.4 adv maker -60 mfr=FFFF0102\n"
      "0.5 adv near-miss -60 uuids=1234FEC4\n"
      "0.6 adv listed -60 uuids=FEAA,FEC4\n"));
  scheduler->advanceBy(1);
  std::vector<Uuid> who;
  for (const auto& s : recorder->seen) who.push_back(s.peripheral);
  EXPECT_EQ(who, (std::vector<Uuid>{SimTrace::identifierForToken("listed"), SimTrace::identifierForToken("long"),
                                    SimTrace::identifierForToken("listed")}));
  ASSERT_EQ(recorder->seen.size(), 3u);
  EXPECT_NE(recorder->seen[1].ad.serviceDataFor(fec4), nullptr);
}

TEST_F(RadioFixture, WithoutDuplicatesEachPeripheralOncePerScan) {
  central->scanForPeripherals({}, {});
  const char* text = "0.1 adv a -60 name=a\n0.2 adv b -60 name=b\n0.3 adv a -61 name=a\n";
  radio->play(trace(text));
  scheduler->advanceBy(1);
  EXPECT_EQ(recorder->seen.size(), 2u);
  central->scanForPeripherals({}, {});  // a new scan hears them again
  radio->play(trace(text));
  scheduler->advanceBy(1);
  EXPECT_EQ(recorder->seen.size(), 4u);
}

TEST_F(RadioFixture, IBeaconFramesGoToTheAirNotToScansUnlessShown) {
  std::vector<int> air;
  const auto observer = radio->addAirObserver([&](const Uuid&, const AdvertisementData&, int rssi) { air.push_back(rssi); });
  central->scanForPeripherals({}, {.allowDuplicates = true});
  const char* text =
      "0.1 adv b1 -61 mfr=4C000215E2C56DB5DFFB48D2B060D0F5A71096E00001000AC5\n"
      "0.2 adv m1 -62 mfr=4C000C0E00\n";  // another frame of the same company is scanned
  radio->play(trace(text));
  scheduler->advanceBy(1);
  EXPECT_EQ(air, (std::vector<int>{-61, -62}));
  ASSERT_EQ(recorder->seen.size(), 1u);
  EXPECT_EQ(recorder->seen[0].rssi, -62);

  radio->setShowsIBeaconFramesToScans(true);
  radio->play(trace(text));
  scheduler->advanceBy(1);
  EXPECT_EQ(recorder->seen.size(), 3u);
  radio->removeAirObserver(observer);
}

TEST_F(RadioFixture, AdvertisersFromCodeKeepIntervalPhaseAndRssiOverTime) {
  const auto id = Uuid::random();
  central->scanForPeripherals({}, {.allowDuplicates = true});
  const std::int64_t t0 = scheduler->manualClock()->uptime().count();
  radio->addAdvertiser({.identifier = id,
                        .advertisement = named("gate"),
                        .intervalSeconds = 0.1,
                        .phaseSeconds = 0.05,
                        .rssiOverTime = [](double t) { return -40 - static_cast<int>(t * 10); }});
  scheduler->advanceBy(1);
  ASSERT_EQ(recorder->seen.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(recorder->seen[i].at, t0 + 50000 + static_cast<std::int64_t>(i) * 100000);
    EXPECT_EQ(recorder->seen[i].rssi, -40 - static_cast<int>(i));
  }
  radio->removeAdvertiser(id);
  scheduler->advanceBy(1);
  EXPECT_EQ(recorder->seen.size(), 10u);
  EXPECT_EQ(radio->advertisementCount(), 10u);
}

// A peripheral gone for good stops advertising and leaves the air; each central lets go of
// its object, unless someone still holds it.
TEST(SimRadioForget, AForgottenPeripheralStopsAndIsLetGoUnlessHeld) {
  struct Keeper : bluetooth::CentralDelegate {
    void centralDidUpdateState(CentralState) override {}
    void centralDidDiscoverPeripheral(const std::shared_ptr<bluetooth::Peripheral>& p, const AdvertisementData&,
                                      int) override {
      last[p->identifier()] = p;
      ++heard;
    }
    std::map<Uuid, std::weak_ptr<bluetooth::Peripheral>> last;
    int heard = 0;
  };
  auto scheduler = std::make_shared<dispatch::VirtualScheduler>();
  auto radio = SimRadio::create(scheduler);
  auto keeper = std::make_shared<Keeper>();
  auto central = radio->makeCentral(keeper, scheduler->makeSerialQueue("sdk"));
  scheduler->runUntilIdle();
  central->scanForPeripherals({}, {.allowDuplicates = true});
  const auto held = Uuid::random(), gone = Uuid::random();
  for (const auto& id : {held, gone}) {
    radio->addAdvertiser({.identifier = id, .advertisement = AdvertisementData{.localName = "car"}, .intervalSeconds = 1});
  }
  scheduler->advanceBy(1.5);
  ASSERT_EQ(keeper->heard, 4);
  const auto kept = keeper->last[held].lock();
  const auto dropped = keeper->last[gone];
  ASSERT_TRUE(kept && !dropped.expired());

  radio->forgetPeripheral(held);
  radio->forgetPeripheral(gone);
  scheduler->advanceBy(5);
  EXPECT_EQ(keeper->heard, 4);
  EXPECT_FALSE(radio->knows(held));
  EXPECT_FALSE(radio->knows(gone));
  EXPECT_TRUE(dropped.expired());
  // Heard again: the held object is still the central's; the other one is new.
  radio->advertise(held, {}, -60);
  radio->advertise(gone, {}, -60);
  scheduler->runUntilIdle();
  EXPECT_EQ(keeper->last[held].lock(), kept);
  EXPECT_FALSE(keeper->last[gone].expired());
}

TEST_F(RadioFixture, ConnectionsFollowTheirScript) {
  const auto good = Uuid::random();
  const auto bad = Uuid::random();
  radio->addAdvertiser({.identifier = good, .advertisement = named("good"), .intervalSeconds = 1});
  radio->addAdvertiser({.identifier = bad, .advertisement = named("bad"), .intervalSeconds = 1});
  radio->setConnectScript(good, {.latencySeconds = 0.25});
  radio->setConnectScript(bad, {.latencySeconds = 0.5, .failure = bluetooth::gatt::makeError(
                                                           bluetooth::gatt::kConnectionFailed, "refused")});
  scheduler->runUntilIdle();

  EXPECT_TRUE(central->retrievePeripherals({Uuid::random()}).empty());
  auto found = central->retrievePeripherals({good, bad});
  ASSERT_EQ(found.size(), 2u);
  auto p = found[0];
  EXPECT_EQ(p->name(), "good");
  p->setDelegate(recorder);

  p->discoverServices(std::nullopt);  // not connected yet
  central->connect(p);
  central->connect(found[1]);
  EXPECT_EQ(p->state(), PeripheralState::Connecting);
  scheduler->advanceBy(1);
  EXPECT_EQ(p->state(), PeripheralState::Connected);
  EXPECT_EQ(found[1]->state(), PeripheralState::Disconnected);
  p->discoverServices(std::nullopt);
  scheduler->runUntilIdle();
  central->cancelPeripheralConnection(p);
  scheduler->runUntilIdle();
  EXPECT_EQ(p->state(), PeripheralState::Disconnected);

  // Power off drops a live connection with an error.
  central->connect(p);
  scheduler->advanceBy(1);
  radio->setPowerState(CentralState::PoweredOff);
  scheduler->runUntilIdle();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{
                                  "0 services 100", "250 connect", "500 fail 101", "1000 services 6",
                                  "1000 disconnect -", "1250 connect", "2000 disconnect 102"}));
}

}  // namespace
}  // namespace velmora::platform::sim
