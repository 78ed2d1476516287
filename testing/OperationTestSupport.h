#pragma once

// Shared by the beacon-operation tests: the real central client and operation manager on the
// simulated radio, one simulated beacon with the maker's service, its configuration side
// (Control recorder, request-data application) and a beacon record, all in virtual time.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "platform/bluetooth/Peripheral.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimLoginResponder.h"
#include "testing/CentralTestSupport.h"

namespace velmora::kestrine::testsupport {

// The store of a first launch: nothing stored.
class EmptyStore final : public KSLocalStoragePort {
 public:
  void fetchRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&,
                                    const std::optional<std::vector<KSSortDescriptor>>&, RowsHandler success,
                                    FailureHandler) override {
    if (success) success({});
  }
  void countRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&, CountHandler success,
                                    FailureHandler) override {
    if (success) success(0);
  }
};

using platform::Bytes;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;

// The location client's monitoring switch, recording every change.
class FakeRegionMonitoring final : public KSBeaconRegionMonitoringSwitch {
 public:
  explicit FakeRegionMonitoring(bool on) : enabled_(on) {}
  bool isBeaconRegionMonitoringEnabled() override {
    std::lock_guard lock(mutex_);
    return enabled_;
  }
  void setBeaconRegionMonitoringEnabled(bool on) override {
    std::lock_guard lock(mutex_);
    if (on == enabled_) return;
    enabled_ = on;
    changes_.push_back(on);
  }
  std::vector<bool> changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
  }

 private:
  mutable std::mutex mutex_;
  bool enabled_;
  std::vector<bool> changes_;
};

// Everything one operation reported, with the virtual time of each report.
struct Report {
  std::int64_t retryCount = -1;  // of the operation that reported
  int successes = 0;
  int failures = 0;
  std::optional<platform::Error> error;
  double at = -1;
  std::vector<std::string> statuses;
  std::vector<float> progress;
  int calls() const { return successes + failures; }
};

// The maker's service with Control, Indicator and the login's Water and Milk.
inline SimGattServer::Service makerGattService() {
  using namespace velmora::platform::bluetooth;
  return {gattUUID(KSServiceUUIDStringKestrineLong),
          {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite | kPropertyWriteWithoutResponse, {}},
           {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}},
           {gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
           {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}}}};
}

// The beacon's login side: a headed type-1 challenge (status block read and posted, the
// scrambler answer written to Milk, the verdict awaited on Indicator), any milk accepted.
inline std::shared_ptr<platform::sim::SimLoginResponder> installLoginResponder(
    const std::shared_ptr<SimGattServer>& server) {
  auto responder = platform::sim::SimLoginResponder::install(
      server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
               gattUUID(KSCharacteristicUUIDStringIndicator)});
  responder->setWater(Bytes{0x01, 0x03, 0xAA, 0xBB, 0xCC});
  responder->setStatusBlock(Bytes{0xFB, 0xFF, 0xBF, 0x00});
  return responder;
}

// A beacon cloud without a network: status posts are counted, a cloud answer is refused.
class OfflineCloud final : public KSBeaconConfigurationCloud {
 public:
  OfflineCloud() : KSBeaconConfigurationCloud(nullptr) {}
  void getMilk(const KSBeacon&, const Bytes&, const Bytes&, Success, Failure failure) override {
    if (failure) failure(platform::Error("com.kestrine.test", -1, "offline"));
  }
  void postStatus(const std::shared_ptr<KSBeacon>&, const Bytes&) override { ++statusPosts; }
  std::atomic<int> statusPosts{0};
};

// A minimal operation. Connects, logs in, says "Working", writes 2A to Control, disconnects and
// succeeds; or, with hold, stays connected; with disconnectAndWait, disconnects and waits
// there; with keepAlive, runs the keep-alive loop until told to stop; with an Eddystone
// passcode, unlocks the Eddystone service instead and succeeds.
class TestOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<TestOperation> make(std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> id) {
    return std::make_shared<TestOperation>(Token{}, std::move(beacon), std::move(id));
  }
  struct Token {};
  TestOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> id)
      : KSBeaconOperation(std::move(beacon), std::move(id)) {}

  std::string_view className() const override { return "TestOperation"; }
  std::int64_t maxNumberOfRetries() const override { return retries; }
  void connected() override {
    KSBeaconOperation::connected();
    if (hold) return;
    if (disconnectAndWait) return disconnect();
    std::weak_ptr<KSOperation> weak = weak_from_this();
    if (eddystonePasscode) {
      eddystoneLoginAndDiscoverCharacteristics({}, *eddystonePasscode, [weak](const auto&) {
        auto me = std::static_pointer_cast<TestOperation>(weak.lock());
        if (!me) return;
        me->reportStatus("Unlocked");
        me->disconnect();
        me->succeeded();
      });
      return;
    }
    kestrineLoginAndDiscoverCharacteristics(
        {KSCharacteristicUUIDStringControl, KSCharacteristicUUIDStringIndicator}, [weak](const auto&) {
          auto self = std::static_pointer_cast<TestOperation>(weak.lock());
          if (!self) return;
          auto control = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
          auto indicator = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringIndicator);
          if (self->keepAlive) {
            self->startWritingKeepAliveStatus(indicator, control, [weak] {
              if (auto me = std::static_pointer_cast<TestOperation>(weak.lock())) {
                ++me->keepAliveCompletions;
                me->succeeded();
              }
            });
            return;
          }
          self->reportStatus("Working");
          self->writeOpcode(0x2A, std::nullopt, control, [weak] {
            auto me = std::static_pointer_cast<TestOperation>(weak.lock());
            if (!me) return;
            me->disconnect();
            me->succeeded();
          });
        });
  }
  void restartKeepAlive() {
    startWritingKeepAliveStatus(nullptr, nullptr, [this] { ++keepAliveCompletions; });
  }

  std::int64_t retries = 0;
  bool hold = false;
  bool disconnectAndWait = false;
  bool keepAlive = false;
  int keepAliveCompletions = 0;
  // Set: unlocks the Eddystone configuration service with it instead of the maker's login.
  std::optional<Bytes> eddystonePasscode;

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override {
    auto copy = make(beacon(), std::nullopt);
    copy->retries = retries;
    copy->hold = hold;
    copy->disconnectAndWait = disconnectAndWait;
    copy->eddystonePasscode = eddystonePasscode;
    return copy;
  }
};

