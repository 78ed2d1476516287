#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/bluetooth/AdvertisementData.h"
#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Uuid.h"
#include "platform/core/Value.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

class SimRadio;

// The firmware side of a simulated beacon: takes a new image over GATT, reboots and comes
// back advertising its new status.
//
// Installed on a SimGattServer, it handles the Control writes it knows and hands every
// Control write on to the handler installed before it (the beacon application answering
// 1D), and takes over the Gravy characteristic:
//
// - Gravy writes are recorded with their virtual time. In Raw format each write is the next
//   piece of the image. In Records format each write is a record `[k BE16] + up to 16 bytes`
//   and record k carries image bytes 16k on: a record with another number than the one
//   expected is ignored. A scripted drop of record k loses it and answers the next record
//   with the rewind notification `01 01 kk kk` on Indicator; a scripted notification (an
//   alignment error `01 03`, a late rewind) goes out on Indicator once the record named is
//   taken.
// - `1B` (Prepare OTA) starts the image over; in Records format it is answered with the
//   notification `1B 00`. `1F i` + bytes appends header chunk i (in order; chunk 0 starts
//   a new header). `1A 00` opens the future settings: the `15` + IV, `16 i` + bulk and
//   `17` + MAC that follow are kept (IV, bulk, MAC; the chunk numbers must count from 0)
//   and go through the beacon's encrypted settings sink, which checks the numbering, the
//   length and the CMAC under the future-settings keys and decrypts. Its verdict is kept
//   (futureSettingsAnswer), not notified: the updating phone waits for none. The legacy
//   opcodes `04`, `00`, `01`, `02` are recorded and must come in that order.
// - `03` (Go DFU) is acknowledged; the link drops 100 ms later, the beacon stays silent for
//   the reboot time (2 s by default), installs the image when it is whole (its SHA-1 equals
//   the expected digest; in Records format, every record up to the expected length), and
//   then advertises its frames beside the maker's encrypted-status frame
//   (`04 01 09` + the 16-byte status).
// - While up, the beacon advertises its frames every advertising interval, in turn.
//
// A scripted link drop after the n-th Gravy write drops the connection with the error.
// Thread-safe.
class SimOtaSink : public std::enable_shared_from_this<SimOtaSink> {
 public:
  enum class Format { Raw, Records };
  struct Characteristics {
    bluetooth::BluetoothUUID control;
    bluetooth::BluetoothUUID indicator;
    bluetooth::BluetoothUUID gravy;
  };
  struct GravyWrite {
    std::int64_t atMicros;
    Bytes value;
  };

  static std::shared_ptr<SimOtaSink> install(std::shared_ptr<SimGattServer> server, std::shared_ptr<SimRadio> radio,
                                             Uuid peripheral, Characteristics characteristics,
                                             Format format = Format::Raw);

  // --- what the beacon expects and does
  void setExpectedDigest(Bytes sha1);                    // Raw: the digest a whole image has
  void setExpectedImageLength(std::size_t length);       // Records: the length a whole image has
  void setStatusAfterReboot(Bytes status16);
  void setRebootSeconds(double seconds);
  // The keys the future settings' CMAC is checked (and their bulk decrypted) under.
  void setFutureSettingsKeys(std::vector<Bytes> keys);
  // Advertised while up (before the update, and after it next to the status frame).
  void setAdvertisements(std::vector<bluetooth::AdvertisementData> frames, double intervalSeconds = 0.1);
  void startAdvertising();

  // --- scripted faults
  // Each record named is lost the first time it comes.
  void dropRecordOnce(std::uint16_t record);
  void alignmentErrorAfterRecord(std::uint16_t record);
  // Notifies the value on Indicator once the record is taken (one value per record).
  void notifyAfterRecord(std::uint16_t record, Bytes value);
  // Without an error the link just ends.
  void dropLinkAfterGravyWrite(std::size_t n, std::optional<Error> error);

  // --- what happened
  std::vector<GravyWrite> gravyWrites() const;
  Bytes receivedImage() const;     // since the last 1B
  Bytes header() const;            // 1F chunks since the last chunk 0
  Bytes futureSettings() const;    // IV + bulk + MAC since the last 1A 00
  bool futureSettingsNumbered() const;
  // The settings sink's answer at the last MAC after 1A 00: the 16-byte result when the
  // settings verified, 00 04 for a broken transfer, 00 05 for a CMAC of no key; nullopt
  // before any MAC.
  std::optional<Bytes> futureSettingsAnswer() const;
  // The decrypted future settings that verified, in order.
  std::vector<Bytes> futureSettingsPayloads() const;
  bool legacySequenceInOrder() const;
  int prepareCount() const;        // 1B writes
  int rebootCount() const;
  std::optional<Bytes> installedImage() const;
  std::vector<std::uint16_t> rewindsSent() const;

 private:
  struct Token {};

 public:
  SimOtaSink(Token, std::shared_ptr<SimGattServer> server, std::shared_ptr<SimRadio> radio, Uuid peripheral,
             Characteristics characteristics, Format format);

 private:
  void controlWritten(const Bytes& value);
  void gravyWritten(const Bytes& value);
  void notify(Bytes value);
  void reboot();
  void advertiseTick(std::uint64_t generation, std::size_t index);
  bool wholeLocked() const;

  const std::weak_ptr<SimGattServer> server_;
  const std::weak_ptr<SimRadio> radio_;
  const std::shared_ptr<SimTimeline> timeline_;
  const Uuid peripheral_;
  const Characteristics uuids_;
  const Format format_;

  mutable std::mutex mutex_;
  SimGattServer::WriteHandler previousControl_;
  Bytes expectedDigest_;
  std::size_t expectedLength_ = 0;
  Bytes status_ = Bytes(16, 0);
  double rebootSeconds_ = 2.0;
  std::vector<bluetooth::AdvertisementData> frames_;
  double advertisingInterval_ = 0.1;
  std::uint64_t advertisingGeneration_ = 0;
  bool advertising_ = false;

  std::set<std::uint16_t> dropRecords_;
  std::map<std::uint16_t, Bytes> notifyAfter_;
  std::optional<std::pair<std::size_t, std::optional<Error>>> dropLink_;

  std::vector<GravyWrite> gravy_;
  Bytes image_;
  std::vector<bool> records_;
  std::uint16_t nextRecord_ = 0;
  bool rewindPending_ = false;
  bool rewindNotified_ = false;
  std::uint16_t rewindTo_ = 0;
  std::vector<std::uint16_t> rewinds_;
  Bytes header_;
  int nextHeaderChunk_ = 0;
  Bytes iv_, bulk_, mac_;
  bool settingsNumbered_ = true;
  bool settingsOpen_ = false;
  SimEncryptedSettingsSink settingsSink_;
  std::optional<Bytes> settingsAnswer_;
  int nextBulkChunk_ = 0;
  std::vector<std::uint8_t> legacy_;
  int prepares_ = 0;
  int reboots_ = 0;
  bool rebooting_ = false;
  std::optional<Bytes> installed_;
};

}  // namespace velmora::platform::sim
