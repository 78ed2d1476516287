#include "platform/bluetooth/bluez/BluezCentral.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/bluetooth/bluez/MockBluez.h"
#include "platform/bluetooth/bluez/PeripheralIdentifier.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::platform::bluetooth::bluez {
namespace {

using testing::MockBluez;
using namespace std::chrono_literals;

// The template's first adapter and its address.
const std::string kAdapter = "/org/bluez/hci0";
const std::string kAdapterAddress = "00:01:02:03:04:05";

// An iBeacon frame as the service reports it: the company's payload, without the company.
std::vector<std::uint8_t> iBeaconPayload(std::uint16_t major, std::uint16_t minor, std::int8_t power = -59) {
  std::vector<std::uint8_t> p{0x02, 0x15, 0xE2, 0xC5, 0x6D, 0xB5, 0xDF, 0xFB, 0x48, 0xD2,
                              0xB0, 0x60, 0xD0, 0xF5, 0xA7, 0x10, 0x96, 0xE0};
  p.push_back(static_cast<std::uint8_t>(major >> 8));
  p.push_back(static_cast<std::uint8_t>(major & 0xFF));
  p.push_back(static_cast<std::uint8_t>(minor >> 8));
  p.push_back(static_cast<std::uint8_t>(minor & 0xFF));
  p.push_back(static_cast<std::uint8_t>(power));
  return p;
}

sdbus::Variant manufacturer(std::uint16_t company, std::vector<std::uint8_t> payload) {
  return sdbus::Variant(std::map<std::uint16_t, sdbus::Variant>{{company, sdbus::Variant(std::move(payload))}});
}

struct Discovery {
  std::shared_ptr<Peripheral> peripheral;
  AdvertisementData advertisement;
  int rssi = 0;
};

// Records what the central says, on a real serial queue, and lets the test wait for it.
class Recorder : public CentralDelegate {
 public:
  void centralDidUpdateState(CentralState state) override {
    std::lock_guard lock(mutex_);
    states.push_back(state);
    changed_.notify_all();
  }
  void centralDidDiscoverPeripheral(const std::shared_ptr<Peripheral>& p, const AdvertisementData& ad,
                                    int rssi) override {
    std::lock_guard lock(mutex_);
    discoveries.push_back({p, ad, rssi});
    changed_.notify_all();
    if (onDiscovery) onDiscovery(p);
  }
  void centralDidFailToConnectPeripheral(const std::shared_ptr<Peripheral>&, const std::optional<Error>& e) override {
    std::lock_guard lock(mutex_);
    failures.push_back(e);
    changed_.notify_all();
  }

  template <class Pred>
  bool waitFor(Pred pred, std::chrono::milliseconds bound = MockBluez::kBound) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return pred(*this); });
  }
  bool waitForState(CentralState s) {
    return waitFor([s](const Recorder& r) { return !r.states.empty() && r.states.back() == s; });
  }
  // The discoveries of the device with that address (on the template's first adapter).
  std::size_t countOf(const std::string& address) const {
    const Uuid id = peripheralIdentifier(kAdapterAddress, address);
    std::size_t n = 0;
    for (const auto& d : discoveries) n += d.peripheral->identifier() == id;
    return n;
  }
  bool waitForDiscoveryOf(const std::string& address, std::size_t count = 1) {
    return waitFor([&](const Recorder& r) { return r.countOf(address) >= count; });
  }
  std::vector<CentralState> statesNow() {
    std::lock_guard lock(mutex_);
    return states;
  }
  std::vector<Discovery> discoveriesNow() {
    std::lock_guard lock(mutex_);
    return discoveries;
  }

  std::vector<CentralState> states;
  std::vector<Discovery> discoveries;
  std::vector<std::optional<Error>> failures;
  std::function<void(const std::shared_ptr<Peripheral>&)> onDiscovery;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

class BluezCentralTest : public ::testing::Test {
 protected:
  std::shared_ptr<Central> makeCentral(MockBluez& bus, BluezOptions options = {}) {
    options.busAddress = bus.address();
    return bluezCentralMaker(options)(recorder, queue);
  }
  // Starts a scan and returns once the mock adapter is discovering (a scan that replaces
  // a running one only sends a new filter).
  void scan(MockBluez& bus, Central& central, ScanOptions options = {}, std::vector<BluetoothUUID> filter = {}) {
    const bool running = central.isScanning();
    auto discovering = bus.watch("type='signal',path='" + kAdapter +
                                 "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
    central.scanForPeripherals(std::move(filter), options);
    if (!running) {
      ASSERT_TRUE(discovering->waitFor());
    }
  }

  dispatch::ThreadScheduler scheduler;
  std::shared_ptr<dispatch::Queue> queue = scheduler.makeSerialQueue("test.central");
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

// --- state ------------------------------------------------------------------------------

TEST_F(BluezCentralTest, StateFollowsTheServiceAndItsAdapterLive) {
  MockBluez bus;
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::Unsupported)) << "a service without an adapter";

