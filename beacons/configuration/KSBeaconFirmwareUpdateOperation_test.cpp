#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateLegacyOperation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "beacons/api/KSApiClient.h"
#include "beacons/model/KSAdDataConstants.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimOtaSink.h"
#include "testing/BeaconCloudFake.h"
#include "testing/BeaconFixtures.h"
#include "testing/OperationTestSupport.h"

namespace velmora::kestrine::testsupport {
namespace {

using platform::Value;
using platform::sim::SimOtaSink;

const Bytes kStatusBlock = {0xFB, 0xFF, 0xBF, 0x01, 0x02};

Bytes sequence(std::size_t n, std::uint8_t first = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

Bytes with(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::string sha1Base64(const Bytes& b) {
  return platform::crypto::base64Encode(platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, b));
}

// The maker's service with Control, Indicator, the login's Water and Milk and, unless told
// otherwise, Gravy for the image.
SimGattServer::Service firmwareGattService(bool withGravy = true) {
  using namespace velmora::platform::bluetooth;
  SimGattServer::Service service{gattUUID(KSServiceUUIDStringKestrineLong),
                                 {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
                                  {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}},
                                  {gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
                                  {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}}}};
  if (withGravy) {
    service.characteristics.push_back({gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}});
  }
  return service;
}

// The sim beacon with its login responder and OTA sink, the cloud fake over loopback with a
// firmware record, the image and future settings, and the real operation manager and central
// client. The login's own cloud calls (its status post) go to the base fixture's offline
// cloud, so the fake sees only the update's requests.
struct FirmwareFixture : OperationFixture {
  velmora::testing::BeaconCloudFake cloud;
  std::shared_ptr<KSApiClient> client;
  std::shared_ptr<SimOtaSink> sink;
  Bytes image = sequence(64, 0x40);
  Bytes advertisedStatus = sequence(16, 0xC0);

  void SetUp() override {
    OperationFixture::SetUp();
    client = KSApiClient::create(cloud.baseUrl(), central->world.scheduler);
    beacon->setBeaconID("b-1");
    beacon->setModelNumber("M");
    installBeacon(true);
    cloud.putRecord("beacons/b-1", "beacon", Value::makeDict({{"id", "b-1-new"}}));
    putFirmware("2.0.0", image, Value(0x200));
    putSettings(std::nullopt);
  }
  void TearDown() override {
    client.reset();
    OperationFixture::TearDown();
  }

