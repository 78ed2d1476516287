#include "platform/sim/SimOtaSink.h"

#include <gtest/gtest.h>

#include "platform/bluetooth/Peripheral.h"
#include "platform/crypto/Digest.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimRadio.h"

namespace velmora::platform::sim {
namespace {

using bluetooth::BluetoothUUID;

BluetoothUUID uuid(const char* text) { return *BluetoothUUID::parse(text); }

// A beacon's GATT server with Control, Indicator and Gravy, the beacon application answering
// 1D on Control, and the OTA sink; writes go straight to the server, notifications are kept.
struct SinkWorld {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  std::shared_ptr<SimRadio> radio = SimRadio::create(scheduler);
  Uuid peripheral = Uuid::random();
  SimOtaSink::Characteristics ids{uuid("A0000001-0000-1000-8000-00805F9B34FB"), uuid("A0000002-0000-1000-8000-00805F9B34FB"),
                                  uuid("A0000003-0000-1000-8000-00805F9B34FB")};
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<SimBeaconApplication> app;
  std::shared_ptr<SimOtaSink> sink;
  std::vector<Bytes> notifications;
  std::vector<std::pair<std::int64_t, bluetooth::AdvertisementData>> heard;

  explicit SinkWorld(SimOtaSink::Format format) {
    server = SimGattServer::create(
        radio->timeline(),
        {{uuid("A0000000-0000-1000-8000-00805F9B34FB"),
          {{ids.control, bluetooth::kPropertyWrite, {}},
           {ids.indicator, bluetooth::kPropertyNotify, {}},
           {ids.gravy, bluetooth::kPropertyWriteWithoutResponse, {}}}}});
    app = SimBeaconApplication::install(server, radio->timeline(), ids.control, ids.indicator);
    app->setStatusBlock(Bytes{0xAA, 0xBB});
    sink = SimOtaSink::install(server, radio, peripheral, ids, format);
    server->attach([this](const BluetoothUUID&, const Bytes& value) { notifications.push_back(value); });
    server->setNotify(ids.indicator, true, nullptr);
    radio->addAirObserver([this](const Uuid& p, const bluetooth::AdvertisementData& ad, int) {
      if (p == peripheral) heard.emplace_back(radio->timeline()->nowMicros(), ad);
    });
    scheduler->runUntilIdle();
  }
  void control(Bytes value) {
    server->write(ids.control, std::move(value), true, nullptr);
    scheduler->advanceBy(0.02);
  }
  void gravy(Bytes value) {
    server->write(ids.gravy, std::move(value), false, nullptr);
    scheduler->advanceBy(0.02);
  }
  void record(std::uint16_t k, const Bytes& image) {
    Bytes r{static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
    const std::size_t from = static_cast<std::size_t>(k) * 16;
    r.insert(r.end(), image.begin() + static_cast<std::ptrdiff_t>(from),
             image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), from + 16)));
    gravy(std::move(r));
  }
};

Bytes imageOf(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return b;
}

bool isStatusFrame(const bluetooth::AdvertisementData& ad, const Bytes& status) {
  Bytes expected{0x04, 0x01, 0x09};
  expected.insert(expected.end(), status.begin(), status.end());
  return ad.manufacturerData == expected;
}

TEST(SimOtaSink, RawImageInstallsAfterGoDFUAndTheBeaconComesBackWithItsStatus) {
  SinkWorld w(SimOtaSink::Format::Raw);
  const Bytes image = imageOf(40);
  const Bytes status(16, 0x5A);
  w.sink->setExpectedDigest(crypto::digest(crypto::DigestAlgorithm::SHA1, image));
  w.sink->setStatusAfterReboot(status);
  bluetooth::AdvertisementData own;
  own.manufacturerData = Bytes{0x4C, 0x00, 0x02, 0x15};
  w.sink->setAdvertisements({own}, 0.5);

  w.control({0x1D});  // still answered by the beacon application
  w.control({0x1B});
  for (std::size_t at = 0; at < image.size(); at += 16) {
    w.gravy(Bytes(image.begin() + static_cast<std::ptrdiff_t>(at),
                  image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), at + 16))));
  }
  EXPECT_EQ(w.sink->receivedImage(), image);
  EXPECT_EQ(w.sink->gravyWrites().size(), 3u);
  const auto goDFUAt = w.radio->timeline()->nowMicros();
  w.control({0x03});
  EXPECT_EQ(w.app->statusRequests(), 1);
  EXPECT_EQ(w.sink->prepareCount(), 1);

  // Silent through the reboot, then the image is in and the frames are on the air.
  w.scheduler->advanceBy(2.0);
  EXPECT_TRUE(w.heard.empty());
  EXPECT_EQ(w.sink->installedImage(), std::nullopt);
  w.scheduler->advanceBy(1.2);
  EXPECT_EQ(w.sink->rebootCount(), 1);
  EXPECT_EQ(w.sink->installedImage(), image);
  ASSERT_GE(w.heard.size(), 2u);
  EXPECT_EQ(w.heard.front().first, goDFUAt + SimTimeline::toMicros(0.1 + 2.0));
  bool sawStatus = false, sawOwn = false;
  for (const auto& [at, ad] : w.heard) {
    sawStatus |= isStatusFrame(ad, status);
    sawOwn |= ad.manufacturerData == own.manufacturerData;
  }
  EXPECT_TRUE(sawStatus);
  EXPECT_TRUE(sawOwn);
}