  const std::string adapter = bus.addAdapter("hci0");
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  EXPECT_EQ(central->state(), CentralState::PoweredOn);

  bus.setPowered(adapter, false);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOff));
  bus.setPowered(adapter, true);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));

  bus.removeAdapter("hci0");
  ASSERT_TRUE(recorder->waitForState(CentralState::Unsupported));

  bus.stopService();
  bus.startService();
  bus.addAdapter("hci0");
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn)) << "the service came back";
  bus.setPowered(adapter, false);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOff)) << "the new service's changes are heard";
  EXPECT_EQ(recorder->statesNow(),
            (std::vector<CentralState>{CentralState::Unsupported, CentralState::PoweredOn, CentralState::PoweredOff,
                                       CentralState::PoweredOn, CentralState::Unsupported, CentralState::PoweredOn,
                                       CentralState::PoweredOff}))
      << "each change once; the first state reported once it is known";
}

TEST_F(BluezCentralTest, FirstStateIsTheAdaptersAtStart) {
  struct Case {
    const char* name;
    bool service;
    bool adapter;
    bool powered;
    CentralState expected;
  };
  const Case cases[] = {
      {"no service", false, false, false, CentralState::Unsupported},
      {"no adapter", true, false, false, CentralState::Unsupported},
      {"powered adapter", true, true, true, CentralState::PoweredOn},
      {"unpowered adapter", true, true, false, CentralState::PoweredOff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MockBluez bus({.startService = c.service});
    if (c.adapter) {
      const auto path = bus.addAdapter("hci0");
      if (!c.powered) bus.setPowered(path, false);
    }
    auto rec = std::make_shared<Recorder>();
    auto central = bluezCentralMaker({.busAddress = bus.address()})(rec, queue);
    ASSERT_TRUE(rec->waitFor([](const Recorder& r) { return !r.states.empty(); }));
    EXPECT_EQ(rec->statesNow().front(), c.expected);
    EXPECT_EQ(central->state(), c.expected);
  }
}

TEST_F(BluezCentralTest, TheServiceAppearingLaterTurnsTheCentralOn) {
  MockBluez bus({.startService = false});
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::Unsupported));
  bus.startService();
  bus.addAdapter("hci0");
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
}

TEST_F(BluezCentralTest, ABusThatRefusesTheUserIsUnauthorized) {
  MockBluez bus({.denyObjectListing = true});
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::Unauthorized));
  central->scanForPeripherals({}, {});
  EXPECT_FALSE(central->isScanning());
}

TEST_F(BluezCentralTest, NoBusIsUnsupported) {
  std::string address;
  {
    MockBluez gone({.startService = false});
    address = gone.address();
  }
  auto central = bluezCentralMaker({.busAddress = address})(recorder, queue);
  ASSERT_TRUE(recorder->waitForState(CentralState::Unsupported));
  EXPECT_FALSE(bluezServiceAvailable({.busAddress = address}));
}

TEST_F(BluezCentralTest, AChosenAdapterIsUsedByName) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus, {.adapter = "hci1"});
  ASSERT_TRUE(recorder->waitForState(CentralState::Unsupported)) << "hci1 is not there yet";
  const auto hci1 = bus.addAdapter("hci1");
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  bus.setPowered("/org/bluez/hci0", false);
  bus.setPowered(hci1, false);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOff));
  EXPECT_EQ(recorder->statesNow().size(), 3u) << "hci0's power is not this central's";
}

// --- scanning -----------------------------------------------------------------------------

TEST_F(BluezCentralTest, ScanAsksForLowEnergyDiscoveryWithDuplicatesAndTheFilter) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {}, {BluetoothUUID::from16(0xFEAA)});
  EXPECT_TRUE(central->isScanning());

  const auto filters = bus.methodCalls(kAdapter, "SetDiscoveryFilter");
  ASSERT_EQ(filters.size(), 1u);
  const auto filter = filters[0].at(0).get<std::map<std::string, sdbus::Variant>>();
  EXPECT_EQ(filter.at("Transport").get<std::string>(), "le");
  EXPECT_TRUE(filter.at("DuplicateData").get<bool>());
  EXPECT_EQ(filter.at("UUIDs").get<std::vector<std::string>>(),
            std::vector<std::string>{"0000feaa-0000-1000-8000-00805f9b34fb"});
  EXPECT_EQ(bus.methodCalls(kAdapter, "StartDiscovery").size(), 1u);

  auto stopped = bus.watch("type='signal',path='" + kAdapter + "',member='PropertiesChanged'");
  central->stopScan();
  EXPECT_FALSE(central->isScanning());
  ASSERT_TRUE(stopped->waitFor());
  EXPECT_EQ(bus.methodCalls(kAdapter, "StopDiscovery").size(), 1u);
}

