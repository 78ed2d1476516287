// Every public owner's delegate set two ways, as hosts do: through a pointer of the delegate's
// interface type (std::shared_ptr<Protocol>, as a host that keeps its delegates behind the
// interface holds them) and through the concrete class. Both must hear the same callbacks.
// Each owner is reached from outside through what feeds it: the site manager's reports, an
// advertisement's measurement frame, a ranging pass, a triggered event.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HostSdk.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSLassoManager.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSTrigger.h"
#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSSite.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/BeaconServiceDelegate.h"

namespace hostsuite {
namespace {

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Value;

std::shared_ptr<KSSite> site() {
  auto s = std::make_shared<KSSite>();
  s->setSiteID("site-1");
  return s;
}

// --- the owners: how each is made, how its delegate is set, what it is fed, what it says

// The lane service tells its delegate of every reset (empty lists).
struct BeaconServiceOwner {
  static constexpr const char* kName = "BeaconService";
  using Protocol = velmora::BeaconServiceDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    void beaconsChanged(const std::vector<std::shared_ptr<velmora::BeaconModel>>&) override { ++heard; }
  };
  std::shared_ptr<velmora::BeaconService> owner = velmora::BeaconService::create();
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void feed(HostSdk&) { owner->reset(false); }
};

struct BeaconManagerOwner {
  static constexpr const char* kName = "KSBeaconManager";
  using Protocol = KSBeaconManagerDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    void beaconManagerDidEnterSite(KSBeaconManager&, std::shared_ptr<KSSite>) override { ++heard; }
  };
  std::shared_ptr<KSBeaconManager> owner = KSBeaconManager::create();
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void feed(HostSdk&) { owner->siteManagerInternalDidEnterSite(site()); }
};

struct BeaconOwner {
  static constexpr const char* kName = "KSBeacon";
  using Protocol = KSBeaconDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    Taken beaconDidUpdateMeasurements(const std::shared_ptr<KSBeacon>&,
                                      const std::vector<std::shared_ptr<KSMeasurement>>&) override {
      ++heard;
      return std::monostate{};
    }
  };
  std::shared_ptr<KSBeacon> owner = std::make_shared<KSBeacon>();
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void feed(HostSdk&) {
    // A measurement frame: battery voltage, 3000 mV.
    owner->updateMeasurementDataWithAdData(Value::makeDict(
        {{std::string(KSAdDataTypeKey), Value(KSAdDataTypeKestrineMeasurementKey)},
         {std::string(KSAdDataMeasurementDataKey), Value(Bytes{3, 0x0B, 0xB8})}}));
  }
};

struct MicroLocationManagerOwner {
  static constexpr const char* kName = "KSMicroLocationManager";
  using Protocol = KSMicroLocationManagerDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    void microLocationManagerDidEnterSite(KSMicroLocationManager*, std::shared_ptr<KSSite>) override { ++heard; }
  };
  std::shared_ptr<KSMicroLocationManager> owner;
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void make(HostSdk& host) { owner = KSMicroLocationManager::create(*host.provider); }
  void feed(HostSdk&) {
    auto monitored = site();
    owner->startMonitoringSite(monitored);
    owner->siteManagerInternalDidEnterSite(monitored);
  }
};

struct ZoneMonitorOwner {
  static constexpr const char* kName = "KSZoneMonitor";
  using Protocol = KSZoneMonitorDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    void zoneMonitorDidEnterSite(const Monitor&, const std::shared_ptr<KSSite>&) override { ++heard; }
  };
  std::shared_ptr<KSZoneMonitor> owner = KSZoneMonitor::create();
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void feed(HostSdk&) { owner->siteManagerInternalDidEnterSite(site()); }
};

// A hub that keeps the data requests a lasso redemption sends.
class RecordingHub final : public KSBeaconHubPort {
 public:
  std::vector<Bytes> sent;
  void sendDataRequest(const Bytes& request, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success, Status,
                       Failure) override {
    sent.push_back(request);
  }
  void sendDataRequests(const std::vector<Bytes>& requests, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success,
                        Status, Failure) override {
    sent.insert(sent.end(), requests.begin(), requests.end());
  }
  void transportDataRequest(const Bytes& request, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success, Status,
                            Failure) override {
    sent.push_back(request);
  }
  void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>&, const velmora::platform::Dict&, Success, Status,
                              Failure) override {}
  void sendOpcode(std::int32_t, const std::optional<Bytes>&, const std::shared_ptr<KSBeacon>&, Success,
                  Failure) override {}
  std::vector<std::shared_ptr<KSBeacon>> cachedBeaconsForRangingWithPredicate(const KSBeaconPredicate&) override {
    return {};
  }
};

