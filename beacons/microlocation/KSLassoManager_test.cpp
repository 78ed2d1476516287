// The lasso manager over a real ranging hub whose operation factory is a fake: the test
// drives the private event manager's passes and answers each data request itself.

#include "beacons/microlocation/KSLassoManager.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSLassoPacket.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KestrineSDK.h"
#include "testing/CentralTestSupport.h"
#include "testing/HexBytes.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
using Lines = std::vector<std::string>;
using platform::Bytes;
using platform::Dict;
using velmora::testing::hexBytes;

std::string hex(const Bytes& b) {
  std::string out;
  for (auto c : b) out += fmt::format("{}{:02X}", out.empty() ? "" : " ", c);
  return out;
}

// A data request the test ends.
class FakeDataRequest : public KSBeaconOperationRef {
 public:
  void setBeaconOperationCompletionBlockWithSuccess(Success s, Failure f) override {
    success = std::move(s);
    failure = std::move(f);
  }
  void setBeaconOperationStatusBlock(Status) override {}
  void setBeaconOperationProgressBlock(Progress) override {}
  std::vector<Bytes> responseDataArray() const override { return {reply}; }
  void answer(Bytes bytes) {
    reply = std::move(bytes);
    auto s = std::exchange(success, nullptr);
    failure = nullptr;
    s(shared_from_this());
  }
  void fail(const std::string& message) {
    auto f = std::exchange(failure, nullptr);
    success = nullptr;
    f(shared_from_this(), KSBeaconManagerInternal::errorWithDescription(message));
  }
  Bytes request;
  Bytes reply;
  Success success;
  Failure failure;
};

class FakeFactory : public KSBeaconOperationFactory {
 public:
  Ref makeFirmwareEncryptedUpdateOperation(const Beacon&, const Peripheral&, const std::string&) override { return {}; }
  Ref makeFirmwareUpdateOperation(const Beacon&, const Peripheral&, const std::string&) override { return {}; }
  Ref makeFirmwareUpdateLegacyOperation(const Beacon&, const Peripheral&) override { return {}; }
  Ref makeSettingsUpdateOperation(const Beacon&, const Peripheral&) override { return {}; }
  Ref makeSettingsUpdateLegacyOperation(const Beacon&, const Peripheral&) override { return {}; }
  Ref makeSettingsUpdateOfflineOperation(const Beacon&, const Peripheral&, const Dict&) override { return {}; }
  Ref makeEddystoneConfigOperation(const Beacon&, const Peripheral&, const Dict&) override { return {}; }
  Ref makeTransportDataRequestOperation(const Beacon&, const Peripheral&, const Bytes&) override { return {}; }
  Ref makeControlOperation(const Beacon&, const Peripheral&, std::int32_t, const std::optional<Bytes>&) override {
    return {};
  }
  Ref makeDataRequestOperation(const Beacon&, const Peripheral&, const std::vector<Bytes>& requests) override {
    auto op = std::make_shared<FakeDataRequest>();
    op->request = requests.empty() ? Bytes() : requests.front();
    made.push_back(op);
    return op;
  }
  std::vector<std::shared_ptr<FakeDataRequest>> made;
};

class NullOperations : public KSBeaconOperationManaging {
 public:
  void scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>&) override {}
};

struct Recorder : KSLassoManagerDelegate {
  Lines lines;
  std::optional<bool> begin;            // none: answers yes
  std::optional<Bytes> bytes;           // the app's own packet
  std::optional<Dict> dictionary;       // else these values
  std::optional<Dict> lastRequest, lastResponse;
  std::function<bool()> redeemingWhenTold;
  static std::string serial(const Lasso& l) { return l->beacon()->serialNumber().value_or("?"); }
  void didEnterLasso(const Lasso& l) override { lines.push_back("enter " + serial(l)); }
  void didRangeLasso(const Lasso& l) override { lines.push_back("range " + serial(l)); }
  void didExitLasso(const Lasso& l) override {
    lines.push_back("exit " + serial(l));
    if (mainQueue) exitsOnMain.push_back(mainQueue->isCurrent());
  }
  std::shared_ptr<platform::dispatch::Queue> mainQueue;
  std::vector<bool> exitsOnMain;
  bool shouldBeginRedemptionRequestForLasso(const Manager&, const Lasso&) override {
    lines.push_back("should-begin");
    return begin.value_or(true);
  }
  std::optional<Bytes> lassoManagerDataRequestForLasso(const Manager&, const Lasso&) override { return bytes; }
  std::optional<Dict> lassoManagerDictionaryForLasso(const Manager&, const Lasso&) override { return dictionary; }
  void lassoManagerDidRedeemDictionaryForLassoResponse(const Manager& m, const std::optional<Dict>& request,
                                                       const Lasso& l, const Dict& response) override {
    lines.push_back(fmt::format("redeemed {} redeeming {}", serial(l), m->isRedeeming()));
    lastRequest = request;
    lastResponse = response;
  }
  void lassoManagerDidFailToRedeemDictionaryForLassoError(const Manager&, const std::optional<Dict>& request,
                                                          const Lasso& l, const platform::Error& e) override {
    lines.push_back(fmt::format("failed {}: {} ({} {})", serial(l), e.localizedDescription, e.domain, e.code));
    lastRequest = request;
  }
  Lines take() { return std::exchange(lines, {}); }
};

