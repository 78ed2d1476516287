#include "beacons/ranging/KSBeaconManagerInternal.h"

#include <gtest/gtest.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/model/KSEddystone.h"
#include "platform/core/Log.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::location::AuthorizationStatus;
using testsupport::adDataOfType;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr std::string_view kKey = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22";
constexpr std::string_view kUID = "00112233445566778899AABBCCDDEEFF";
constexpr std::string_view kAddress = "C4:7C:8D:6A:11:22";

// The store: rows by identifier, and the order of the fetches it was asked for.
class FakeStore : public KSLocalStoragePort {
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
  std::shared_ptr<KSBeacon> fetchBeaconForIBeaconKey(const std::string& key) override { return fetch("key " + key); }
  std::shared_ptr<KSBeacon> fetchBeaconForBluetoothAddress(const std::string& a) override { return fetch("address " + a); }
  std::shared_ptr<KSBeacon> fetchBeaconForEddystoneUIDString(const std::string& u) override { return fetch("uid " + u); }
  void storeBeacon(const std::shared_ptr<KSBeacon>& beacon) override { stored.push_back(beacon); }

  std::shared_ptr<KSBeacon> fetch(const std::string& what) {
    fetches.push_back(what);
    auto it = rows.find(what);
    // A fresh record per fetch, as a store reads a row into a new object.
    return it == rows.end() ? nullptr : it->second->copy();
  }
  std::map<std::string, std::shared_ptr<KSBeacon>> rows;
  std::vector<std::string> fetches;
  std::vector<std::shared_ptr<KSBeacon>> stored;
};

class Listener : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidFirstDiscoverBeacon(Hub, std::shared_ptr<KSBeacon> b) override {
    firstDiscovered.push_back(b);
  }
  void beaconManagerInternalDidCacheBeacons(Hub, Beacons b) override { cached.push_back(b); }
  void beaconManagerInternalDidRemoveBeacons(Hub, Beacons b) override { removed.push_back(b); }
  void beaconManagerInternalDidStopDiscoveringBeacons(Hub) override { ++stops; }
  void beaconManagerInternalDidStartDiscoveringBeacons(Hub) override { ++starts; }
  std::vector<std::shared_ptr<KSBeacon>> firstDiscovered;
  std::vector<Beacons> cached, removed;
  int stops = 0, starts = 0;
};

struct HubWorld {
  explicit HubWorld(AuthorizationStatus status = AuthorizationStatus::AuthorizedWhenInUse) {
    world.location->setAuthorizationStatus(status);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    provider = KSInstanceProvider::create(world.bundle());
    configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    session->running = true;
    hub = KSBeaconManagerInternal::create(provider, {store, nullptr, session});
    hub->addDelegate(listener);
    world.runUntilIdle();
  }
  void discover() {
    hub->startDiscoveringBeacons();
    world.runUntilIdle();
  }
  // One processed advertisement from the peripheral, as the central client hands it over.
  void hear(const platform::Uuid& peripheral, Value ad, int rssi = -60) {
    hub->centralManagerClientDidDiscoverPeripheral(*hub->centralManagerClient(), peripheral, ad, rssi, "scan-1");
    world.runUntilIdle();
  }
  static Value iBeaconAd(std::uint16_t minor = 22) {
    return adDataOfType(KSAdDataTypeAppleIBeaconKey, {{KSAdDataProximityUUIDStringKey, Value(kUUID)},
                                                      {KSAdDataMajorKey, Value(1)},
                                                      {KSAdDataMinorKey, Value(minor)}});
  }
  std::vector<KSBeaconScanData> samples() const {
    std::vector<KSBeaconScanData> out;
    for (const auto& m : hub->beaconRanger()->scanActivityMonitors()) {
      for (const auto& [id, d] : m.beaconScanDataForBeaconKey) out.push_back(d);
    }
    return out;
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>();
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<Listener> listener = std::make_shared<Listener>();
  platform::Uuid p1 = platform::sim::SimTrace::identifierForToken("p1");
  platform::Uuid p2 = platform::sim::SimTrace::identifierForToken("p2");
};

TEST(HubAdvertisements, AnIBeaconFromTheRadioIsCachedAndHandedToTheRanger) {
  HubWorld w;
  w.discover();
  platform::bluetooth::AdvertisementData ad;
  ad.manufacturerData = velmora::testing::hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
  w.world.radio->setShowsIBeaconFramesToScans(true);
  w.world.radio->advertise(w.p1, ad, -61);
  w.world.runUntilIdle();

  auto b = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u);
  EXPECT_EQ(b->peripheralIdentifier(), w.p1);
  EXPECT_EQ(w.hub->cacheIdentifierForPeripheralIdentifier(w.p1), b->cacheIdentifier());
  ASSERT_EQ(w.listener->firstDiscovered.size(), 1u);
  EXPECT_EQ(w.listener->firstDiscovered[0], b);
  ASSERT_EQ(w.listener->cached.size(), 1u);
  EXPECT_EQ(w.store->fetches, (std::vector<std::string>{"key " + std::string(kKey)}));
  auto samples = w.samples();
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].cacheIdentifier, *b->cacheIdentifier());
  EXPECT_EQ(samples[0].lastDiscoveredRSSI, -61);
}

