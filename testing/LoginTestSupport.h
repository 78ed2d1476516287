#pragma once

// Shared by the login tests: a simulated beacon with the maker's login service and an
// Eddystone configuration service, on the same virtual scheduler as a loopback beacon cloud.

#include <memory>
#include <optional>

#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/model/KSBeacon.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimEddystoneLock.h"
#include "platform/sim/SimLoginResponder.h"
#include "testing/ApiTestSupport.h"
#include "testing/GattCommandTestSupport.h"

namespace velmora::kestrine::testsupport {

inline Bytes md5Passcode(std::string_view text) {
  return platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, text);
}

// The maker's service with the login characteristics (Indicator optional, Milk optional).
inline SimGattServer::Service makerLoginService(bool indicator = true, bool milk = true) {
  using namespace velmora::platform::bluetooth;
  SimGattServer::Service service{gattUUID(KSServiceUUIDStringKestrineLong),
                                 {characteristic(KSCharacteristicUUIDStringControl, kPropertyWrite),
                                  characteristic(KSCharacteristicUUIDStringWater, kPropertyRead)}};
  if (milk) service.characteristics.push_back(characteristic(KSCharacteristicUUIDStringMilk, kPropertyWrite));
  if (indicator) {
    service.characteristics.push_back(characteristic(KSCharacteristicUUIDStringIndicator, kPropertyRead | kPropertyNotify));
  }
  return service;
}

inline SimGattServer::Service eddystoneService(bool unlock = true) {
  using namespace velmora::platform::bluetooth;
  SimGattServer::Service service{gattUUID(KSServiceUUIDStringEddystoneService),
                                 {characteristic(ESCharacteristicUUIDStringLockstate, kPropertyRead | kPropertyWrite)}};
  if (unlock) service.characteristics.push_back(characteristic(ESCharacteristicUUIDStringUnlock, kPropertyRead | kPropertyWrite));
  return service;
}

struct LoginFixture : GattFixture {
  std::unique_ptr<velmora::testing::ApiTestWorld> world = std::make_unique<velmora::testing::ApiTestWorld>();
  std::shared_ptr<KSBeaconConfigurationCloud> cloud;
  std::shared_ptr<KSBeacon> beacon = std::make_shared<KSBeacon>();
  std::shared_ptr<platform::sim::SimLoginResponder> responder;
  const Bytes passcode = md5Passcode("123456");
  const Bytes cloudSecret = Bytes(16, 0x5C);
  const Bytes statusBlock = [] {
    Bytes b{0xFB, 0xFF, 0xBF};
    b.resize(20, 0x00);
    return b;
  }();

  LoginFixture() {
    scheduler = world->scheduler;
    commandQueue = scheduler->makeSerialQueue("com.kestrine.configuration");
    world->client->setAuthorizationHeaderWithAppToken("tok");
    world->client->setValueForHTTPHeaderField("install-1", std::string(KSInstallationIDHeader));
    world->client->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));
    cloud = std::make_shared<KSBeaconConfigurationCloud>(world->client);
    beacon->setBeaconID("b-1");
    world->cloud.putRecord("beacons/b-1", "beacon", platform::Value::makeDict({{"id", "b-1"}}));
    world->cloud.setLoginSecret(cloudSecret);
  }

  // Connects a beacon whose responder checks the milk with the phone's own computation.
  void connectMaker(bool indicator = true, bool milk = true) {
    connect({makerLoginService(indicator, milk)});
    responder = platform::sim::SimLoginResponder::install(
        link->server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
                       gattUUID(KSCharacteristicUUIDStringIndicator)});
    responder->setCloudSecret(cloudSecret);
    responder->setStatusBlock(statusBlock);
    responder->setMilkFunction([passcode = passcode](const Bytes& water) {
      auto random = platform::crypto::RandomSource::constant(0xA5);
      return KSBeaconLoginCommand::milkForWater(water, passcode, *random);
    });
  }

  std::shared_ptr<KSBeaconLoginCommand> makeLogin(std::optional<Bytes> withPasscode = std::nullopt) {
    auto login = KSBeaconLoginCommand::create(beacon, link->peripheral, commandQueue, std::move(withPasscode));
    login->setCloud(cloud);
    login->setRandomSource(platform::crypto::RandomSource::constant(0xA5));
    return login;
  }
  // Runs the command until it reports (or 30 s of virtual time pass).
  Outcome runToEnd(const std::shared_ptr<KSPeripheralCommand>& command) {
    Outcome outcome;
    start(command, outcome);
    world->drainUntil([&] { return outcome.calls > 0; }, 30);
    return outcome;
  }
  bool readOf(std::string_view uuid) const {
    for (const auto& t : link->server->trace()) {
      if (t.uuid == gattUUID(uuid) && t.kind == SimGattServer::Kind::Read && !t.answer) return true;
    }
    return false;
  }
};

}  // namespace velmora::kestrine::testsupport