TEST_F(BluezCentralTest, AnIBeaconAdvertisementArrivesParsedWithSignalAndStableIdentifier) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});

  const auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:01", "Lane 3");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:01"));
  bus.updateProperties(device, "org.bluez.Device1",
                       {{"RSSI", sdbus::Variant(std::int16_t{-61})},
                        {"ManufacturerData", manufacturer(0x004C, iBeaconPayload(0x0102, 0x0304))}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:01", 2));

  const auto found = recorder->discoveriesNow();
  const auto& first = found[0];
  EXPECT_EQ(first.rssi, -79) << "the device appeared with the template's RSSI";
  EXPECT_EQ(first.advertisement.localName, "Lane 3");
  EXPECT_FALSE(first.advertisement.manufacturerData);

  const auto& beacon = found[1];
  EXPECT_EQ(beacon.rssi, -61);
  EXPECT_EQ(beacon.peripheral->identifier(), peripheralIdentifier(kAdapterAddress, "C0:FF:EE:00:00:01"));
  EXPECT_EQ(beacon.peripheral, first.peripheral) << "one object per device";
  EXPECT_EQ(beacon.peripheral->name(), "Lane 3");
  std::vector<std::uint8_t> frame{0x4C, 0x00};
  const auto payload = iBeaconPayload(0x0102, 0x0304);
  frame.insert(frame.end(), payload.begin(), payload.end());
  EXPECT_EQ(beacon.advertisement.manufacturerData, frame) << "company bytes first, least significant first";
  EXPECT_EQ(beacon.advertisement.localName, "Lane 3") << "what was said before stays";

  EXPECT_EQ(central->retrievePeripherals({beacon.peripheral->identifier(), Uuid::random()}),
            std::vector<std::shared_ptr<Peripheral>>{beacon.peripheral});

  // Another central on the same adapter names the device the same.
  auto other = std::make_shared<Recorder>();
  auto second = bluezCentralMaker({.busAddress = bus.address()})(other, queue);
  ASSERT_TRUE(other->waitForState(CentralState::PoweredOn));
  second->scanForPeripherals({}, {});
  bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(std::int16_t{-70})}});
  ASSERT_TRUE(other->waitForDiscoveryOf("C0:FF:EE:00:00:01"));
}