TEST(HubAdvertisements, StoreIsAskedByOneKeyInItsOwnOrder) {
  struct Case {
    const char* name;
    Value ad;
    std::vector<std::string> fetches;
  };
  auto withAll = HubWorld::iBeaconAd();
  withAll.set(KSAdDataBluetoothAddressStringKey, Value(kAddress));
  withAll.set(KSAdDataEddystoneUIDStringKey, Value(kUID));
  const Case cases[] = {
      {"key before address and UID", withAll, {"key " + std::string(kKey)}},
      {"address before UID",
       adDataOfType(KSAdDataTypeKestrineSecureKey,
                    {{KSAdDataBluetoothAddressStringKey, Value(kAddress)}, {KSAdDataEddystoneUIDStringKey, Value(kUID)}}),
       {"address " + std::string(kAddress)}},
      {"UID", adDataOfType(KSAdDataTypeEddystoneUIDKey, {{KSAdDataEddystoneUIDStringKey, Value(kUID)}}),
       {"uid " + std::string(kUID)}},
      {"a URL is not looked up",
       adDataOfType(KSAdDataTypeEddystoneURLKey, {{KSAdDataEddystoneURLStringKey, Value("https://car.example")}}), {}},
  };
  for (const auto& c : cases) {
    HubWorld w;
    w.hear(w.p1, c.ad);
    EXPECT_EQ(w.store->fetches, c.fetches) << c.name;
    EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u) << c.name;
  }
}

TEST(HubAdvertisements, CacheIsLookedUpByTheFirstKeyOnly) {
  HubWorld w;
  w.hear(w.p1, HubWorld::iBeaconAd());
  auto cached = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(cached, nullptr);
  // A new address with the cached key, from another peripheral: the address alone is
  // looked up in the cache, the store is asked by the key, and the cached record (not a
  // second one) learns the address.
  auto ad = HubWorld::iBeaconAd();
  ad.set(KSAdDataBluetoothAddressStringKey, Value("c4:7c:8d:6a:11:22"));
  w.hear(w.p2, ad);
  EXPECT_EQ(w.store->fetches.size(), 2u);
  EXPECT_EQ(w.store->fetches.back(), "key " + std::string(kKey));
  EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u);
  EXPECT_EQ(w.hub->cachedBeaconWithBluetoothAddress(std::string(kAddress)), cached);
  EXPECT_EQ(cached->peripheralIdentifier(), w.p2);
  EXPECT_EQ(w.listener->firstDiscovered.size(), 1u);
}

TEST(HubAdvertisements, AKnownPeripheralTeachesOneIdentifierPerSighting) {
  HubWorld w;
  w.discover();
  w.hear(w.p1, HubWorld::iBeaconAd());
  auto b = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(b, nullptr);

  w.hear(w.p1, adDataOfType(KSAdDataTypeEddystoneUIDKey, {{KSAdDataEddystoneUIDStringKey, Value(kUID)}}));
  EXPECT_EQ(w.hub->cachedBeaconWithEddystoneUIDString(std::string(kUID)), b);
  EXPECT_EQ(b->eddystone()->namespaceID(), "00112233445566778899");
  EXPECT_EQ(b->eddystone()->instanceID(), "AABBCCDDEEFF");

  w.hear(w.p1, adDataOfType(KSAdDataTypeEddystoneURLKey, {{KSAdDataEddystoneURLStringKey, Value("https://a.example")}}));
  EXPECT_EQ(b->eddystone()->URLString(), "https://a.example");

  // Address and identifier data together: only the address is learned.
  w.hear(w.p1, adDataOfType(KSAdDataTypeKestrineIdentifierKey,
                            {{KSAdDataBluetoothAddressStringKey, Value(kAddress)},
                             {KSAdDataIdentifierDataKey, Value(platform::Bytes{0xAB})}}));
  EXPECT_EQ(w.hub->cachedBeaconWithBluetoothAddress(std::string(kAddress)), b);
  EXPECT_FALSE(b->hasIdentifierData());
  EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u);
  EXPECT_EQ(w.store->fetches.size(), 1u);
  EXPECT_EQ(w.samples()[0].numberOfRSSIs, 4);
}

