// A settings update run from the host through the hub, against the host's own beacon cloud:
// the cloud prepares the settings for the beacon under the key it shares with it, the
// simulated beacon takes them, and the update ends by refreshing the beacon's record. When
// the record says the beacon moved to another major/minor, the hub finds it under the new
// iBeacon key only, and the host's listener hears of the sync.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HostHttpServer.h"
#include "HostSdk.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "platform/bluetooth/GattCharacteristic.h"
#include "platform/core/Json.h"
#include "platform/crypto/Aes.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Cmac.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimLoginResponder.h"
#include "platform/sim/SimSettingsSink.h"
#include "platform/sim/SimTrace.h"

namespace hostsuite {
namespace {

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Dict;
using velmora::platform::Value;
namespace sim = velmora::platform::sim;
namespace crypto = velmora::platform::crypto;
namespace bt = velmora::platform::bluetooth;

// The host's beacon cloud, as far as one settings update needs it: status posts taken, the
// settings blob for the beacon (MD5 of the posted status as IV, AES-128-CBC under the shared
// key, AES-CMAC over IV and ciphertext), and the beacon's record.
class SettingsCloud {
 public:
  SettingsCloud(Bytes sharedKey, Bytes payload, Dict record) {
    server.handle("/api/beacons/b-1/versions/confirm", [](const HostHttpServer::Request&) {
      return HostHttpServer::Reply{200, "{}"};
    });
    server.handle("/api/beacons/b-1/versions/latest/settings", [sharedKey, payload](const HostHttpServer::Request& r) {
      const auto status = r.query.find("status");
      const auto iv = crypto::digest(crypto::DigestAlgorithm::MD5, status == r.query.end() ? "" : status->second);
      const auto ciphertext = crypto::aes128CbcEncrypt(sharedKey, iv, payload);
      if (!ciphertext) return HostHttpServer::Reply{500, "{}"};
      Bytes blob(iv.begin(), iv.end());
      blob.insert(blob.end(), ciphertext->begin(), ciphertext->end());
      const auto mac = crypto::aesCmac(sharedKey, blob);
      if (!mac) return HostHttpServer::Reply{500, "{}"};
      blob.insert(blob.end(), mac->begin(), mac->end());
      return HostHttpServer::Reply{
          200, velmora::platform::json::write(Value::makeDict({{"settings", crypto::base64Encode(blob)}})).value_or("")};
    });
    const std::string body = velmora::platform::json::write(Value::makeDict({{"beacon", Value(record)}})).value_or("");
    server.handle("/api/beacons/b-1", [body](const HostHttpServer::Request& r) {
      return r.method == "GET" ? HostHttpServer::Reply{200, body} : HostHttpServer::Reply{200, "{}"};
    });
  }
  std::string apiUrl() const { return server.baseUrl() + "/api/"; }
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.method + " " + r.path);
    return out;
  }

  HostHttpServer server;
};

class SyncListener final : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidSyncBeacons(Hub, Beacons beacons) override {
    std::lock_guard lock(mutex);
    for (const auto& b : beacons) synced.push_back(b);
  }
  std::mutex mutex;
  Beacons synced;
};

sim::SimGattServer::Characteristic characteristic(std::string_view uuid, std::uint32_t properties) {
  return {gattUUID(uuid), properties, {}};
}