std::shared_ptr<KSBeacon> lassoBeacon(const std::string& serial, std::vector<std::string> keys) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(serial);
  b->setSerialNumber(serial);
  std::vector<std::shared_ptr<KSCustomValue>> values;
  for (const auto& key : keys) {
    auto v = std::make_shared<KSCustomValue>();
    v->setKey(key);
    v->setValue("yes");
    values.push_back(v);
  }
  auto radius = std::make_shared<KSCustomValue>();
  radius->setKey("LassoRedemptionRadius");
  radius->setValue("0.5");
  values.push_back(radius);
  b->setCustomValues(values);
  return b;
}

struct LassoWorld {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider = KSInstanceProvider::create(world.bundle());
  std::shared_ptr<FakeFactory> factory = std::make_shared<FakeFactory>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<KSLassoManager> manager;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<KSBeacon> b1 = lassoBeacon("SN-1", {"offer"});
  std::shared_ptr<KSBeacon> b2 = lassoBeacon("SN-2", {"deal"});

  std::shared_ptr<KSVisitTracker> tracker;

  // withTracker: the manager listens to a tracker of its own; registry: the manager is the
  // registry's own, over the registry's tracker.
  explicit LassoWorld(bool withTracker = false, bool registry = false) {
    if (withTracker) {
      KSVisitTracker::Ports trackerPorts;
      trackerPorts.scheduler = world.scheduler;
      tracker = KSVisitTracker::create(trackerPorts);
    }
    recorder->mainQueue = world.scheduler->mainQueue();
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSBeaconManagerInternal::Ports ports;
    ports.session = std::make_shared<testsupport::FakeSession>();
    ports.operations = std::make_shared<NullOperations>();
    ports.operationFactory = factory;
    hub = KSBeaconManagerInternal::create(provider, ports);
    if (registry) {
      KestrineSDK::installSingletons(*provider);
      KSInstanceProvider::setSharedProvider(provider);
      manager = KSLassoManager::sharedManager();
    } else {
      KSLassoManager::Ports lassoPorts;
      lassoPorts.scheduler = world.scheduler;
      lassoPorts.hub = hub;
      lassoPorts.visits = tracker;
      manager = KSLassoManager::create(lassoPorts);
    }
    manager->setDelegate(recorder);
    manager->addLassoKeys({"offer", "deal"});
    manager->setEnabled(true);
    world.runUntilIdle();
  }
  ~LassoWorld() {
    world.runUntilIdle();
    manager.reset();
    KSInstanceProvider::setSharedProvider(nullptr);
  }
  // The tracker's ranging passes: one with the beacons, then as many without them as it
  // takes to end their visits.
  static void visitAndLeave(KSVisitTracker& tracker, const Beacons& beacons) {
    tracker.beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, beacons);
    for (std::int64_t i = 0; i < KSVisitTracker::kMissesToEnd; ++i) {
      tracker.beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, {});
    }
  }
  // One pass with the beacons at these distances, nearest first, then a second.
  void pass(std::vector<std::pair<std::shared_ptr<KSBeacon>, double>> heard) {
    Beacons beacons;
    for (auto& [b, accuracy] : heard) {
      b->setAccuracy(accuracy);
      beacons.push_back(b);
    }
    manager->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    world.runUntilIdle();
    world.advanceBy(1);
  }
  // b-1 entered, at 2 m: out of redemption reach.
  void enterB1() {
    pass({{b1, 2.0}});
    pass({{b1, 2.0}});
    recorder->take();
  }
};

TEST(LassoManager, EntersAndRangesTheClosestLassoBeacon) {
  for (auto keys : {std::vector<std::string>{"offer"}, {"offer", "deal"}}) {
    LassoWorld w;
    w.b1 = lassoBeacon("SN-1", keys);
    w.pass({{w.b1, 2.0}});
    EXPECT_TRUE(w.recorder->take().empty()) << "not on the first pass";
    w.pass({{w.b1, 2.0}});
    EXPECT_EQ(w.recorder->take(), (Lines{"enter SN-1", "range SN-1"})) << keys.size();
    w.pass({{w.b1, 2.0}});
    EXPECT_EQ(w.recorder->take(), (Lines{"range SN-1"}));
  }
}