TEST(HubAdvertisements, AUIDThatDoesNotSplitDropsTheSighting) {
  HubWorld w;
  w.discover();
  const std::string shortUID(kUID.substr(0, 31));
  w.hear(w.p1, adDataOfType(KSAdDataTypeEddystoneUIDKey, {{KSAdDataEddystoneUIDStringKey, Value(shortUID)}}));
  EXPECT_TRUE(w.hub->allCachedBeacons().empty());

  w.hear(w.p2, HubWorld::iBeaconAd());
  auto b = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(b, nullptr);
  const auto before = w.samples()[0].numberOfRSSIs;
  w.hear(w.p2, adDataOfType(KSAdDataTypeEddystoneUIDKey, {{KSAdDataEddystoneUIDStringKey, Value(shortUID + "00")}}));
  EXPECT_FALSE(b->eddystone() && b->eddystone()->UIDString());
  EXPECT_EQ(w.samples()[0].numberOfRSSIs, before);  // not handed to the ranger
  // And a 31- or 33-character UID never matches the map.
  EXPECT_EQ(w.hub->cachedBeaconWithEddystoneUIDString(shortUID), nullptr);
}

TEST(HubAdvertisements, StoreRowsNeedABeaconIDAndComeBackRestored) {
  HubWorld w;
  auto row = std::make_shared<KSBeacon>();
  row->setProximityUUIDString(std::string(kUUID));
  row->setMajor(Value(1));
  row->setMinor(Value(22));
  row->setFirstDiscoveredAt(platform::Date::fromUnixSeconds(1));
  w.store->rows["key " + std::string(kKey)] = row;  // no beacon ID: ignored
  w.hear(w.p1, HubWorld::iBeaconAd());
  auto b = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->syncStatus(), KSSyncStatusNotSynced);
  EXPECT_FALSE(b->beaconID());

  HubWorld w2;
  row->setBeaconID("b-7");
  row->setSyncStatus(KSSyncStatusNotSynced);
  testsupport::setOwnership(*row, 1);  // owned: sightings do not age it
  w2.store->rows["key " + std::string(kKey)] = row;
  w2.hear(w2.p1, HubWorld::iBeaconAd());
  auto restored = w2.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->beaconID(), "b-7");
  EXPECT_EQ(restored->syncStatus(), KSSyncStatusRestored);
  // Entering the cache counts as a first discovery even with an earlier date on the row.
  EXPECT_EQ(w2.listener->firstDiscovered.size(), 1u);
  EXPECT_EQ(restored->firstDiscoveredAt(), platform::Date::fromUnixSeconds(1));
}

TEST(HubAdvertisements, OneFirstDiscoveryPerStayAgainAfterAVisitEnds) {
  HubWorld w;
  w.hear(w.p1, HubWorld::iBeaconAd());
  w.hear(w.p1, HubWorld::iBeaconAd());
  ASSERT_EQ(w.listener->firstDiscovered.size(), 1u);
  auto b = w.listener->firstDiscovered[0];

  w.hub->processEndedBeaconVisit(std::string(kUUID), 1, 22, std::nullopt);
  EXPECT_FALSE(b->peripheralIdentifier());
  EXPECT_FALSE(b->firstDiscoveredAt());
  EXPECT_FALSE(b->lastDiscoveredAt());
  EXPECT_FALSE(b->isIBeacon());  // its advertisements are gone
  w.hear(w.p1, HubWorld::iBeaconAd());
  ASSERT_EQ(w.listener->firstDiscovered.size(), 2u);
  EXPECT_EQ(w.listener->firstDiscovered[1], b);
  EXPECT_EQ(b->peripheralIdentifier(), w.p1);
  // An unknown visit changes nothing.
  w.hub->processEndedBeaconVisit(std::string(kUUID), 1, 99, std::string("00:00:00:00:00:01"));
  EXPECT_TRUE(b->firstDiscoveredAt());
}