  void installBeacon(bool withGravy, SimOtaSink::Format format = SimOtaSink::Format::Raw,
                     SimGattServer::Latencies latencies = {}) {
    server = SimGattServer::create(radio()->timeline(), {firmwareGattService(withGravy)}, latencies);
    radio()->setGattServer(peripheralID, server);
    app = SimBeaconApplication::install(server, radio()->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    app->setStatusBlock(kStatusBlock);
    login = installLoginResponder(server);
    sink = SimOtaSink::install(server, radio(), peripheralID,
                               {gattUUID(KSCharacteristicUUIDStringControl),
                                gattUUID(KSCharacteristicUUIDStringIndicator), gattUUID(KSCharacteristicUUIDStringGravy)},
                               format);
    sink->setExpectedDigest(platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, image));
  }
  void putFirmware(const std::string& version, const Bytes& body, Value featureBitmask,
                   std::optional<std::string> hash = std::nullopt) {
    Value record = Value::makeDict({{"version", version}, {"otaFileHash", hash.value_or(sha1Base64(body))}});
    if (!featureBitmask.isAbsent()) record.set("featureBitmask", featureBitmask);
    cloud.putRecord("beacons/b-1/firmware/" + version, "firmware", record);
    cloud.putRecord("beacons/b-1/firmware/latest", "firmware", record);
    cloud.putDownload("beacons/b-1/firmware/" + version + "/ota", std::string(body.begin(), body.end()));
  }
  // A blob as the cloud's "settings", or a reply without "settings".
  void putSettings(std::optional<Bytes> blob) {
    if (blob) {
      cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "settings",
                      Value(platform::crypto::base64Encode(*blob)));
    } else {
      cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "other", Value("none"));
    }
  }
  // The beacon's status frame as the scanning road stores it.
  void storeStatus(const Bytes& status) {
    beacon->setAdData(adDataOfType(KSAdDataTypeEncryptedStatusKey, {{KSAdDataEncryptedStatusKey, Value(status)}}),
                      KSAdDataTypeEncryptedStatusKey);
  }
  void storeStatusAt(double seconds, Bytes status) {
    radio()->timeline()->at(platform::sim::SimTimeline::toMicros(seconds),
                            [this, status = std::move(status)] { storeStatus(status); });
  }
  std::shared_ptr<KSBeaconFirmwareUpdateOperation> operation(std::optional<std::string> version = "2.0.0") {
    return KSBeaconFirmwareUpdateOperation::initWithBeacon(beacon, peripheralID, std::move(version), client);
  }
  bool runUntilReported(const std::shared_ptr<Report>& report, double bound = 1000) {
    return central->world.scheduler->runUntil([&] { return report->calls() > 0; }, bound);
  }
  // Runs until reported, storing the advertised status 3 s after Go DFU.
  bool runWithStatusAfterReboot(const std::shared_ptr<Report>& report) {
    bool stored = false;
    return central->world.scheduler->runUntil([&] {
      if (!stored && goDFUAt() > 0) {
        stored = true;
        storeStatusAt(goDFUAt() + 3, advertisedStatus);
      }
      return report->calls() > 0;
    }, 1000);
  }
  // The time of the Go DFU write, or -1.
  double goDFUAt() {
    for (const auto& t : server->trace()) {
      if (!t.answer && t.kind == SimGattServer::Kind::Write && t.bytes == Bytes{0x03}) return t.micros / 1e6;
    }
    return -1;
  }
  // One login, accepted, with its milk written before anything reached Control.
  void expectLoggedInBeforeControl() {
    EXPECT_TRUE(login->loggedIn());
    EXPECT_EQ(login->milkWrites().size(), 1u);
    std::vector<std::string> writes;
    for (const auto& t : server->trace()) {
      if (t.answer || t.kind != SimGattServer::Kind::Write) continue;
      if (t.uuid == gattUUID(KSCharacteristicUUIDStringMilk)) writes.push_back("milk");
      if (t.uuid == gattUUID(KSCharacteristicUUIDStringControl)) writes.push_back("control");
    }
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0], "milk");
    EXPECT_EQ(writes[1], "control");
  }
  // Control writes without the status requests.
  std::vector<Bytes> sequenceWrites() {
    std::vector<Bytes> out;
    for (auto& w : app->controlWrites()) {
      if (w != Bytes{0x1D}) out.push_back(w);
    }
    return out;
  }
  std::vector<velmora::testing::BeaconCloudFake::LoggedRequest> requests(const std::string& method) {
    std::vector<velmora::testing::BeaconCloudFake::LoggedRequest> out;
    for (auto& r : cloud.log()) {
      if (r.method == method) out.push_back(r);
    }
    return out;
  }
};

TEST_F(FirmwareFixture, UpdatesTheImageAndConfirmsTheStatusTheRebootedBeaconAdvertises) {
  image = sequence(4096, 0x11);
  installBeacon(true);
  putFirmware("2.0.0", image, Value(0x200));
  auto op = operation();
  auto report = schedule(op);
  // The status frame heard some time after the reboot; an older one was stored before.
  storeStatus(sequence(16, 0xEE));
  radio()->timeline()->at(0, [] {});
  bool stored = false;
  ASSERT_TRUE(central->world.scheduler->runUntil([&] {
    if (!stored && goDFUAt() > 0) {
      stored = true;
      storeStatusAt(goDFUAt() + 2.4, advertisedStatus);
    }
    return report->calls() > 0;
  }, 1000));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");

  const std::vector<std::string> expected = {"Scheduled",     "Preparing",       "Connecting",         "Connected",
                                             "Updating",      "Downloading OTA", "Downloading Settings", "Prepare OTA",
                                             "Firmware Write", "Go DFU",         "Waiting for Status", "Disconnecting",
                                             "Waiting For Status", "Confirming", "Succeeded"};
  EXPECT_EQ(report->statuses, expected);
  EXPECT_EQ(sequenceWrites(), (std::vector<Bytes>{{0x1B}, {0x03}}));
  const auto gravy = sink->gravyWrites();
  ASSERT_EQ(gravy.size(), 256u);
  EXPECT_EQ(gravy.back().atMicros - gravy.front().atMicros, 255 * 20'000);
  EXPECT_EQ(sink->installedImage(), image);
  EXPECT_EQ(report->progress, (std::vector<float>{0.0f, 0.390625f, 0.78125f}));

  // The confirmation carries the status advertised after the reboot, escaped.
  ASSERT_EQ(cloud.statusReports(), (std::vector<Bytes>{advertisedStatus}));
  auto puts = requests("PUT");
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].rawTarget, "/api/beacons/b-1/versions/confirm?status=" +
                                   std::string("wMHCw8TFxsfIycrLzM3Ozw%3D%3D"));
  auto gets = requests("GET");
  ASSERT_GE(gets.size(), 4u);
  EXPECT_EQ(gets[0].rawTarget, "/api/beacons/b-1/firmware/2.0.0?status=%2B/%2B/AQI%3D&");
  EXPECT_EQ(gets[1].rawTarget, "/api/beacons/b-1/firmware/2.0.0/ota?status=%2B/%2B/AQI%3D");
  EXPECT_EQ(gets[2].path, "/api/beacons/b-1/versions/latest/futuresettings");
  EXPECT_EQ(gets[2].query, (std::map<std::string, std::string>{{"firmwareVersion", "2.0.0"}, {"status", "+/+/AQI="}}));
  EXPECT_EQ(gets[3].path, "/api/beacons/b-1");
  EXPECT_FALSE(op->isStatusTimerRunning());
  expectLoggedInBeforeControl();
}

