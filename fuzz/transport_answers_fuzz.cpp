// Plays a transport request against a simulated beacon whose answers are cut from the input
// (one length byte, then that many bytes, per request-data exchange; silence once they run
// out), through the real operation manager and central client in virtual time. Whatever the
// beacon says, the caller hears exactly once: a reply no longer than what the beacon sent, a
// failure, or a timeout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSBeacon.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimReachability.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;

namespace {

class MonitoringOff final : public KSBeaconRegionMonitoringSwitch {
 public:
  bool isBeaconRegionMonitoringEnabled() override { return false; }
  void setBeaconRegionMonitoringEnabled(bool) override {}
};

class NoHub final : public KSCentralManagerClientDelegate {
 public:
  bool centralManagerClientShouldScanForPeripherals(KSCentralManagerClient&) override { return false; }
  void centralManagerClientDidUpdateState(KSCentralManagerClient&) override {}
  void centralManagerClientDidDiscoverPeripheral(KSCentralManagerClient&, const velmora::platform::Uuid&, const velmora::platform::Value&,
                                                 int, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::deque<Bytes> answers;
  std::size_t sent = 0;
  for (std::size_t i = 0; i < size;) {
    const std::size_t n = std::min<std::size_t>(data[i], size - i - 1);
    answers.emplace_back(data + i + 1, data + i + 1 + n);
    sent += n;
    i += 1 + n;
  }

  static const std::filesystem::path documents = [] {
    auto path = std::filesystem::temp_directory_path() / "velmora_fuzz_transport_answers";
    std::filesystem::create_directories(path);
    return path;
  }();
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  velmora::platform::dispatch::Scheduler::setShared(scheduler);
  {
    auto center = std::make_shared<velmora::platform::NotificationCenter>();
    auto radio = velmora::platform::sim::SimRadio::create(scheduler);
    auto app = velmora::platform::sim::SimApp::create(scheduler, *center, documents);
    KSPlatformBundle bundle;
    bundle.scheduler = scheduler;
    bundle.notificationCenter = center;
    bundle.defaults = velmora::platform::UserDefaults::open(documents / KSPlatformBundle::kDefaultsFileName);
    bundle.centralMaker = std::make_shared<velmora::platform::bluetooth::CentralMaker>(radio->centralMaker());
    bundle.location = velmora::platform::sim::SimLocation::create(scheduler, radio);
    bundle.app = app;
    bundle.reachability = velmora::platform::sim::SimReachability::create(scheduler);
    app->perform(velmora::platform::sim::SimApp::Step::LaunchForeground);
    auto provider = KSInstanceProvider::create(bundle);
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    auto manager = KSBeaconOperationManager::create(scheduler, std::make_shared<MonitoringOff>());
    auto hub = std::make_shared<NoHub>();
    auto client = KSCentralManagerClient::initWithDelegate(provider, {hub, nullptr, manager, nullptr});
    manager->setCentralManagerClient(client);

    using namespace velmora::platform::bluetooth;
    const velmora::platform::Uuid id = velmora::platform::Uuid::random();
    auto server = velmora::platform::sim::SimGattServer::create(
        radio->timeline(), {{gattUUID(KSServiceUUIDStringKestrineLong),
                             {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
                              {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}});
    radio->setGattServer(id, server);
    auto beaconSide = velmora::platform::sim::SimBeaconApplication::install(
        server, radio->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
        gattUUID(KSCharacteristicUUIDStringIndicator));
    beaconSide->setRequestHandler([&answers](const Bytes&) {
      if (answers.empty()) return velmora::platform::sim::SimBeaconApplication::Answer::silence();
      Bytes next = std::move(answers.front());
      answers.pop_front();
      return velmora::platform::sim::SimBeaconApplication::Answer::send(std::move(next));
    });

    auto beacon = std::make_shared<KSBeacon>();
    beacon->setPeripheralIdentifier(id);
    auto operation = KSBeaconTransportDataRequestOperation::initWithBeacon(beacon, id, Bytes(300, 0x42));
    int reports = 0;
    operation->setBeaconOperationCompletionBlock([&reports](const auto&, const auto&) { ++reports; });
    manager->scheduleBeaconOperation(operation);
    scheduler->advanceBy(300);  // past the longest path: 60 s connected, then 60 s waiting
    if (reports != 1) std::abort();
    if (operation->responseData().size() > sent) std::abort();
    scheduler->runUntilIdle();
  }
  velmora::platform::dispatch::Scheduler::setShared(nullptr);
  return 0;
}