TEST(HubAdvertisements, ASightingNeverDowngradesACachedBeacon) {
  HubWorld w;
  auto synced = std::make_shared<KSBeacon>();
  synced->setProximityUUIDString(std::string(kUUID));
  synced->setMajor(Value(1));
  synced->setMinor(Value(22));
  synced->setBeaconID("b-1");
  synced->setSyncStatus(KSSyncStatusSynced);
  testsupport::setOwnership(*synced, 1);  // owned: sightings do not age it
  EXPECT_EQ(w.hub->cacheBeacon(synced, true, false), KSCacheBeaconResultNewWithSync);
  EXPECT_EQ(w.store->stored.size(), 1u);

  // The store knows the beacon too; a first sighting by address finds the row by key.
  auto row = synced->copy();
  w.store->rows["key " + std::string(kKey)] = row;
  auto ad = HubWorld::iBeaconAd();
  ad.set(KSAdDataBluetoothAddressStringKey, Value(kAddress));
  w.hear(w.p1, ad);
  EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u);
  EXPECT_EQ(synced->syncStatus(), KSSyncStatusSynced);
  EXPECT_EQ(w.hub->cachedBeaconWithBluetoothAddress(std::string(kAddress)), synced);

  // Caching a restored copy directly answers "not cached" and leaves the record alone.
  auto copy = synced->copy();
  copy->setSyncStatus(KSSyncStatusRestored);
  EXPECT_EQ(w.hub->cacheBeacon(copy, false), KSCacheBeaconResultNotCached);
  EXPECT_EQ(synced->syncStatus(), KSSyncStatusSynced);
  // Nothing identifiable is never cached.
  EXPECT_EQ(w.hub->cacheBeacon(std::make_shared<KSBeacon>(), false), KSCacheBeaconResultNotCached);
  EXPECT_EQ(w.hub->cacheBeacon(nullptr, false), KSCacheBeaconResultNotCached);
}

TEST(HubLocation, KeepAliveSightingsAreNeverCached) {
  HubWorld w;
  w.discover();
  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier("north");
  region->setProximityUUIDString(std::string("e2c56db5-dffb-48d2-b060-d0f5a71096e0"));
  region->setKeepAliveMajor(1);
  region->setKeepAliveMinor(9);
  auto sighting = [](std::string_view uuid, std::uint16_t major, std::uint16_t minor) {
    platform::location::Beacon b;
    b.proximityUUID = *platform::Uuid::parse(uuid);
    b.major = major;
    b.minor = minor;
    b.rssi = -70;
    b.accuracy = 2.5;
    return b;
  };
  w.hub->locationManagerClientDidRangeBeaconsInBeaconRegion(
      nullptr,
      {sighting(KSProximityUUIDString, 0, 0), sighting(kUUID, 1, 9), sighting(kUUID, 1, 22), sighting(kUUID, 1, 22)},
      region);
  w.world.runUntilIdle();
  ASSERT_EQ(w.hub->allCachedBeacons().size(), 1u);
  auto b = w.hub->cachedBeaconWithIBeaconKey(std::string(kKey));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->rssi().toInt64(), -70);
  EXPECT_TRUE(b->isIBeacon());
  ASSERT_EQ(w.listener->cached.size(), 1u);  // one multicast for the whole report
  EXPECT_EQ(w.listener->cached[0], (KSBeaconManagerInternalDelegate::Beacons{b}));
  EXPECT_TRUE(w.listener->firstDiscovered.empty());  // location sightings are no discovery
  const auto monitors = w.hub->beaconRanger()->beaconRegionActivityMonitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].identifier, "north");
  EXPECT_EQ(monitors[0].clBeacons.size(), 2u);
}