TEST(SimOtaSink, AnImageWithTheWrongDigestIsNotInstalled) {
  SinkWorld w(SimOtaSink::Format::Raw);
  w.sink->setExpectedDigest(crypto::digest(crypto::DigestAlgorithm::SHA1, imageOf(32)));
  w.control({0x1B});
  w.gravy(imageOf(16));
  w.control({0x03});
  w.scheduler->advanceBy(3);
  EXPECT_EQ(w.sink->rebootCount(), 1);
  EXPECT_EQ(w.sink->installedImage(), std::nullopt);
}

TEST(SimOtaSink, PrepareOTAStartsTheImageOver) {
  SinkWorld w(SimOtaSink::Format::Raw);
  const Bytes image = imageOf(16);
  w.sink->setExpectedDigest(crypto::digest(crypto::DigestAlgorithm::SHA1, image));
  w.control({0x1B});
  w.gravy(imageOf(16));
  w.gravy(imageOf(16));
  w.control({0x1B});
  w.gravy(image);
  EXPECT_EQ(w.sink->receivedImage(), image);
  EXPECT_EQ(w.sink->prepareCount(), 2);
  // The plain sink sends nothing for 1B.
  EXPECT_TRUE(w.notifications.empty());
}

TEST(SimOtaSink, RecordsRewindOnALostRecordAndInstallWhenEveryRecordIsIn) {
  SinkWorld w(SimOtaSink::Format::Records);
  const Bytes image = imageOf(16 * 8 + 3);
  w.sink->setExpectedImageLength(image.size());
  w.sink->dropRecordOnce(5);
  w.control({0x1B});
  ASSERT_EQ(w.notifications, (std::vector<Bytes>{{0x1B, 0x00}}));
  w.notifications.clear();
  for (std::uint16_t k = 0; k <= 7; ++k) w.record(k, image);
  // Record 5 was lost: the first record after it asks for it again, once; 6 and 7 are ignored.
  EXPECT_EQ(w.notifications, (std::vector<Bytes>{{0x01, 0x01, 0x00, 0x05}}));
  EXPECT_EQ(w.sink->rewindsSent(), (std::vector<std::uint16_t>{5}));
  for (std::uint16_t k = 5; k <= 8; ++k) w.record(k, image);
  EXPECT_EQ(w.sink->receivedImage(), image);
  w.control({0x03});
  w.scheduler->advanceBy(2.2);
  EXPECT_EQ(w.sink->installedImage(), image);
}

TEST(SimOtaSink, RecordsOutOfOrderAreIgnoredAndAScriptedAlignmentErrorIsTold) {
  SinkWorld w(SimOtaSink::Format::Records);
  const Bytes image = imageOf(48);
  w.sink->setExpectedImageLength(image.size());
  w.sink->alignmentErrorAfterRecord(1);
  w.control({0x1B});
  w.notifications.clear();
  w.record(0, image);
  w.record(2, image);  // a gap: ignored
  w.record(1, image);
  EXPECT_EQ(w.notifications, (std::vector<Bytes>{{0x01, 0x03}}));
  w.record(2, image);
  EXPECT_EQ(w.sink->receivedImage(), image);
}