TEST_F(FirmwareFixture, FutureSettingsAreCutIntoVectorNumberedBulkChunksAndMac) {
  const Bytes blob = sequence(16 + 33 + 16);
  putSettings(blob);
  auto report = schedule(operation());
  bool stored = false;
  ASSERT_TRUE(central->world.scheduler->runUntil([&] {
    if (!stored && goDFUAt() > 0) {
      stored = true;
      storeStatusAt(goDFUAt() + 3, advertisedStatus);
    }
    return report->calls() > 0;
  }, 1000));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  Bytes iv{0x15}, mac{0x17}, chunk0{0x16, 0x00}, chunk1{0x16, 0x01}, chunk2{0x16, 0x02};
  iv.insert(iv.end(), blob.begin(), blob.begin() + 16);
  chunk0.insert(chunk0.end(), blob.begin() + 16, blob.begin() + 32);
  chunk1.insert(chunk1.end(), blob.begin() + 32, blob.begin() + 48);
  chunk2.insert(chunk2.end(), blob.begin() + 48, blob.begin() + 49);
  mac.insert(mac.end(), blob.end() - 16, blob.end());
  EXPECT_EQ(sequenceWrites(), (std::vector<Bytes>{{0x1B}, {0x1A, 0x00}, iv, chunk0, chunk1, chunk2, mac, {0x03}}));
  EXPECT_EQ(sink->futureSettings(), blob);
  EXPECT_TRUE(sink->futureSettingsNumbered());
  const std::vector<std::string> middle = {"Prepare OTA", "Perpare Future Settings", "Init Vector", "Bulk Data",
                                           "Mac Write", "Firmware Write"};
  auto at = std::search(report->statuses.begin(), report->statuses.end(), middle.begin(), middle.end());
  EXPECT_NE(at, report->statuses.end());
}

TEST_F(FirmwareFixture, TheBulkOfTheShortestAndOfWholeBlobsGoesOneChunkPerWrite) {
  struct Row {
    std::size_t blobLength;
    std::vector<Bytes> bulkWrites;
  };
  const Bytes blob64 = sequence(64);
  const Row rows[] = {
      {33, {{0x16, 0x00, 16}}},
      {64, {with({0x16, 0x00}, Bytes(blob64.begin() + 16, blob64.begin() + 32)),
            with({0x16, 0x01}, Bytes(blob64.begin() + 32, blob64.begin() + 48))}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.blobLength);
    installBeacon(true);
    putSettings(sequence(row.blobLength));
    auto report = schedule(operation());
    ASSERT_TRUE(runWithStatusAfterReboot(report));
    ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
    std::vector<Bytes> bulk;
    for (const auto& w : sequenceWrites()) {
      if (w.size() >= 2 && w[0] == 0x16) bulk.push_back(w);
    }
    EXPECT_EQ(bulk, row.bulkWrites);
    beacon->setBeaconID("b-1");
    beacon->setPeripheralIdentifier(peripheralID);
    central->world.runUntilIdle();
  }
}