TEST(HubDiscovery, DeferredUntilLocationIsAuthorised) {
  HubWorld w(AuthorizationStatus::Denied);
  w.discover();
  EXPECT_FALSE(w.hub->isBeaconDiscoveringEnabled());
  EXPECT_TRUE(w.hub->enableDiscoveringBeaconsWhenLocationServicesAvailable());
  EXPECT_FALSE(w.hub->centralManagerClient()->isScanningEnabled());

  w.world.location->setAuthorizationStatus(AuthorizationStatus::AuthorizedAlways);
  w.world.center->post(std::string(KSNotificationLocationAuthorizationStatusDidChange));
  w.world.runUntilIdle();
  EXPECT_TRUE(w.hub->isBeaconDiscoveringEnabled());
  EXPECT_FALSE(w.hub->enableDiscoveringBeaconsWhenLocationServicesAvailable());
  EXPECT_TRUE(w.hub->centralManagerClient()->isScanningEnabled());
  EXPECT_EQ(w.listener->starts, 1);

  w.world.location->setAuthorizationStatus(AuthorizationStatus::Denied);
  w.world.center->post(std::string(KSNotificationLocationAuthorizationStatusDidChange));
  w.world.runUntilIdle();
  EXPECT_FALSE(w.hub->isBeaconDiscoveringEnabled());
  EXPECT_TRUE(w.hub->enableDiscoveringBeaconsWhenLocationServicesAvailable());
  EXPECT_EQ(w.listener->stops, 1);
}

TEST(HubDiscovery, RunsWithoutLocationWhenTheOptionSaysSo) {
  HubWorld w(AuthorizationStatus::Denied);
  platform::Dict options;
  options[std::string(KSOptionRunWithoutLocationServicesAuthorization)] = Value(true);
  w.configurator->setUserOptions(options);
  w.discover();
  EXPECT_TRUE(w.hub->isBeaconDiscoveringEnabled());
}

TEST(HubDiscovery, SessionEndStopsRangingNotScanning) {
  HubWorld w;
  w.discover();
  EXPECT_TRUE(w.hub->beaconRanger()->isBeaconRangingEnabled());
  w.world.center->post(std::string(KSSessionManagerNotificationDidEndSession));
  w.world.runUntilIdle();
  EXPECT_FALSE(w.hub->isCurrentlyInSession());
  EXPECT_FALSE(w.hub->beaconRanger()->isBeaconRangingEnabled());
  // Discovery goes on: the duty cycle pauses scans between sessions, and resumes them
  // because the hub still asks for them.
  EXPECT_TRUE(w.hub->isBeaconDiscoveringEnabled());
  w.world.center->post(std::string(KSSessionManagerNotificationDidBeginSession));
  w.world.runUntilIdle();
  EXPECT_TRUE(w.hub->beaconRanger()->isBeaconRangingEnabled());
  EXPECT_TRUE(w.hub->centralManagerClient()->isScanningEnabled());

  // Without discovery, a session start does not range.
  w.hub->stopDiscoveringBeacons();
  w.world.center->post(std::string(KSSessionManagerNotificationDidResumeSession));
  w.world.runUntilIdle();
  EXPECT_FALSE(w.hub->beaconRanger()->isBeaconRangingEnabled());
}

TEST(HubDiscovery, StopEmptiesEverythingWithoutReportingRemovals) {
  HubWorld w;
  w.discover();
  w.hear(w.p1, HubWorld::iBeaconAd());
  w.hub->cacheStateForSiteID("s1")->setObjectCountAfterLastSync(3);
  w.hub->cacheStateForApp()->setObjectCountAfterLastSync(4);
  w.hub->stopDiscoveringBeacons();
  w.world.runUntilIdle();
  EXPECT_TRUE(w.hub->allCachedBeacons().empty());
  EXPECT_FALSE(w.hub->cacheIdentifierForPeripheralIdentifier(w.p1));
  EXPECT_EQ(w.hub->cacheStateForSiteID("s1")->objectCountAfterLastSync(), 0);
  EXPECT_EQ(w.hub->cacheStateForApp()->objectCountAfterLastSync(), 0);
  EXPECT_FALSE(w.hub->centralManagerClient()->isScanningEnabled());
  EXPECT_EQ(w.listener->stops, 1);
  EXPECT_TRUE(w.listener->removed.empty());
  // The next sighting of the same beacon goes to the store again.
  w.hear(w.p1, HubWorld::iBeaconAd());
  EXPECT_EQ(w.store->fetches.size(), 2u);
}