struct OperationFixture : ::testing::Test {
  std::unique_ptr<CentralWorld> central;
  std::shared_ptr<FakeRegionMonitoring> monitoring = std::make_shared<FakeRegionMonitoring>(true);
  std::shared_ptr<KSBeaconOperationManager> manager;
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<SimBeaconApplication> app;
  std::shared_ptr<platform::sim::SimLoginResponder> login;  // the first beacon's
  std::vector<std::shared_ptr<platform::sim::SimLoginResponder>> logins;  // every beacon's, as added
  std::shared_ptr<OfflineCloud> cloud = std::make_shared<OfflineCloud>();
  platform::Uuid peripheralID = platform::Uuid::random();
  std::shared_ptr<KSBeacon> beacon = std::make_shared<KSBeacon>();

  void SetUp() override {
    central = std::make_unique<CentralWorld>();
    platform::dispatch::Scheduler::setShared(central->world.scheduler);
    manager = KSBeaconOperationManager::create(central->world.scheduler, monitoring);
    central->makeClient(manager);
    manager->setCentralManagerClient(central->client);
    manager->setConfigurationCloud(cloud);
    server = addBeacon(peripheralID);
    app = SimBeaconApplication::install(server, radio()->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    login = logins.back();
    beacon->setPeripheralIdentifier(peripheralID);
    central->world.runUntilIdle();
  }
  void TearDown() override {
    central->world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  const std::shared_ptr<platform::sim::SimRadio>& radio() { return central->world.radio; }
  double now() const { return static_cast<double>(central->world.scheduler->clock()->uptime().count()) / 1e6; }
  void advanceTo(double seconds) { central->world.advanceBy(seconds - now()); }
  void advanceBy(double seconds) { central->world.advanceBy(seconds); }

  std::shared_ptr<SimGattServer> addBeacon(const platform::Uuid& id,
                                           SimGattServer::Latencies latencies = SimGattServer::Latencies()) {
    auto s = SimGattServer::create(radio()->timeline(), {makerGattService()}, latencies);
    radio()->setGattServer(id, s);
    logins.push_back(installLoginResponder(s));
    return s;
  }
  void setSecureMode() {
    auto mode = std::make_shared<KSBeaconMode>();
    mode->setBeaconModeID(KSBeaconModeIDSecure);
    beacon->setBeaconMode(mode);
  }

  // The hub's rule: the beacon heard under an identifier other than the stored one stores it
  // and tells the manager.
  void hear(const std::shared_ptr<KSBeacon>& b, const platform::Uuid& id) {
    if (b->peripheralIdentifier() == id) return;
    b->setPeripheralIdentifier(id);
    manager->didUpdatePeripheralIdentifierForBeacon(b);
  }
  void hearAt(double seconds, const std::shared_ptr<KSBeacon>& b, const platform::Uuid& id) {
    radio()->timeline()->at(platform::sim::SimTimeline::toMicros(seconds), [this, b, id] { hear(b, id); });
  }

  // Installs recording callbacks and schedules the operation now.
  std::shared_ptr<Report> schedule(const std::shared_ptr<KSBeaconOperation>& operation) {
    auto report = watch(operation);
    manager->scheduleBeaconOperation(operation);
    return report;
  }
  std::shared_ptr<Report> watch(const std::shared_ptr<KSBeaconOperation>& operation) {
    auto report = std::make_shared<Report>();
    std::weak_ptr<Report> weak = report;
    auto* self = this;
    operation->setBeaconOperationCompletionBlockWithSuccess(
        [weak, self](const std::shared_ptr<KSBeaconOperation>& o) {
          if (auto r = weak.lock()) {
            r->retryCount = o->retryCount();
            ++r->successes;
            r->at = self->now();
          }
        },
        [weak, self](const std::shared_ptr<KSBeaconOperation>& o, const platform::Error& error) {
          if (auto r = weak.lock()) {
            r->retryCount = o->retryCount();
            ++r->failures;
            r->error = error;
            r->at = self->now();
          }
        });
    operation->setBeaconOperationStatusBlock([weak](const auto&, const std::string& text) {
      if (auto r = weak.lock()) r->statuses.push_back(text);
    });
    operation->setBeaconOperationProgressBlock([weak](const auto&, float p) {
      if (auto r = weak.lock()) r->progress.push_back(p);
    });
    return report;
  }

  // Connection attempts the radio's server saw: each connection discovers services once.
  static int discoveries(const SimGattServer& s) {
    int n = 0;
    for (const auto& t : s.trace()) n += !t.answer && t.kind == SimGattServer::Kind::DiscoverServices;
    return n;
  }
  std::vector<Bytes> controlWrites() const { return app->controlWrites(); }
};

}  // namespace velmora::kestrine::testsupport