std::shared_ptr<KSTriggeredEvent> lassoTap() {
  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID("lasso-1");
  beacon->setSerialNumber("lasso-1");
  auto triggered = std::make_shared<KSTriggeredEvent>();
  triggered->event = std::make_shared<KSEvent>();
  triggered->event->setEventIdentifier(std::string(KSLassoTriggerTapIdentifier));
  triggered->filteredMicroLocation = KSMicroLocation::initWithSites({}, {beacon});
  triggered->triggerState = 1;
  return triggered;
}

// The host declines every redemption: the lasso manager must ask, and then send nothing.
struct LassoManagerOwner {
  static constexpr const char* kName = "KSLassoManager";
  using Protocol = KSLassoManagerDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    bool shouldBeginRedemptionRequestForLasso(const Manager&, const Lasso&) override {
      ++heard;
      return false;
    }
    std::optional<Bytes> lassoManagerDataRequestForLasso(const Manager&, const Lasso&) override {
      return Bytes{0x01, 0x02};
    }
  };
  std::shared_ptr<RecordingHub> hub = std::make_shared<RecordingHub>();
  std::shared_ptr<KSLassoManager> owner;
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void make(HostSdk& host) {
    KSLassoManager::Ports ports;
    ports.hub = hub;
    ports.provider = host.provider.get();
    owner = KSLassoManager::create(ports);
    owner->addLassoKeys({"host-offer"});
    owner->setEnabled(true);
  }
  void feed(HostSdk&) { owner->eventManagerTriggeredEvent(owner->eventManager(), lassoTap()); }
  void check() { EXPECT_TRUE(hub->sent.empty()) << "a declined redemption sent " << hub->sent.size() << " packet(s)"; }
};

// A trigger that fires on any ranged beacon, and a ranging pass handed over as the hub does.
struct EventManagerOwner {
  static constexpr const char* kName = "KSEventManager";
  using Protocol = KSEventManagerDelegate;
  struct Recorder : Protocol {
    int heard = 0;
    void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>&,
                                    const std::shared_ptr<KSTriggeredEvent>&) override {
      ++heard;
    }
  };
  std::shared_ptr<KSEventManager> owner;
  template <class D>
  void setDelegate(const std::shared_ptr<D>& d) { owner->setDelegate(d); }
  void make(HostSdk& host) {
    owner = KSEventManager::create({}, host.provider.get());
    owner->monitorEventWithTrigger(
        KSTrigger::initWithIdentifier("any", {KSEventFilter::filterByPredicate([](const KSBeacon&) { return true; })}));
  }
  void feed(HostSdk&) {
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setBeaconID("b-1");
    beacon->setSerialNumber("b-1");
    beacon->setRssi(-60);
    beacon->setAccuracy(1.0);
    owner->beaconManagerInternalDidRangeKestrineBeacons(nullptr, {beacon});
  }
};

template <class T, class = void>
struct HasMake : std::false_type {};
template <class T>
struct HasMake<T, std::void_t<decltype(std::declval<T&>().make(std::declval<HostSdk&>()))>> : std::true_type {};
template <class T, class = void>
struct HasCheck : std::false_type {};
template <class T>
struct HasCheck<T, std::void_t<decltype(std::declval<T&>().check())>> : std::true_type {};

// What one way of setting the delegate hears from one owner.
template <class Owner, bool ThroughProtocol>
int heardThrough() {
  HostSdk host;
  HostSdk::offlineOptions();
  int heard = 0;
  {
    Owner o;
    if constexpr (HasMake<Owner>::value) o.make(host);
    auto recorder = std::make_shared<typename Owner::Recorder>();
    if constexpr (ThroughProtocol) {
      std::shared_ptr<typename Owner::Protocol> asProtocol = recorder;
      o.setDelegate(asProtocol);
    } else {
      o.setDelegate(recorder);
    }
    host.phone.runUntilIdle();
    o.feed(host);
    host.phone.runUntilIdle();
    if constexpr (HasCheck<Owner>::value) o.check();
    heard = recorder->heard;
  }
  host.phone.runUntilIdle();
  return heard;
}

template <class Owner>
class HostDelegates : public ::testing::Test {};

using Owners = ::testing::Types<BeaconServiceOwner, BeaconManagerOwner, BeaconOwner, MicroLocationManagerOwner,
                                ZoneMonitorOwner, EventManagerOwner, LassoManagerOwner>;
class OwnerNames {
 public:
  template <class T>
  static std::string GetName(int) {
    return T::kName;
  }
};
TYPED_TEST_SUITE(HostDelegates, Owners, OwnerNames);

TYPED_TEST(HostDelegates, ProtocolTypedAndConcreteDelegatesHearTheSame) {
  const int concrete = heardThrough<TypeParam, false>();
  const int throughProtocol = heardThrough<TypeParam, true>();
  EXPECT_GT(concrete, 0) << "the concrete delegate heard nothing: the owner was not reached";
  EXPECT_EQ(throughProtocol, concrete) << "set through std::shared_ptr<" << TypeParam::kName << "Delegate>";
}

}  // namespace
}  // namespace hostsuite