TEST_F(BluezCentralTest, ServiceDataUuidsAndTheLatestMakerEntryReachTheAdvertisement) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});
  const auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:02", "");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:02"));

  // An Eddystone UID frame as service data, with its service UUID listed.
  const std::vector<std::uint8_t> uid{0x00, 0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                      0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12};
  bus.updateProperties(
      device, "org.bluez.Device1",
      {{"ServiceData", sdbus::Variant(std::map<std::string, sdbus::Variant>{
                           {"0000feaa-0000-1000-8000-00805f9b34fb", sdbus::Variant(uid)}})},
       {"UUIDs", sdbus::Variant(std::vector<std::string>{"0000feaa-0000-1000-8000-00805f9b34fb"})},
       {"TxPower", sdbus::Variant(std::int16_t{-4})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:02", 2));
  // Two makers: the entry that changed is the one reported.
  bus.updateProperties(device, "org.bluez.Device1",
                       {{"ManufacturerData", sdbus::Variant(std::map<std::uint16_t, sdbus::Variant>{
                                                 {0x0059, sdbus::Variant(std::vector<std::uint8_t>{0x01})},
                                                 {0x0A0B, sdbus::Variant(std::vector<std::uint8_t>{0x02})}})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:02", 3));
  bus.updateProperties(device, "org.bluez.Device1",
                       {{"ManufacturerData", sdbus::Variant(std::map<std::uint16_t, sdbus::Variant>{
                                                 {0x0059, sdbus::Variant(std::vector<std::uint8_t>{0x01})},
                                                 {0x0A0B, sdbus::Variant(std::vector<std::uint8_t>{0x03})}})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:02", 4));

  const auto found = recorder->discoveriesNow();
  const auto& eddystone = found[1].advertisement;
  ASSERT_NE(eddystone.serviceDataFor(BluetoothUUID::from16(0xFEAA)), nullptr);
  EXPECT_EQ(*eddystone.serviceDataFor(BluetoothUUID::from16(0xFEAA)), uid);
  EXPECT_EQ(eddystone.serviceUUIDs, std::vector<BluetoothUUID>{BluetoothUUID::from16(0xFEAA)});
  EXPECT_EQ(eddystone.txPowerLevel, -4);
  EXPECT_EQ(eddystone.localName, "") << "an empty advertised name is still a name";
  EXPECT_EQ(found[2].advertisement.manufacturerData, (Bytes{0x59, 0x00, 0x01})) << "both new: the lowest company";
  EXPECT_EQ(found[3].advertisement.manufacturerData, (Bytes{0x0B, 0x0A, 0x03}));
  EXPECT_EQ(found[3].advertisement.serviceUUIDs, eddystone.serviceUUIDs) << "what was said before stays";
}

TEST_F(BluezCentralTest, DuplicatesAreReportedOnlyWhenAskedFor) {
  for (const bool duplicates : {false, true}) {
    SCOPED_TRACE(duplicates ? "allowDuplicates" : "first only");
    MockBluez bus;
    bus.addAdapter("hci0");
    auto rec = std::make_shared<Recorder>();
    auto central = bluezCentralMaker({.busAddress = bus.address()})(rec, queue);
    ASSERT_TRUE(rec->waitForState(CentralState::PoweredOn));
    recorder = rec;
    scan(bus, *central, {.allowDuplicates = duplicates});

    const auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:03", "beacon");
    for (std::int16_t rssi : {-50, -51}) {
      bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(rssi)}});
    }
    // A second device's advertisement comes after the first one's in the bus's order.
    bus.addDevice("hci0", "C0:FF:EE:00:00:04", "marker");
    ASSERT_TRUE(rec->waitForDiscoveryOf("C0:FF:EE:00:00:04"));
    EXPECT_EQ(rec->countOf("C0:FF:EE:00:00:03"), duplicates ? 3u : 1u);

    // A new scan starts over: the device is new to it.
    scan(bus, *central, {.allowDuplicates = duplicates});
    bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(std::int16_t{-52})}});
    ASSERT_TRUE(rec->waitForDiscoveryOf("C0:FF:EE:00:00:03", duplicates ? 4u : 2u));
  }
}

TEST_F(BluezCentralTest, OnlyAdvertisementsThatPassTheFilterAreReported) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true}, {BluetoothUUID::from16(0xFEAA)});
  const auto other = bus.addDevice("hci0", "C0:FF:EE:00:00:05", "other");
  const auto wanted = bus.addDevice("hci0", "C0:FF:EE:00:00:06", "wanted");
  bus.updateProperties(other, "org.bluez.Device1",
                       {{"UUIDs", sdbus::Variant(std::vector<std::string>{"0000180f-0000-1000-8000-00805f9b34fb"})}});
  bus.updateProperties(wanted, "org.bluez.Device1",
                       {{"UUIDs", sdbus::Variant(std::vector<std::string>{"0000feaa-0000-1000-8000-00805f9b34fb"})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:06"));
  EXPECT_EQ(recorder->countOf("C0:FF:EE:00:00:05"), 0u);
  EXPECT_EQ(recorder->discoveriesNow().size(), 1u);
}

TEST_F(BluezCentralTest, OnlyNewsOfAnAdvertisementIsReported) {
  MockBluez bus;
  bus.addAdapter("hci0");
  // Listed before the central started: known, but not heard by this scan.
  const auto cached = bus.addDevice("hci0", "C0:FF:EE:00:00:0B", "cached");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});

  bus.updateProperties(cached, "org.bluez.Device1",
                       {{"Connected", sdbus::Variant(false)}, {"Paired", sdbus::Variant(true)}});
  bus.updateProperties(cached, "org.bluez.Device1", {}, {"RSSI"});  // out of range
  bus.updateProperties(cached, "org.bluez.Device1",
                       {{"ManufacturerData", manufacturer(0x0059, {0x01, 0x02})}});  // no signal strength now
  bus.addDevice("hci0", "C0:FF:EE:00:00:0C", "marker");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:0C"));
  EXPECT_EQ(recorder->countOf("C0:FF:EE:00:00:0B"), 0u);

  bus.updateProperties(cached, "org.bluez.Device1", {{"RSSI", sdbus::Variant(std::int16_t{-66})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:0B"));
  const auto heard = recorder->discoveriesNow().back();
  EXPECT_EQ(heard.rssi, -66);
  EXPECT_EQ(heard.advertisement.localName, "cached") << "what the listing said is kept";
  EXPECT_EQ(heard.advertisement.manufacturerData, (Bytes{0x59, 0x00, 0x01, 0x02}));
}

TEST_F(BluezCentralTest, PowerOffEndsTheScanAndPowerOnDoesNotRestartIt) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});
  const auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:07", "beacon");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:07"));

  bus.setPowered(kAdapter, false);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOff));
  EXPECT_FALSE(central->isScanning());
  central->scanForPeripherals({}, {});
  EXPECT_FALSE(central->isScanning()) << "ignored unless powered on";
  bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(std::int16_t{-40})}});
  bus.setPowered(kAdapter, true);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  EXPECT_FALSE(central->isScanning());
  EXPECT_EQ(recorder->countOf("C0:FF:EE:00:00:07"), 1u) << "nothing heard while off or since";

  scan(bus, *central, {.allowDuplicates = true});
  EXPECT_EQ(bus.methodCalls(kAdapter, "StartDiscovery").size(), 2u) << "discovery asked for again";
  bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(std::int16_t{-41})}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:07", 2));
  EXPECT_EQ(recorder->discoveriesNow().back().rssi, -41);
}