TEST_F(FirmwareFixture, DownloadFailuresEndBeforeAnyWrite) {
  struct Row {
    const char* name;
    std::function<void(FirmwareFixture&)> setUp;
    std::string message;  // a prefix of the error's description
  };
  const Bytes shortBlob = sequence(32);
  const Row rows[] = {
      {"32-byte settings", [&](FirmwareFixture& f) { f.putSettings(shortBlob); },
       "Settings Data is wrong length <00010203 04050607 08090a0b 0c0d0e0f 10111213 14151617 18191a1b 1c1d1e1f>"},
      {"settings not base64", [](FirmwareFixture& f) {
         f.cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "settings", Value("***"));
       }, "Settings Data is wrong length (null)"},
      {"bulk over 4096 bytes", [](FirmwareFixture& f) { f.putSettings(sequence(32 + 4097)); },
       "Settings Data is wrong length"},
      {"digest mismatch", [](FirmwareFixture& f) { f.putFirmware("2.0.0", f.image, Value(0x200), "AAAA"); },
       "FW digest " + sha1Base64(sequence(64, 0x40)) + " did not match expected AAAA"},
      {"digest mismatch, then a failing settings GET",
       [](FirmwareFixture& f) {
         f.putFirmware("2.0.0", f.image, Value(0x200), "AAAA");
         f.cloud.setFault("GET", "beacons/b-1/versions/latest/futuresettings", {.status = 500});
       },
       "Request failed: internal server error (500)"},
      {"image download 404", [](FirmwareFixture& f) {
         f.cloud.setFault("GET", "beacons/b-1/firmware/2.0.0/ota", {.status = 404});
       }, "Request failed: not found (404)"},
      {"record GET 500", [](FirmwareFixture& f) {
         f.cloud.setFault("GET", "beacons/b-1/firmware/2.0.0", {.status = 500});
       }, "Request failed: internal server error (500)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    cloud.clearFaults();
    putFirmware("2.0.0", image, Value(0x200));
    putSettings(std::nullopt);
    installBeacon(true);
    row.setUp(*this);
    auto report = schedule(operation());
    ASSERT_TRUE(runUntilReported(report));
    EXPECT_EQ(report->failures, 1);
    ASSERT_TRUE(report->error.has_value());
    EXPECT_EQ(report->error->localizedDescription.substr(0, row.message.size()), row.message)
        << report->error->localizedDescription;
    EXPECT_TRUE(sequenceWrites().empty());
    EXPECT_TRUE(sink->gravyWrites().empty());
    central->world.runUntilIdle();
  }
}

TEST_F(FirmwareFixture, WithoutTheStatusBitTheLatestRecordConfirmsTheVersion) {
  for (Value mask : {Value(0x4000), Value()}) {
    SCOPED_TRACE(mask.isAbsent() ? "no featureBitmask" : "bit 9 clear");
    cloud.clearLog();
    putFirmware("2.0.0", image, mask);
    installBeacon(true);
    auto report = schedule(operation());
    ASSERT_TRUE(runUntilReported(report));
    ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
    EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Waiting For Status"), 0);
    auto puts = requests("PUT");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].path, "/api/beacons/b-1-new/firmware/2.0.0/confirm");
    bool latest = false;
    for (auto& r : requests("GET")) latest |= r.path == "/api/beacons/b-1" && r.query.count("version") && r.query.at("version") == "latest";
    EXPECT_TRUE(latest);
    beacon->setBeaconID("b-1");
    beacon->setPeripheralIdentifier(peripheralID);
    central->world.runUntilIdle();
  }
}

TEST_F(FirmwareFixture, NoStatusWithinTheDisconnectingBudgetTimesOutAndStopsThePoll) {
  auto op = operation();
  auto report = schedule(op);
  ASSERT_TRUE(central->world.scheduler->runUntil([&] { return op->isStatusTimerRunning(); }, 1000));
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, KSBeaconOperationTimeoutMessage);
  EXPECT_NEAR(report->at - goDFUAt(), 60, 0.5);
  // Stopped as the base's timeout ended the operation, not at a later tick.
  EXPECT_FALSE(op->isStatusTimerRunning());
  central->world.advanceBy(3);
  EXPECT_FALSE(op->isStatusTimerRunning());
}