TEST(HubCache, BecomingActiveDropsBeaconsNeitherSyncedNorUnauthorised) {
  HubWorld w;
  auto make = [&](std::uint16_t minor, std::int64_t status) {
    auto b = std::make_shared<KSBeacon>();
    b->setProximityUUIDString(std::string(kUUID));
    b->setMajor(Value(1));
    b->setMinor(Value(minor));
    b->setSyncStatus(status);
    w.hub->cacheBeacon(b, true, false);
    return b;
  };
  auto synced = make(1, KSSyncStatusSynced);
  auto unauthorised = make(2, KSSyncStatusUnauthorized);
  auto restored = make(3, KSSyncStatusRestored);
  auto fresh = make(4, KSSyncStatusNotSynced);
  w.world.app->perform(platform::sim::SimApp::Step::ResignActive);
  w.world.app->perform(platform::sim::SimApp::Step::Activate);
  w.world.runUntilIdle();
  auto left = w.hub->allCachedBeacons();
  EXPECT_EQ(left.size(), 2u);
  EXPECT_NE(w.hub->cachedBeaconForBeacon(synced), nullptr);
  EXPECT_NE(w.hub->cachedBeaconForBeacon(unauthorised), nullptr);
  EXPECT_EQ(w.hub->cachedBeaconForBeacon(restored), nullptr);
  ASSERT_EQ(w.listener->removed.size(), 1u);
  EXPECT_EQ(w.listener->removed[0].size(), 2u);
  (void)fresh;
}

TEST(HubCache, RemovalLeavesEntriesOfOtherBeaconsAndResetsTheSite) {
  HubWorld w;
  auto a = std::make_shared<KSBeacon>();
  a->setBluetoothAddress(std::string(kAddress));
  a->setSiteID("s1");
  w.hub->cacheBeacon(a, false);
  w.hub->cacheStateForSiteID("s1")->setObjectCountAfterLastSync(5);
  auto stale = a->copy();  // a copy carrying the same address, cached under another identifier
  stale->setCacheIdentifier("other");
  w.hub->removeCachedBeacon(stale);
  EXPECT_EQ(w.hub->cachedBeaconWithBluetoothAddress(std::string(kAddress)), a);
  w.hub->removeCachedBeacon(a);
  EXPECT_EQ(w.hub->cachedBeaconWithBluetoothAddress(std::string(kAddress)), nullptr);
  EXPECT_EQ(w.hub->cacheStateForSiteID("s1")->objectCountAfterLastSync(), 0);
}

}  // namespace
}  // namespace velmora::kestrine

namespace velmora::kestrine {
namespace {

class OrderListener : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons b) override { note("1", b); }
  void beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(Hub, Beacons b) override { note("2", b); }
  void beaconManagerInternalDidRangeNewbornBeacons(Hub, Beacons b) override { note("3", b); }
  void beaconManagerInternalDidRangeIBeacons(Hub, Beacons b) override { note("4", b); }
  void beaconManagerInternalDidRangeEddystoneBeacons(Hub, Beacons b) override { note("5", b); }
  void beaconManagerInternalDidRangeBeacons(Hub, Beacons b) override { note("6", b); }
  void beaconManagerInternalDidRangeMeasurementBeacons(Hub, Beacons b) override { note("7", b); }
  void note(const std::string& list, const Beacons& b) { log.push_back(list + ":" + std::to_string(b.size())); }
  std::vector<std::string> log;
};

class RangeOnlyListener : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidRangeBeacons(Hub, Beacons b) override { passes.push_back(b.size()); }
  std::vector<std::size_t> passes;
};

TEST(HubMulticast, SevenListsInOrderEveryPassToEachListenerWhatItImplements) {
  HubWorld w;
  auto order = std::make_shared<OrderListener>();
  auto rangeOnly = std::make_shared<RangeOnlyListener>();
  w.hub->addDelegate(order);
  w.hub->addDelegate(rangeOnly);
  auto ibeacon = testsupport::beaconWithAdTypes({KSAdDataTypeAppleIBeaconKey});
  w.hub->beaconRangerDidRangeBeacons(*w.hub->beaconRanger(), {});
  w.hub->beaconRangerDidRangeBeacons(*w.hub->beaconRanger(), {ibeacon});
  w.world.runUntilIdle();
  EXPECT_EQ(order->log, (std::vector<std::string>{"1:0", "2:0", "3:0", "4:0", "5:0", "6:0", "7:0",  //
                                                  "1:0", "2:0", "3:0", "4:1", "5:0", "6:1", "7:0"}));
  EXPECT_EQ(rangeOnly->passes, (std::vector<std::size_t>{0, 1}));
}

}  // namespace
}  // namespace velmora::kestrine