TEST_F(BluezCentralTest, ARemovedDeviceComesBackUnderItsIdentifierWithoutItsOldData) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});
  auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:08", "beacon");
  bus.updateProperties(device, "org.bluez.Device1",
                       {{"ManufacturerData", manufacturer(0x004C, iBeaconPayload(1, 2))}});
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:08", 2));
  const auto before = recorder->discoveriesNow().back();
  ASSERT_TRUE(before.advertisement.manufacturerData);

  bus.removeDevice(kAdapter, device);
  device = bus.addDevice("hci0", "C0:FF:EE:00:00:08", "beacon");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:08", 3));
  const auto after = recorder->discoveriesNow().back();
  EXPECT_EQ(after.peripheral, before.peripheral);
  EXPECT_FALSE(after.advertisement.manufacturerData) << "the removed device's data went with it";
}

TEST_F(BluezCentralTest, ConnectingFailsForNowAndGattRequestsAnswerNotConnected) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central);
  bus.addDevice("hci0", "C0:FF:EE:00:00:09", "beacon");
  ASSERT_TRUE(recorder->waitForDiscoveryOf("C0:FF:EE:00:00:09"));
  central->connect(recorder->discoveriesNow()[0].peripheral);
  ASSERT_TRUE(recorder->waitFor([](const Recorder& r) { return !r.failures.empty(); }));
  ASSERT_TRUE(recorder->failures[0]);
  EXPECT_EQ(recorder->failures[0]->code, gatt::kConnectionFailed);
}

// --- lifetimes ----------------------------------------------------------------------------

TEST_F(BluezCentralTest, ReleasingTheCentralClosesItsBusConnection) {
  MockBluez bus;
  bus.addAdapter("hci0");
  const auto before = bus.uniqueNames();
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  auto names = bus.uniqueNames();
  std::erase_if(names, [&](const std::string& n) { return std::find(before.begin(), before.end(), n) != before.end(); });
  ASSERT_EQ(names.size(), 1u) << "one connection per central";

  auto gone = bus.watch("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" + names[0] +
                        "',arg2=''");
  central.reset();
  ASSERT_TRUE(gone->waitFor());
}

TEST_F(BluezCentralTest, TheHostMayReleaseTheCentralAndItsDelegateWhileAdvertisementsFlow) {
  MockBluez bus;
  bus.addAdapter("hci0");
  auto central = makeCentral(bus);
  ASSERT_TRUE(recorder->waitForState(CentralState::PoweredOn));
  scan(bus, *central, {.allowDuplicates = true});
  std::mutex m;
  std::condition_variable released;
  bool done = false;
  recorder->onDiscovery = [&](const std::shared_ptr<Peripheral>&) {
    std::lock_guard lock(m);
    if (done) return;
    central.reset();  // from inside the delegate, on its queue
    done = true;
    released.notify_all();
  };
  const auto device = bus.addDevice("hci0", "C0:FF:EE:00:00:0A", "beacon");
  for (std::int16_t rssi = -40; rssi > -50; --rssi) {
    bus.updateProperties(device, "org.bluez.Device1", {{"RSSI", sdbus::Variant(rssi)}});
  }
  std::unique_lock lock(m);
  ASSERT_TRUE(released.wait_for(lock, MockBluez::kBound, [&] { return done; }));
  lock.unlock();
  recorder.reset();  // the delegate goes too, with work maybe still queued
  queue->sync([] {});
}

}  // namespace
}  // namespace velmora::platform::bluetooth::bluez
