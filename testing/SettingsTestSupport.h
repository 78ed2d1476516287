#pragma once

// Shared by the settings-update tests: the operation world of OperationTestSupport with a
// fuller simulated beacon (the maker's service with its login characteristics, the settings
// sink, an Eddystone configuration service with its lock and slots) and a loopback beacon
// cloud that prepares settings under the key it shares with the beacon.

#include <atomic>
#include <memory>

#include "beacons/api/KSApiClient.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/model/KSModelClock.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimEddystoneLock.h"
#include "platform/sim/SimLoginResponder.h"
#include "platform/sim/SimSettingsSink.h"
#include "testing/BeaconCloudFake.h"
#include "testing/GattCommandTestSupport.h"
#include "testing/OperationTestSupport.h"

namespace velmora::kestrine::testsupport {

inline Bytes passcodeDigest(std::string_view text) {
  return platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, text);
}

struct SettingsFixture : OperationFixture {
  velmora::testing::BeaconCloudFake cloudFake;
  std::shared_ptr<KSApiClient> client;
  std::shared_ptr<KSSettingsCloud> cloud;
  std::shared_ptr<std::atomic<int>> regionSyncs = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<platform::sim::SimSettingsSink> sink;
  std::shared_ptr<platform::sim::SimLoginResponder> login;
  std::shared_ptr<platform::sim::SimEddystoneLock> lock;
  std::shared_ptr<platform::sim::SimEddystoneSlots> slots;
  const Bytes sharedKey = Bytes(16, 0x3C);
  const Bytes statusBlock = Bytes{0xFB, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

  static SimGattServer::Service fullMakerService(bool indicator = true) {
    using namespace velmora::platform::bluetooth;
    SimGattServer::Service service{gattUUID(KSServiceUUIDStringKestrineLong),
                                   {characteristic(KSCharacteristicUUIDStringControl, kPropertyWrite | kPropertyWriteWithoutResponse),
                                    characteristic(KSCharacteristicUUIDStringWater, kPropertyRead),
                                    characteristic(KSCharacteristicUUIDStringMilk, kPropertyWrite),
                                    characteristic(KSCharacteristicUUIDStringGravy, kPropertyWriteWithoutResponse)}};
    if (indicator) {
      service.characteristics.push_back(characteristic(KSCharacteristicUUIDStringIndicator, kPropertyRead | kPropertyNotify));
    }
    return service;
  }
  static SimGattServer::Service eddystoneConfigService() {
    using namespace velmora::platform::bluetooth;
    return {gattUUID(KSServiceUUIDStringEddystoneService),
            {characteristic(ESCharacteristicUUIDStringBroadcastCapability, kPropertyRead),
             characteristic(ESCharacteristicUUIDStringActiveSlot, kPropertyRead | kPropertyWrite),
             characteristic(ESCharacteristicUUIDStringLockstate, kPropertyRead | kPropertyWrite),
             characteristic(ESCharacteristicUUIDStringUnlock, kPropertyRead | kPropertyWrite),
             characteristic(ESCharacteristicUUIDStringRWADVSlot, kPropertyRead | kPropertyWrite)}};
  }

  void SetUp() override {
    OperationFixture::SetUp();
    installBeacon(true);
    client = KSApiClient::create(cloudFake.baseUrl(), central->world.scheduler, {.defaultTimeoutSeconds = 10});
    auto syncs = regionSyncs;
    cloud = std::make_shared<KSSettingsCloud>(client, KSApiOperationManagerPorts{}, [syncs] { ++*syncs; });
    KSModelClock::setClock(central->world.scheduler->clock());
    beacon->setBeaconID("b-1");
    cloudFake.putRecord("beacons/b-1", "beacon", platform::Value::makeDict({{"id", "b-1"}}));
    cloudFake.setSettingsSecret(sharedKey);
  }
  void TearDown() override {
    OperationFixture::TearDown();
    client.reset();
    cloud.reset();
    KSModelClock::setClock(nullptr);
  }

  // The beacon of the test under peripheralID, with or without an Indicator characteristic.
  void installBeacon(bool indicator) {
    server = SimGattServer::create(radio()->timeline(), {fullMakerService(indicator), eddystoneConfigService()});
    radio()->setGattServer(peripheralID, server);
    app = SimBeaconApplication::install(server, radio()->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    app->setStatusBlock(statusBlock);
    sink = platform::sim::SimSettingsSink::install(app, server, radio()->timeline(),
                                                   gattUUID(KSCharacteristicUUIDStringIndicator));
    sink->encrypted().setKeys({sharedKey, passcodeDigest("123456")});
    // The maker's login: a headed challenge answered without a passcode (any answer taken).
    login = testsupport::installLoginResponder(server);
    lock = platform::sim::SimEddystoneLock::install(
        server, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)},
        passcodeDigest("123456"));
    lock->setChallenge(Bytes(16, 0x42));
    slots = platform::sim::SimEddystoneSlots::install(
        server, {gattUUID(ESCharacteristicUUIDStringActiveSlot), gattUUID(ESCharacteristicUUIDStringRWADVSlot),
                 gattUUID(ESCharacteristicUUIDStringBroadcastCapability)});
    central->world.runUntilIdle();
  }

  // Drives virtual time (and waits for the loopback cloud) until the operation reported, or
  // the bound of virtual seconds passed.
  bool runUntilReported(const std::shared_ptr<Report>& report, double bound = 300) {
    return central->world.scheduler->runUntil([report] { return report->calls() > 0; }, bound);
  }

  // Requests the cloud fake saw for a method, their paths below "/api/" with the raw query.
  std::vector<std::string> cloudCalls(std::string_view method) const {
    std::vector<std::string> out;
    for (const auto& r : cloudFake.log()) {
      if (r.method == method) out.push_back(r.rawTarget);
    }
    return out;
  }

  // The Control writes other than status requests.
  std::vector<Bytes> settingsWrites() const {
    std::vector<Bytes> out;
    for (const auto& w : server->writes(gattUUID(KSCharacteristicUUIDStringControl))) {
      if (!(w.size() == 1 && w[0] == 0x1D)) out.push_back(w);
    }
    return out;
  }

  std::vector<std::string> texts(const Report& report) const {
    static const std::vector<std::string> states{"Scheduled", "Preparing", "Connecting", "Connected", "Waiting"};
    std::vector<std::string> out;
    for (const auto& s : report.statuses) {
      if (std::find(states.begin(), states.end(), s) == states.end()) out.push_back(s);
    }
    return out;
  }
};

}  // namespace velmora::kestrine::testsupport