TEST(SimOtaSink, HeaderFutureSettingsAndLegacyOpcodesAreKept) {
  SinkWorld w(SimOtaSink::Format::Records);
  w.control({0x1B});
  w.control({0x1F, 0x00, 0xA0, 0xA1});
  w.control({0x1F, 0x02, 0xEE});  // out of order: ignored
  w.control({0x1F, 0x01, 0xB0});
  EXPECT_EQ(w.sink->header(), (Bytes{0xA0, 0xA1, 0xB0}));

  w.control({0x1A, 0x00});
  w.control({0x15, 1, 2});
  w.control({0x16, 0x00, 3, 4});
  w.control({0x16, 0x01, 5});
  w.control({0x17, 6, 7});
  EXPECT_EQ(w.sink->futureSettings(), (Bytes{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(w.sink->futureSettingsNumbered());
  w.control({0x1A, 0x00});
  w.control({0x16, 0x01, 5});
  EXPECT_FALSE(w.sink->futureSettingsNumbered());

  EXPECT_FALSE(w.sink->legacySequenceInOrder());
  for (std::uint8_t op : {0x04, 0x00, 0x01, 0x02}) w.control({op});
  EXPECT_TRUE(w.sink->legacySequenceInOrder());
}

TEST(SimOtaSink, FutureSettingsAreCheckedByTheSettingsSinkAndItsVerdictKept) {
  const Bytes key(16, 0x42), iv(16, 0x07);
  Bytes plaintext(32);
  for (std::size_t i = 0; i < plaintext.size(); ++i) plaintext[i] = static_cast<std::uint8_t>(i);
  const Bytes blob = SimEncryptedSettingsSink::sealed(key, iv, plaintext);
  ASSERT_EQ(blob.size(), 64u);
  const Bytes mac(blob.end() - 16, blob.end());
  // IV, the two numbered bulk chunks (or the given ones) and the MAC, as the phone writes them.
  auto send = [&](SinkWorld& w, std::vector<Bytes> chunks, Bytes macValue) {
    w.control({0x1A, 0x00});
    Bytes vector{0x15};
    vector.insert(vector.end(), iv.begin(), iv.end());
    w.control(vector);
    for (auto& c : chunks) w.control(std::move(c));
    Bytes m{0x17};
    m.insert(m.end(), macValue.begin(), macValue.end());
    w.control(m);
  };
  auto chunk = [&](std::uint8_t i, std::size_t from) {
    Bytes c{0x16, i};
    c.insert(c.end(), blob.begin() + static_cast<std::ptrdiff_t>(16 + from),
             blob.begin() + static_cast<std::ptrdiff_t>(32 + from));
    return c;
  };
  struct Row {
    const char* name;
    std::vector<Bytes> chunks;
    Bytes mac;
    Bytes answer;
  };
  Bytes tampered = mac;
  tampered[0] ^= 1;
  const Row rows[] = {
      {"signed under the key", {chunk(0, 0), chunk(1, 16)}, mac, SimEncryptedSettingsSink::resultFor(key, mac)},
      {"a chunk number skipped", {chunk(0, 0), chunk(2, 16)}, mac, Bytes{0x00, 0x04}},
      {"a MAC of no key", {chunk(0, 0), chunk(1, 16)}, tampered, Bytes{0x00, 0x05}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SinkWorld w(SimOtaSink::Format::Raw);
    w.sink->setFutureSettingsKeys({Bytes(16, 0x01), key});
    EXPECT_EQ(w.sink->futureSettingsAnswer(), std::nullopt);
    w.notifications.clear();
    send(w, row.chunks, row.mac);
    EXPECT_EQ(w.sink->futureSettingsAnswer(), row.answer);
    EXPECT_TRUE(w.notifications.empty()) << "the verdict is not notified";
    const bool verified = row.answer.size() == 16;
    EXPECT_EQ(w.sink->futureSettingsPayloads(), verified ? std::vector<Bytes>{plaintext} : std::vector<Bytes>{});
  }

  // Settings writes without 1A 00 before them are not the future settings.
  SinkWorld w(SimOtaSink::Format::Raw);
  w.sink->setFutureSettingsKeys({key});
  Bytes vector{0x15};
  vector.insert(vector.end(), iv.begin(), iv.end());
  w.control(vector);
  w.control(chunk(0, 0));
  w.control({0x17, 1});
  EXPECT_EQ(w.sink->futureSettingsAnswer(), std::nullopt);
  EXPECT_TRUE(w.sink->futureSettings().empty());
}

TEST(SimOtaSink, AScriptedNotificationGoesOutOnceItsRecordIsTaken) {
  SinkWorld w(SimOtaSink::Format::Records);
  const Bytes image = imageOf(32);
  w.sink->notifyAfterRecord(1, {0x01, 0x01, 0x00, 0x00});
  w.control({0x1B});
  w.notifications.clear();
  w.record(0, image);
  EXPECT_TRUE(w.notifications.empty());
  w.record(1, image);
  EXPECT_EQ(w.notifications, (std::vector<Bytes>{{0x01, 0x01, 0x00, 0x00}}));
  w.record(1, image);  // taken again: told once only
  EXPECT_EQ(w.notifications.size(), 1u);
}

}  // namespace
}  // namespace velmora::platform::sim