TEST(LassoManager, ACloserBeaconLeavesTheFirstLasso) {
  LassoWorld w;
  w.enterB1();
  for (int i = 0; i < 6; ++i) w.pass({{w.b2, 0.9}, {w.b1, 2.0}});
  const auto lines = w.recorder->take();
  auto exit = std::find(lines.begin(), lines.end(), "exit SN-1");
  ASSERT_NE(exit, lines.end());
  EXPECT_EQ(*(exit + 1), "enter SN-2");
  EXPECT_EQ(w.manager->lassos().count("SN-1"), 0u);
  EXPECT_EQ(w.manager->lassos().count("SN-2"), 1u);
}

TEST(LassoManager, RedemptionRequests) {
  const Dict values{{"Amount", 1000}, {"Transaction", "Value"}};
  struct Case {
    const char* name;
    std::optional<bool> begin;
    std::optional<Bytes> bytes;
    std::optional<Dict> dictionary;
    std::size_t sent;
  };
  const Case cases[] = {
      {"refused by the app", false, std::nullopt, values, 0},
      {"the app's bytes", std::nullopt, hexBytes("05 01 03 26 41 42"), values, 1},
      {"the app's bytes that do not parse", std::nullopt, hexBytes("09 01"), std::nullopt, 1},
      {"a dictionary", std::nullopt, std::nullopt, values, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LassoWorld w;
    w.recorder->begin = c.begin;
    w.recorder->bytes = c.bytes;
    w.recorder->dictionary = c.dictionary;
    w.enterB1();
    w.pass({{w.b1, 0.4}});
    ASSERT_EQ(w.factory->made.size(), c.sent);
    EXPECT_EQ(w.recorder->take(), (Lines{"range SN-1", "should-begin"}));
    if (!c.sent) {
      EXPECT_FALSE(w.manager->isRedeeming());
      continue;
    }
    const auto& sent = w.factory->made.front()->request;
    if (c.bytes) {
      EXPECT_EQ(sent, *c.bytes);
    } else {
      EXPECT_EQ(hex(sent).substr(0, 47), "13 01 05 22 E8 03 00 00 02 21 01 02 04 01 05 25");
    }
    EXPECT_TRUE(w.manager->isRedeeming());
    w.pass({{w.b1, 0.4}});
    EXPECT_EQ(w.factory->made.size(), 1u) << "a tap while redeeming is ignored";
    w.recorder->take();

    w.factory->made.front()->answer(hexBytes("0F 01 03 2A 30 30 03 2B 4F 4B 05 22 E8 03 00 00"));
    w.world.runUntilIdle();
    EXPECT_EQ(w.recorder->take(), (Lines{"redeemed SN-1 redeeming true"}));
    EXPECT_FALSE(w.manager->isRedeeming());
    EXPECT_EQ((*w.recorder->lastResponse)["ResponseCode"], platform::Value("00"));
    EXPECT_EQ(w.recorder->lastRequest, KSKLassoParseData(sent));
  }
}

// A host that holds its delegate through the protocol type is asked for its consent like one
// that sets it through its own class: a NO sends nothing to the beacon, a YES sends the packet.
TEST(LassoManager, ADelegateSetThroughItsProtocolTypeIsAskedBeforeARedemption) {
  const Dict values{{"Amount", 1000}, {"Transaction", "Value"}};
  for (const bool throughProtocol : {false, true}) {
    for (const bool consent : {false, true}) {
      SCOPED_TRACE(fmt::format("{}, the host answers {}", throughProtocol ? "protocol type" : "own class",
                               consent ? "yes" : "no"));
      LassoWorld w;
      if (throughProtocol) {
        std::shared_ptr<KSLassoManagerDelegate> asProtocol = w.recorder;
        w.manager->setDelegate(asProtocol);
      }
      w.recorder->begin = consent;
      w.recorder->dictionary = values;
      w.enterB1();
      w.pass({{w.b1, 0.4}});
      EXPECT_EQ(w.recorder->take(), (Lines{"range SN-1", "should-begin"}));
      EXPECT_EQ(w.factory->made.size(), consent ? 1u : 0u) << "packets handed to the beacon";
      EXPECT_EQ(w.manager->isRedeeming(), consent);
      // The beacon ends the redemption it was sent, so nothing is left waiting on it.
      if (!w.factory->made.empty()) {
        w.factory->made.front()->fail("Connection lost");
        w.world.runUntilIdle();
      }
    }
  }
}

TEST(LassoManager, FailedRedemptions) {
  struct Case {
    const char* name;
    std::optional<Dict> dictionary;
    bool sent;
    std::function<void(FakeDataRequest&)> end;  // how the beacon ends it
    std::string failure;
  };
  const Dict ok{{"Amount", 5}};
  const Case cases[] = {
      {"request failed", ok, true, [](FakeDataRequest& r) { r.fail("Connection lost"); }, "Connection lost"},
      {"malformed reply", ok, true, [](FakeDataRequest& r) { r.answer(hexBytes("0A 01 02")); },
       "The beacon's reply is not a lasso packet"},
      {"neither answer", std::nullopt, false, nullptr,
       "The delegate gave neither a data request nor a dictionary for the lasso"},
      {"refused build", Dict{{"OfferId", std::string(244, 'A')}}, false, nullptr,
       "The packet would be 256 bytes after its length byte, more than 255"},
      {"too long for a data request", Dict{{"OfferId", std::string(238, 'A')}}, false, nullptr,
       "requestData too long. Use transportDataRequest if beacon host supports it or shorten request."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LassoWorld w;
    w.recorder->dictionary = c.dictionary;
    w.enterB1();
    w.pass({{w.b1, 0.4}});
    ASSERT_EQ(w.factory->made.size(), c.sent ? 1u : 0u);
    if (c.end) c.end(*w.factory->made.front());
    w.world.runUntilIdle();
    const auto lines = w.recorder->take();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(0, lines.back().find(" (")), "failed SN-1: " + c.failure);
    EXPECT_FALSE(w.manager->isRedeeming());
  }
}

TEST(LassoManager, VisitEndsAndDisabling) {
  LassoWorld w;
  w.enterB1();
  w.manager->microLocationManagerDidEndVisitForBeaconsWithSerialNumbers({"SN-9", "SN-1"});
  EXPECT_EQ(w.recorder->take(), (Lines{"exit SN-1"}));
  EXPECT_TRUE(w.manager->lassos().empty());
  auto ids = w.manager->eventManager()->allMonitoredEventIdentifiers();
  EXPECT_EQ(ids, (std::vector<std::string>{"triggerInRangeLasso", "triggerTapLasso"})) << "the tap trigger stays";

  w.manager->setEnabled(false);
  EXPECT_TRUE(w.manager->eventManager()->allMonitoredEventIdentifiers().empty());
  w.pass({{w.b1, 0.4}});
  EXPECT_TRUE(w.recorder->take().empty());
  w.manager->removeLassoKeys({"offer"});
  EXPECT_EQ(w.manager->lassoKeys(), (std::vector<std::string>{"deal"}));
}

TEST(LassoManager, TheTrackersVisitEndsLeaveTheLassoOnTheMainQueue) {
  LassoWorld w(true);
  ASSERT_NE(w.manager->microLocationManager(), nullptr);
  EXPECT_EQ(w.tracker->delegateCount(), 1u) << "its own micro-location manager listens";
  w.enterB1();
  w.b1->setProximity(2);
  LassoWorld::visitAndLeave(*w.tracker, {w.b1});
  w.world.runUntilIdle();
  EXPECT_EQ(w.recorder->take(), (Lines{"exit SN-1"}));
  EXPECT_EQ(w.recorder->exitsOnMain, std::vector<bool>{true});
  EXPECT_TRUE(w.manager->lassos().empty());

  // The listener does not keep the lasso manager alive, and its micro-location manager
  // leaves the tracker with it.
  std::weak_ptr<KSLassoManager> weak = w.manager;
  w.manager.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(w.tracker->delegateCount(), 0u);
}

TEST(LassoManager, TheRegistrysLassoManagerHearsTheRegistrysVisitTracker) {
  LassoWorld w(false, true);
  w.enterB1();
  ASSERT_EQ(w.manager->lassos().count("SN-1"), 1u);
  auto tracker = KSVisitTracker::sharedTracker(*w.provider);
  ASSERT_NE(tracker, nullptr);
  w.b1->setProximity(2);
  LassoWorld::visitAndLeave(*tracker, {w.b1});
  w.world.runUntilIdle();
  EXPECT_EQ(w.recorder->take(), (Lines{"exit SN-1"}));
  EXPECT_EQ(w.recorder->exitsOnMain, std::vector<bool>{true});
  EXPECT_TRUE(w.manager->lassos().empty());
}

}  // namespace
}  // namespace velmora::kestrine