TEST(HostSettings, AnUpdateThatMovesTheBeaconLeavesItInTheHubUnderItsNewKey) {
  const Bytes sharedKey(16, 0x3C);
  const Bytes payload(32, 0x5A);
  const std::string oldKey = beaconId(1, 22);
  const std::string newKey = beaconId(1, 23);
  SettingsCloud cloud(sharedKey, payload,
                      {{"id", Value("b-1")}, {"proximityUUID", Value(kProximityUuid)}, {"major", Value(1)}, {"minor", Value(23)}});

  HostSdk host;
  KestrineSDK::setOptions({{std::string(KSOptionUseApi), Value(true)},
                           {std::string(KSOptionUseLocalStorage), Value(false)},
                           {std::string(KSOptionApiBaseURL), Value(cloud.apiUrl())}});
  std::optional<int> started;
  KestrineSDK::startRunning([&](int status) { started = status; });
  host.phone.scheduler->runUntil([&] { return started.has_value(); }, 60);
  host.phone.runUntilIdle();
  auto hub = KSBeaconManagerInternal::sharedInternal();
  ASSERT_TRUE(hub);
  auto listener = std::make_shared<SyncListener>();
  hub->addDelegate(listener);

  // The beacon: the maker's service with its login and settings sink, keyed to the cloud's key
  // and to the passcode "123456".
  const auto peripheral = sim::SimTrace::identifierForToken("p1");
  auto server = sim::SimGattServer::create(
      host.phone.radio->timeline(),
      {{gattUUID(KSServiceUUIDStringKestrineLong),
        {characteristic(KSCharacteristicUUIDStringControl, bt::kPropertyWrite | bt::kPropertyWriteWithoutResponse),
         characteristic(KSCharacteristicUUIDStringWater, bt::kPropertyRead),
         characteristic(KSCharacteristicUUIDStringMilk, bt::kPropertyWrite),
         characteristic(KSCharacteristicUUIDStringGravy, bt::kPropertyWriteWithoutResponse),
         characteristic(KSCharacteristicUUIDStringIndicator, bt::kPropertyRead | bt::kPropertyNotify)}}});
  host.phone.radio->setGattServer(peripheral, server);
  auto app = sim::SimBeaconApplication::install(server, host.phone.radio->timeline(),
                                                gattUUID(KSCharacteristicUUIDStringControl),
                                                gattUUID(KSCharacteristicUUIDStringIndicator));
  Bytes statusBlock(20, 0x00);
  std::copy_n(Bytes{0xFB, 0xFF, 0xBF}.begin(), 3, statusBlock.begin());
  app->setStatusBlock(statusBlock);
  auto sink = sim::SimSettingsSink::install(app, server, host.phone.radio->timeline(),
                                            gattUUID(KSCharacteristicUUIDStringIndicator));
  sink->encrypted().setKeys({sharedKey, crypto::digest(crypto::DigestAlgorithm::MD5, "123456")});
  auto login = sim::SimLoginResponder::install(
      server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
               gattUUID(KSCharacteristicUUIDStringIndicator)});
  login->setWater(Bytes{0x01, 0x03, 0xAA, 0xBB, 0xCC});
  login->setStatusBlock(Bytes{0xFB, 0xFF, 0xBF, 0x00});

  // Heard once at 1:22.
  hub->startDiscoveringBeacons();
  host.phone.runUntilIdle();
  bt::AdvertisementData ad;
  ad.manufacturerData = Bytes{0x4C, 0x00, 0x02, 0x15, 0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78, 0x87,
                              0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0, 0x00, 0x01, 0x00, 0x16, 0xC5};
  host.phone.radio->setShowsIBeaconFramesToScans(true);
  host.phone.radio->advertise(peripheral, ad, -61);
  host.phone.runUntilIdle();
  auto beacon = hub->cachedBeaconWithIBeaconKey(oldKey);
  ASSERT_NE(beacon, nullptr) << "the hub never cached the advertised beacon";
  beacon->setBeaconID("b-1");
  beacon->setFeatureBitmask(KSFeatureBitmaskAES128CMACBLESettingsUpdate);

  int successes = 0, failures = 0;
  std::optional<velmora::platform::Error> error;
  hub->updateSettingsInBeacon(
      beacon, [&](Value) { ++successes; }, [](Value) {},
      [&](velmora::platform::Error e) {
        ++failures;
        error = std::move(e);
      });
  host.phone.scheduler->runUntil([&] { return successes + failures > 0; }, 300);
  host.phone.advanceBy(5);
  host.phone.runUntilIdle();

  const auto calls = cloud.calls();
  std::string seen;
  for (const auto& c : calls) seen += c + "\n";
  ASSERT_EQ(successes, 1) << (error ? error->localizedDescription : "no report") << "\ncloud saw:\n" << seen;
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(sink->encrypted().payloads(), std::vector<Bytes>{payload}) << "the beacon took the cloud's settings";
  EXPECT_NE(std::find(calls.begin(), calls.end(), "GET /api/beacons/b-1"), calls.end()) << seen;
  EXPECT_EQ(hub->cachedBeaconWithIBeaconKey(newKey), beacon);
  EXPECT_EQ(hub->cachedBeaconWithIBeaconKey(oldKey), nullptr) << "the old key is gone from the index";
  std::lock_guard lock(listener->mutex);
  EXPECT_FALSE(listener->synced.empty()) << "the host never heard of the sync";
  for (const auto& b : listener->synced) EXPECT_EQ(b, beacon);
}

}  // namespace
}  // namespace hostsuite