TEST_F(FirmwareFixture, AnImageTooLongForTheConnectedBudgetTimesOutBeforeGoDFU) {
  image = sequence(409'600 / 4, 1);
  image.resize(409'600, 7);
  installBeacon(true);
  putFirmware("2.0.0", image, Value(0x200));
  auto report = schedule(operation());
  ASSERT_TRUE(runUntilReported(report, 2000));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, KSBeaconOperationTimeoutMessage);
  EXPECT_LT(goDFUAt(), 0);
  EXPECT_LT(sink->gravyWrites().size(), 409'600u / 16);
}

TEST_F(FirmwareFixture, ACloudReplyReleasedAfterTheTimeoutChangesNothing) {
  cloud.setFault("GET", "beacons/b-1/firmware/2.0.0", {.kind = velmora::testing::BeaconCloudFake::Fault::Kind::Hold});
  auto report = schedule(operation());
  ASSERT_TRUE(central->world.scheduler->runUntil(
      [&] { return cloud.hits("GET", "beacons/b-1/firmware/2.0.0") == 1; }, 60));
  central->world.advanceBy(451);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, KSBeaconOperationTimeoutMessage);
  cloud.releaseHeld();
  // The held reply lands now; the operation has ended and asks for nothing more.
  central->world.scheduler->runUntil([] { return false; }, 5);
  EXPECT_EQ(report->calls(), 1);
  EXPECT_EQ(cloud.hits("GET", "beacons/b-1/firmware/2.0.0/ota"), 0u);
  EXPECT_TRUE(sequenceWrites().empty());
}

TEST_F(FirmwareFixture, ANilTargetAsksForTheLatestFirmware) {
  auto report = schedule(operation(std::nullopt));
  bool stored = false;
  ASSERT_TRUE(central->world.scheduler->runUntil([&] {
    if (!stored && goDFUAt() > 0) {
      stored = true;
      storeStatusAt(goDFUAt() + 3, advertisedStatus);
    }
    return report->calls() > 0;
  }, 1000));
  EXPECT_EQ(report->successes, 1);
  EXPECT_EQ(requests("GET").at(0).path, "/api/beacons/b-1/firmware/latest");
}

TEST_F(FirmwareFixture, MissingGravyFailsAfterDiscovery) {
  installBeacon(false);
  auto report = schedule(operation());
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, KSFirmwareUpdateMissingCharacteristicsMessage);
  EXPECT_TRUE(cloud.log().empty());
}

TEST_F(FirmwareFixture, ADisconnectMidStreamFailsOnceWithoutGoDFU) {
  const auto dropped = platform::bluetooth::gatt::makeError(platform::bluetooth::gatt::kConnectionLost, "link lost");
  sink->dropLinkAfterGravyWrite(2, dropped);
  auto report = schedule(operation());
  ASSERT_TRUE(runUntilReported(report));
  central->world.advanceBy(70);
  EXPECT_EQ(report->calls(), 1);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, dropped.code);
  EXPECT_LT(goDFUAt(), 0);
}

TEST(FirmwareUpdateOperationTable, BudgetsAndRetriesOfEveryFirmwareClass) {
  auto client = KSApiClient::create("http://127.0.0.1:1/api/");
  auto beacon = std::make_shared<KSBeacon>();
  const std::shared_ptr<KSBeaconOperation> ops[] = {
      KSBeaconFirmwareUpdateOperation::initWithBeacon(beacon, std::nullopt, std::nullopt, client),
      KSBeaconFirmwareEncryptedUpdateOperation::initWithBeacon(beacon, std::nullopt, std::nullopt, client),
      KSBeaconFirmwareUpdateLegacyOperation::initWithBeacon(beacon, std::nullopt, client),
  };
  for (const auto& op : ops) {
    SCOPED_TRACE(std::string(op->className()));
    EXPECT_EQ(op->timeoutInSecondsForOperationState(KSBeaconOperationStatePreparing), 30);
    EXPECT_EQ(op->timeoutInSecondsForOperationState(KSBeaconOperationStateConnecting), 5);
    EXPECT_EQ(op->timeoutInSecondsForOperationState(KSBeaconOperationStateConnected), 450);
    EXPECT_EQ(op->timeoutInSecondsForOperationState(KSBeaconOperationStateDisconnecting), 60);
    EXPECT_EQ(op->maxNumberOfRetries(), 0);
  }
}

TEST(FirmwareUpdateOperationRecord, KindsOtherThanTheExpectedReadAsAbsent) {
  const Value record = Value::makeDict({{"version", 2}, {"otaFileHash", "x"}, {"featureBitmask", "512"}});
  EXPECT_EQ(KSBeaconFirmwareUpdateOperation::recordText(record, "version"), std::nullopt);
  EXPECT_EQ(KSBeaconFirmwareUpdateOperation::recordText(record, "otaFileHash"), "x");
  EXPECT_EQ(KSBeaconFirmwareUpdateOperation::recordFeatureBitmask(record), 0u);
  EXPECT_EQ(KSBeaconFirmwareUpdateOperation::recordFeatureBitmask(Value::makeDict({{"featureBitmask", 512}})), 512u);
  EXPECT_EQ(KSBeaconFirmwareUpdateOperation::recordFeatureBitmask(Value("x")), 0u);
}

// --- protected images ---------------------------------------------------------------------

