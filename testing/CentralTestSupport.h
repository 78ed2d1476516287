#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/bluetooth/Central.h"
#include "platform/core/Clock.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine::testsupport {

// One start or stop the radio saw, at the scheduler's uptime in microseconds.
struct ScanEvent {
  std::int64_t atMicros;
  bool start;
  std::vector<platform::bluetooth::BluetoothUUID> filter;
  friend bool operator==(const ScanEvent&, const ScanEvent&) = default;
  friend void PrintTo(const ScanEvent& e, std::ostream* os) {
    *os << (e.start ? "start " : "stop ") << e.atMicros;
    for (const auto& f : e.filter) *os << " [" << f.string() << "]";
  }
};

// A central that passes everything to the simulated one and logs real scan starts and
// stops; a start while already scanning is counted as a fault.
class LoggingCentral : public platform::bluetooth::Central {
 public:
  LoggingCentral(std::shared_ptr<platform::bluetooth::Central> inner, std::shared_ptr<platform::Clock> clock)
      : inner_(std::move(inner)), clock_(std::move(clock)) {}
  platform::bluetooth::CentralState state() const override { return inner_->state(); }
  void scanForPeripherals(std::vector<platform::bluetooth::BluetoothUUID> services,
                          platform::bluetooth::ScanOptions options) override {
    std::lock_guard lock(mutex_);
    if (inner_->isScanning()) ++startsWhileScanning;
    log_.push_back({clock_->uptime().count(), true, services});
    inner_->scanForPeripherals(std::move(services), options);
  }
  void stopScan() override {
    std::lock_guard lock(mutex_);
    if (inner_->isScanning()) log_.push_back({clock_->uptime().count(), false, {}});
    inner_->stopScan();
  }
  bool isScanning() const override { return inner_->isScanning(); }
  std::vector<std::shared_ptr<platform::bluetooth::Peripheral>> retrievePeripherals(
      const std::vector<platform::Uuid>& ids) override {
    return inner_->retrievePeripherals(ids);
  }
  void connect(const std::shared_ptr<platform::bluetooth::Peripheral>& p) override { inner_->connect(p); }
  void cancelPeripheralConnection(const std::shared_ptr<platform::bluetooth::Peripheral>& p) override {
    inner_->cancelPeripheralConnection(p);
  }
  std::vector<ScanEvent> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  std::atomic<int> startsWhileScanning{0};

 private:
  std::shared_ptr<platform::bluetooth::Central> inner_;
  std::shared_ptr<platform::Clock> clock_;
  mutable std::mutex mutex_;
  std::vector<ScanEvent> log_;
};

struct Discovery {
  platform::Uuid peripheral;
  platform::Value adData;
  int rssi;
  std::string scanID;
};

class RecordingHub : public KSCentralManagerClientDelegate {
 public:
  bool centralManagerClientShouldScanForPeripherals(KSCentralManagerClient&) override {
    return shouldScan ? shouldScan() : allowScans.load();
  }
  void centralManagerClientDidUpdateState(KSCentralManagerClient&) override {
    std::lock_guard lock(mutex);
    calls.push_back("hub state");
  }
  void centralManagerClientDidDiscoverPeripheral(KSCentralManagerClient&, const platform::Uuid& peripheral,
                                                 const platform::Value& adData, int rssi,
                                                 const std::string& scanID) override {
    if (!keepDiscoveries) {
      ++discoveryCount;
      return;
    }
    std::lock_guard lock(mutex);
    discoveries.push_back({peripheral, adData, rssi, scanID});
  }
  bool keepDiscoveries = true;              // false: only count them (benchmarks)
  std::atomic<std::uint64_t> discoveryCount{0};
  std::atomic<bool> allowScans{true};
  std::function<bool()> shouldScan;  // set before the client is made; overrides allowScans
  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<Discovery> discoveries;
};

class FakeRegions : public KSBeaconRegionSource {
 public:
  std::vector<std::string> cachedProximityUUIDStrings() override {
    std::lock_guard lock(mutex);
    return uuids;
  }
  std::vector<std::string> cachedNamespaceIDs() override {
    std::lock_guard lock(mutex);
    return namespaces;
  }
  std::uint64_t changeCount() override {
    std::lock_guard lock(mutex);
    return count;
  }
  void set(std::vector<std::string> u, std::vector<std::string> n) {
    std::lock_guard lock(mutex);
    uuids = std::move(u);
    namespaces = std::move(n);
    ++count;
  }
  std::mutex mutex;
  std::vector<std::string> uuids;
  std::vector<std::string> namespaces;
  std::uint64_t count = 0;
};

class FakeSession : public KSSessionRunningSource {
 public:
  bool isSessionRunning() override { return running.load(); }
  std::atomic<bool> running{false};
};

// A world with a central client made over a logging simulated central.
struct CentralWorld {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<RecordingHub> hub = std::make_shared<RecordingHub>();
  std::shared_ptr<FakeRegions> regions = std::make_shared<FakeRegions>();
  std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
  std::shared_ptr<LoggingCentral> central;
  std::shared_ptr<KSCentralManagerClient> client;

  explicit CentralWorld(std::optional<platform::sim::SimApp::Step> launch = platform::sim::SimApp::Step::LaunchForeground) {
    auto bundle = world.bundle();
    auto radio = world.radio;
    auto clock = world.scheduler->clock();
    bundle.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(
        [this, radio, clock](std::weak_ptr<platform::bluetooth::CentralDelegate> d,
                             std::shared_ptr<platform::dispatch::Queue> q, platform::bluetooth::CentralOptions o) {
          central = std::make_shared<LoggingCentral>(radio->makeCentral(std::move(d), std::move(q), o), clock);
          return central;
        });
    provider = KSInstanceProvider::create(bundle);
    configurator = KSConfigurator::create(provider, {});
    // The world keeps the configurator; the registry's maker only hands it out, so the two
    // do not keep each other alive.
    provider->installMaker<KSConfigurator>(
        std::string(KSConfigurator::kSingletonName),
        [c = std::weak_ptr<KSConfigurator>(configurator)](KSInstanceProvider&) { return c.lock(); });
    if (launch) {
      world.app->perform(*launch);
      world.runUntilIdle();
    }
  }
  void makeClient(std::shared_ptr<KSBeaconOperationManaging> operations = nullptr,
                  std::shared_ptr<KSSessionRunningSource> sessionSource = nullptr) {
    client = KSCentralManagerClient::initWithDelegate(
        provider, {hub, regions, std::move(operations), sessionSource ? sessionSource : session});
  }
  void setOption(std::string_view key, bool value) {
    platform::Dict options;
    options[std::string(key)] = value;
    configurator->setUserOptions(options);
  }
};

}  // namespace velmora::kestrine::testsupport