struct EncryptedFixture : FirmwareFixture {
  Bytes body = sequence(33, 0x00);
  void SetUp() override {
    FirmwareFixture::SetUp();
    useImage(sequence(16, 0xA0), body);
  }
  void useImage(const Bytes& header, const Bytes& b, std::optional<std::string> field = "") {
    body = b;
    installBeacon(true, SimOtaSink::Format::Records);
    sink->setExpectedImageLength(body.size());
    std::string reply(header.begin(), header.end());
    reply.append(body.begin(), body.end());
    std::vector<std::pair<std::string, std::string>> headers;
    if (field) headers.emplace_back("Firmware-Header-Length", field->empty() ? std::to_string(header.size()) : *field);
    cloud.putDownload("beacons/b-1/firmware/2.0.0/hex", reply, headers);
  }
  std::shared_ptr<KSBeaconFirmwareEncryptedUpdateOperation> encrypted() {
    return KSBeaconFirmwareEncryptedUpdateOperation::initWithBeacon(beacon, peripheralID, "2.0.0", client);
  }
};

TEST_F(EncryptedFixture, HeaderChunksPrepareOTAAfterItsNotificationAndNumberedRecords) {
  auto report = schedule(encrypted());
  // Stored before the reboot, of another type: cleared with everything else.
  storeStatus(sequence(16, 0xEE));
  ASSERT_TRUE(runWithStatusAfterReboot(report));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  Bytes header{0x1F, 0x00};
  for (int i = 0; i < 16; ++i) header.push_back(static_cast<std::uint8_t>(0xA0 + i));
  EXPECT_EQ(sequenceWrites(), (std::vector<Bytes>{header, {0x1B}, {0x03}}));
  EXPECT_EQ(sink->header(), sequence(16, 0xA0));
  std::vector<Bytes> gravy;
  for (const auto& w : sink->gravyWrites()) gravy.push_back(w.value);
  Bytes r0{0x00, 0x00}, r1{0x00, 0x01}, r2{0x00, 0x02, 32};
  for (int i = 0; i < 16; ++i) r0.push_back(static_cast<std::uint8_t>(i)), r1.push_back(static_cast<std::uint8_t>(16 + i));
  EXPECT_EQ(gravy, (std::vector<Bytes>{r0, r1, r2}));
  EXPECT_EQ(sink->installedImage(), body);
  const std::vector<std::string> steps = {"Downloading OTA", "Downloading Settings", "Write FW Header", "Prepare OTA",
                                          "Firmware Write", "Go DFU", "Waiting for Status", "Disconnecting",
                                          "Waiting For Status", "Confirming", "Succeeded"};
  EXPECT_NE(std::search(report->statuses.begin(), report->statuses.end(), steps.begin(), steps.end()),
            report->statuses.end());
  EXPECT_EQ(cloud.statusReports(), (std::vector<Bytes>{advertisedStatus}));
  auto gets = requests("GET");
  ASSERT_GE(gets.size(), 2u);
  EXPECT_EQ(gets[0].rawTarget, "/api/beacons/b-1/firmware/2.0.0/hex?status=%2B/%2B/AQI%3D");
  EXPECT_EQ(gets[1].query.at("firmwareVersion"), "2.0.0");
  expectLoggedInBeforeControl();
}

TEST_F(EncryptedFixture, AHeaderOfSeventeenBytesTakesASecondChunk) {
  useImage(sequence(17, 0xA0), body);
  auto report = schedule(encrypted());
  ASSERT_TRUE(runWithStatusAfterReboot(report));
  ASSERT_EQ(report->successes, 1);
  auto writes = sequenceWrites();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[1], (Bytes{0x1F, 0x01, 0xB0}));
}

TEST_F(EncryptedFixture, ALostRecordRewindsTheStreamAndSlowsIt) {
  useImage(sequence(16, 0xA0), sequence(16 * 12, 1));
  sink->dropRecordOnce(5);
  auto report = schedule(encrypted());
  ASSERT_TRUE(runWithStatusAfterReboot(report));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  const auto writes = sink->gravyWrites();
  // After the rewind the stream goes on from record 5, 8 ms apart.
  std::size_t again = 0;
  for (std::size_t i = 6; i < writes.size(); ++i) {
    if (writes[i].value[1] == 5) {
      again = i;
      break;
    }
  }
  ASSERT_GT(again, 0u);
  ASSERT_GT(writes.size(), again + 1);
  EXPECT_EQ(writes[again + 1].atMicros - writes[again].atMicros, 8'000);
  EXPECT_EQ(writes[1].atMicros - writes[0].atMicros, 5'000);
  EXPECT_EQ(sink->installedImage(), body);
}

TEST_F(EncryptedFixture, RewindsSlowTheStreamUpToThirtyMillisecondsAndItStaysThere) {
  useImage(sequence(16, 0xA0), sequence(16 * 24, 1));
  // Ten records lost once each: ten rewinds, 3 ms slower each, capped at 30 ms from the ninth.
  for (std::uint16_t k = 5; k < 15; ++k) sink->dropRecordOnce(k);
  auto report = schedule(encrypted());
  ASSERT_TRUE(runWithStatusAfterReboot(report));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(sink->rewindsSent().size(), 10u);
  const auto writes = sink->gravyWrites();
  std::set<std::int64_t> gaps;
  for (std::size_t i = 1; i < writes.size(); ++i) gaps.insert(writes[i].atMicros - writes[i - 1].atMicros);
  EXPECT_EQ(gaps, (std::set<std::int64_t>{5'000, 8'000, 11'000, 14'000, 17'000, 20'000, 23'000, 26'000, 29'000,
                                          30'000}));
  EXPECT_EQ(writes.back().atMicros - writes[writes.size() - 2].atMicros, 30'000);
  EXPECT_EQ(sink->installedImage(), body);
}

TEST_F(EncryptedFixture, FeedbackAfterTheLastRecordOrOfAnotherShape) {
  struct Row {
    const char* name;
    std::uint16_t afterRecord;
    Bytes notification;
    std::optional<std::string> error;  // nullopt: ignored, the update succeeds
  };
  const Row rows[] = {
      // The beacon wants the image again after the last record went out: never Go DFU.
      {"a rewind after the last record", 2, {0x01, 0x01, 0x00, 0x00}, "OTA Alignment Error"},
      {"a rewind of three bytes", 1, {0x01, 0x01, 0x00}, std::nullopt},
      {"a rewind of five bytes", 1, {0x01, 0x01, 0x00, 0x00, 0x00}, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    cloud.clearLog();
    useImage(sequence(16, 0xA0), sequence(33, 0));
    // The notification lands before the switch-off of notifications is answered.
    installBeacon(true, SimOtaSink::Format::Records, {.notifySwitch = 0.005, .notification = 0});
    sink->setExpectedImageLength(33);
    sink->notifyAfterRecord(row.afterRecord, row.notification);
    auto report = schedule(encrypted());
    ASSERT_TRUE(runWithStatusAfterReboot(report));
    if (row.error) {
      ASSERT_EQ(report->failures, 1);
      EXPECT_EQ(report->error->localizedDescription, *row.error);
      EXPECT_LT(goDFUAt(), 0);
      central->world.advanceBy(5);
      EXPECT_EQ(report->calls(), 1);
    } else {
      ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
      EXPECT_EQ(sink->gravyWrites().size(), 3u);
      EXPECT_EQ(sink->installedImage(), sequence(33, 0));
    }
    beacon->setBeaconID("b-1");
    beacon->setPeripheralIdentifier(peripheralID);
    central->world.runUntilIdle();
  }
}

TEST_F(EncryptedFixture, AnAlignmentErrorFailsTheUpdateBeforeGoDFU) {
  useImage(sequence(16, 0xA0), sequence(16 * 6, 1));
  sink->alignmentErrorAfterRecord(2);
  auto report = schedule(encrypted());
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "OTA Alignment Error");
  EXPECT_LT(goDFUAt(), 0);
}

TEST_F(EncryptedFixture, HeaderLengthsTheCloudMayGive) {
  struct Row {
    const char* name;
    Bytes header;
    std::optional<std::string> field;
    std::optional<std::string> error;  // nullopt: succeeds
    bool headerWritten;
    std::size_t bodySize = 20;
  };
  const Row rows[] = {
      {"absent: the whole reply is the body", {}, std::nullopt, std::nullopt, false},
      {"zero", {}, "0", std::nullopt, false},
      {"not a number", sequence(16, 0xA0), "abc", "Invalid Firmware-Header-Length abc", false},
      {"negative", sequence(16, 0xA0), "-1", "Invalid Firmware-Header-Length -1", false},
      {"trailing text", sequence(16, 0xA0), "16x", "Invalid Firmware-Header-Length 16x", false},
      {"not decimal", sequence(16, 0xA0), "0x10", "Invalid Firmware-Header-Length 0x10", false},
      {"beyond the reply", sequence(16, 0xA0), "9999", "Invalid Firmware-Header-Length 9999", false},
      {"header over 4096 bytes", sequence(4097, 0), "", "Firmware image too large", false},
      {"body over 1,048,576 bytes", sequence(16, 0xA0), "", "Firmware image too large", false, 1'048'577},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    cloud.clearLog();
    useImage(row.header, sequence(row.bodySize, 1), row.field);
    auto report = schedule(encrypted());
    ASSERT_TRUE(runWithStatusAfterReboot(report));
    if (row.error) {
      ASSERT_EQ(report->failures, 1);
      EXPECT_EQ(report->error->localizedDescription, *row.error);
      EXPECT_TRUE(sequenceWrites().empty());
    } else {
      ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
      EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Write FW Header"), 1);
      EXPECT_EQ(sequenceWrites().front(), Bytes{0x1B});
      EXPECT_EQ(sink->installedImage(), sequence(20, 1));
    }
    beacon->setBeaconID("b-1");
    beacon->setPeripheralIdentifier(peripheralID);
    central->world.runUntilIdle();
  }
}

// --- the older generation -------------------------------------------------------------------

struct LegacyFixture : FirmwareFixture {
  void putModelFirmware(Value mask, std::optional<std::string> hash = std::nullopt) {
    Value record = Value::makeDict({{"version", "2.0.0"}, {"otaFileHash", hash.value_or(sha1Base64(image))}});
    if (!mask.isAbsent()) record.set("featureBitmask", mask);
    cloud.putRecord("beaconModels/M/firmware/latest", "firmware", record);
  }
  std::shared_ptr<KSBeaconFirmwareUpdateLegacyOperation> legacy() {
    return KSBeaconFirmwareUpdateLegacyOperation::initWithBeacon(beacon, peripheralID, client);
  }
};

TEST_F(LegacyFixture, ErasesStreamsAndConfirmsTheModelsLatestFirmware) {
  putModelFirmware(Value(0x2000));
  auto report = schedule(legacy());
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(app->controlWrites(), (std::vector<Bytes>{{0x04}, {0x00}, {0x01}, {0x02}, {0x03}}));
  EXPECT_TRUE(sink->legacySequenceInOrder());
  // Confirmed without waiting for the beacon: it installs once its reboot is over.
  central->world.advanceBy(3);
  EXPECT_EQ(sink->installedImage(), image);
  const std::vector<std::string> expected = {"Scheduled", "Preparing", "Downloading", "Connecting", "Connected",
                                             "Updating", "Disconnecting", "Confirming", "Succeeded"};
  EXPECT_EQ(report->statuses, expected);
  auto gets = requests("GET");
  ASSERT_GE(gets.size(), 3u);
  EXPECT_EQ(gets[0].rawTarget, "/api/beaconModels/M/firmware/latest?");
  EXPECT_EQ(gets[1].rawTarget, "/api/beacons/b-1/firmware/2.0.0/ota?status=");
  auto puts = requests("PUT");
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].path, "/api/beacons/b-1-new/firmware/2.0.0/confirm");
  expectLoggedInBeforeControl();
}

TEST_F(LegacyFixture, WithTheStatusBitItWaitsForTheAdvertisedStatus) {
  putModelFirmware(Value(0x2200));
  auto report = schedule(legacy());
  ASSERT_TRUE(runWithStatusAfterReboot(report));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Waiting For Status"), 1);
  EXPECT_EQ(cloud.statusReports(), (std::vector<Bytes>{advertisedStatus}));
}

TEST_F(LegacyFixture, ADigestMismatchFailsWithoutEverConnecting) {
  putModelFirmware(Value(0x2000), "AAAA");
  auto report = schedule(legacy());
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "FW digest " + sha1Base64(image) + " did not match expected AAAA");
  EXPECT_EQ(discoveries(*server), 0);
  EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Connecting"), 0);
}

TEST_F(LegacyFixture, MissingGravyFails) {
  putModelFirmware(Value(0x2000));
  installBeacon(false);
  auto report = schedule(legacy());
  ASSERT_TRUE(runUntilReported(report));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, KSFirmwareUpdateMissingCharacteristicsMessage);
  EXPECT_TRUE(app->controlWrites().empty());
}

TEST(EncryptedFirmwareRecords, BodyPiecesBehindTheirBigEndianNumbers) {
  EXPECT_TRUE(KSBeaconFirmwareEncryptedUpdateOperation::records({}).empty());
  const auto r = KSBeaconFirmwareEncryptedUpdateOperation::records(sequence(16 * 256 + 1, 0));
  ASSERT_EQ(r.size(), 257u * 18 - 15);
  EXPECT_EQ(r[18 * 256], 0x01);
  EXPECT_EQ(r[18 * 256 + 1], 0x00);
  EXPECT_EQ(r.back(), 0x00);
}

}  // namespace
}  // namespace velmora::kestrine::testsupport
