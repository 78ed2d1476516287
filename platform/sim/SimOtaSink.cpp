#include "platform/sim/SimOtaSink.h"

#include <algorithm>

#include "platform/bluetooth/Peripheral.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimRadio.h"

namespace velmora::platform::sim {
namespace {

constexpr std::uint8_t kGoDFU = 0x03;
constexpr std::uint8_t kPrepareFutureSettings = 0x1A;
constexpr std::uint8_t kPrepareOTA = 0x1B;
constexpr std::uint8_t kHeaderChunk = 0x1F;
constexpr std::uint8_t kInitVector = 0x15;
constexpr std::uint8_t kBulk = 0x16;
constexpr std::uint8_t kMac = 0x17;
constexpr std::size_t kRecordPayload = 16;
constexpr double kLinkDropAfterGoDFU = 0.1;

}  // namespace

std::shared_ptr<SimOtaSink> SimOtaSink::install(std::shared_ptr<SimGattServer> server, std::shared_ptr<SimRadio> radio,
                                                Uuid peripheral, Characteristics characteristics, Format format) {
  auto sink = std::make_shared<SimOtaSink>(Token{}, server, std::move(radio), peripheral, characteristics, format);
  sink->previousControl_ = server->writeHandler(characteristics.control);
  std::weak_ptr<SimOtaSink> weak = sink;
  server->setWriteHandler(characteristics.control, [weak](SimGattServer&, const Bytes& value) {
    if (auto self = weak.lock()) self->controlWritten(value);
  });
  server->setWriteHandler(characteristics.gravy, [weak](SimGattServer&, const Bytes& value) {
    if (auto self = weak.lock()) self->gravyWritten(value);
  });
  return sink;
}

SimOtaSink::SimOtaSink(Token, std::shared_ptr<SimGattServer> server, std::shared_ptr<SimRadio> radio, Uuid peripheral,
                       Characteristics characteristics, Format format)
    : server_(server),
      radio_(radio),
      timeline_(radio->timeline()),
      peripheral_(peripheral),
      uuids_(std::move(characteristics)),
      format_(format) {}

void SimOtaSink::setExpectedDigest(Bytes sha1) {
  std::lock_guard lock(mutex_);
  expectedDigest_ = std::move(sha1);
}
void SimOtaSink::setExpectedImageLength(std::size_t length) {
  std::lock_guard lock(mutex_);
  expectedLength_ = length;
}
void SimOtaSink::setStatusAfterReboot(Bytes status16) {
  status16.resize(16, 0);
  std::lock_guard lock(mutex_);
  status_ = std::move(status16);
}
void SimOtaSink::setRebootSeconds(double seconds) {
  std::lock_guard lock(mutex_);
  rebootSeconds_ = seconds;
}
void SimOtaSink::setAdvertisements(std::vector<bluetooth::AdvertisementData> frames, double intervalSeconds) {
  std::lock_guard lock(mutex_);
  frames_ = std::move(frames);
  advertisingInterval_ = intervalSeconds;
}
void SimOtaSink::startAdvertising() {
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    if (advertising_) return;
    advertising_ = true;
    generation = ++advertisingGeneration_;
  }
  advertiseTick(generation, 0);
}
void SimOtaSink::dropRecordOnce(std::uint16_t record) {
  std::lock_guard lock(mutex_);
  dropRecords_.insert(record);
}
void SimOtaSink::alignmentErrorAfterRecord(std::uint16_t record) { notifyAfterRecord(record, Bytes{0x01, 0x03}); }
void SimOtaSink::notifyAfterRecord(std::uint16_t record, Bytes value) {
  std::lock_guard lock(mutex_);
  notifyAfter_[record] = std::move(value);
}
void SimOtaSink::setFutureSettingsKeys(std::vector<Bytes> keys) { settingsSink_.setKeys(std::move(keys)); }
void SimOtaSink::dropLinkAfterGravyWrite(std::size_t n, std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  dropLink_ = std::make_pair(n, std::move(error));
}

std::vector<SimOtaSink::GravyWrite> SimOtaSink::gravyWrites() const {
  std::lock_guard lock(mutex_);
  return gravy_;
}
Bytes SimOtaSink::receivedImage() const {
  std::lock_guard lock(mutex_);
  return image_;
}
Bytes SimOtaSink::header() const {
  std::lock_guard lock(mutex_);
  return header_;
}
Bytes SimOtaSink::futureSettings() const {
  std::lock_guard lock(mutex_);
  Bytes all = iv_;
  all.insert(all.end(), bulk_.begin(), bulk_.end());
  all.insert(all.end(), mac_.begin(), mac_.end());
  return all;
}
bool SimOtaSink::futureSettingsNumbered() const {
  std::lock_guard lock(mutex_);
  return settingsNumbered_;
}
std::optional<Bytes> SimOtaSink::futureSettingsAnswer() const {
  std::lock_guard lock(mutex_);
  return settingsAnswer_;
}
std::vector<Bytes> SimOtaSink::futureSettingsPayloads() const { return settingsSink_.payloads(); }
bool SimOtaSink::legacySequenceInOrder() const {
  std::lock_guard lock(mutex_);
  return legacy_ == std::vector<std::uint8_t>{0x04, 0x00, 0x01, 0x02};
}
int SimOtaSink::prepareCount() const {
  std::lock_guard lock(mutex_);
  return prepares_;
}
int SimOtaSink::rebootCount() const {
  std::lock_guard lock(mutex_);
  return reboots_;
}
std::optional<Bytes> SimOtaSink::installedImage() const {
  std::lock_guard lock(mutex_);
  return installed_;
}
std::vector<std::uint16_t> SimOtaSink::rewindsSent() const {
  std::lock_guard lock(mutex_);
  return rewinds_;
}

void SimOtaSink::controlWritten(const Bytes& value) {
  SimGattServer::WriteHandler previous;
  std::optional<Bytes> notification;
  bool goDFU = false;
  {
    std::lock_guard lock(mutex_);
    previous = previousControl_;
    if (!value.empty() && !rebooting_) {
      const std::uint8_t op = value[0];
      if (op == kPrepareOTA && value.size() == 1) {
        ++prepares_;
        image_.clear();
        records_.clear();
        nextRecord_ = 0;
        rewindPending_ = false;
        if (format_ == Format::Records) notification = Bytes{kPrepareOTA, 0x00};
      } else if (op == kHeaderChunk && value.size() >= 2) {
        // Chunk 0 starts a new header; the header goes before Prepare OTA.
        if (value[1] == 0) {
          header_.clear();
          nextHeaderChunk_ = 0;
        }
        if (value[1] == nextHeaderChunk_) {
          header_.insert(header_.end(), value.begin() + 2, value.end());
          ++nextHeaderChunk_;
        }
      } else if (op == kPrepareFutureSettings && value == Bytes{kPrepareFutureSettings, 0x00}) {
        iv_.clear();
        bulk_.clear();
        mac_.clear();
        settingsNumbered_ = true;
        nextBulkChunk_ = 0;
        settingsOpen_ = true;
        settingsAnswer_.reset();
      } else if (settingsOpen_ && (op == kInitVector || op == kBulk || op == kMac)) {
        if (op == kInitVector) {
          iv_.assign(value.begin() + 1, value.end());
        } else if (op == kBulk && value.size() >= 2) {
          if (value[1] != nextBulkChunk_) settingsNumbered_ = false;
          nextBulkChunk_ = value[1] + 1;
          bulk_.insert(bulk_.end(), value.begin() + 2, value.end());
        } else if (op == kMac) {
          mac_.assign(value.begin() + 1, value.end());
          settingsOpen_ = false;
        }
        // The settings sink checks numbering, length and CMAC as it does for settings; its
        // answer comes at the MAC.
        if (auto answer = settingsSink_.written(value)) settingsAnswer_ = std::move(*answer);
      } else if (value.size() == 1 && (op == 0x04 || op == 0x00 || op == 0x01 || op == 0x02)) {
        legacy_.push_back(op);
      } else if (op == kGoDFU && value.size() == 1) {
        goDFU = true;
        rebooting_ = true;
      }
    }
  }
  if (previous) {
    if (auto server = server_.lock()) previous(*server, value);
  }
  if (notification) notify(std::move(*notification));
  if (!goDFU) return;
  // The write is acknowledged first; then the beacon goes away to reboot.
  std::weak_ptr<SimOtaSink> weak = weak_from_this();
  timeline_->after(kLinkDropAfterGoDFU, [weak] {
    if (auto self = weak.lock()) self->reboot();
  });
}

void SimOtaSink::gravyWritten(const Bytes& value) {
  std::optional<Bytes> notification;
  std::optional<std::optional<Error>> dropLink;
  {
    std::lock_guard lock(mutex_);
    gravy_.push_back({timeline_->nowMicros(), value});
    if (dropLink_ && gravy_.size() == dropLink_->first) {
      dropLink = dropLink_->second;
      dropLink_.reset();
    }
    if (format_ == Format::Raw) {
      image_.insert(image_.end(), value.begin(), value.end());
    } else if (value.size() >= 2) {
      const std::uint16_t k = static_cast<std::uint16_t>((value[0] << 8) | value[1]);
      if (rewindPending_ && k != rewindTo_) {
        // Records after a lost one are ignored; the first of them tells the beacon's loss.
        if (!rewindNotified_) {
          rewindNotified_ = true;
          notification = Bytes{0x01, 0x01, static_cast<std::uint8_t>(rewindTo_ >> 8),
                               static_cast<std::uint8_t>(rewindTo_ & 0xFF)};
        }
      } else if (!rewindPending_ && dropRecords_.erase(k) > 0) {
        rewindPending_ = true;
        rewindNotified_ = false;
        rewindTo_ = k;
        rewinds_.push_back(k);
      } else if (k == nextRecord_) {
        rewindPending_ = false;
        const std::size_t offset = static_cast<std::size_t>(k) * kRecordPayload;
        const std::size_t payload = value.size() - 2;
        if (image_.size() < offset + payload) image_.resize(offset + payload);
        std::copy(value.begin() + 2, value.end(), image_.begin() + static_cast<std::ptrdiff_t>(offset));
        if (records_.size() <= k) records_.resize(k + 1u, false);
        records_[k] = true;
        nextRecord_ = static_cast<std::uint16_t>(k + 1);
        if (auto scripted = notifyAfter_.find(k); scripted != notifyAfter_.end()) {
          notification = std::move(scripted->second);
          notifyAfter_.erase(scripted);
        }
      }
    }
  }
  if (notification) notify(std::move(*notification));
  if (dropLink) {
    if (auto radio = radio_.lock()) radio->dropConnections(peripheral_, *dropLink);
  }
}

void SimOtaSink::notify(Bytes value) {
  if (auto server = server_.lock()) server->notify(uuids_.indicator, std::move(value));
}

bool SimOtaSink::wholeLocked() const {
  if (format_ == Format::Raw) {
    return !expectedDigest_.empty() && crypto::digest(crypto::DigestAlgorithm::SHA1, image_) == expectedDigest_;
  }
  if (expectedLength_ == 0 || image_.size() != expectedLength_) return false;
  const std::size_t count = (expectedLength_ + kRecordPayload - 1) / kRecordPayload;
  if (records_.size() < count) return false;
  return std::all_of(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(count), [](bool b) { return b; });
}

void SimOtaSink::reboot() {
  double silence;
  {
    std::lock_guard lock(mutex_);
    ++reboots_;
    silence = rebootSeconds_;
    ++advertisingGeneration_;  // silent until back up
    advertising_ = false;
  }
  if (auto radio = radio_.lock()) {
    radio->dropConnections(peripheral_,
                           bluetooth::gatt::makeError(bluetooth::gatt::kConnectionLost, "The link went away."));
  }
  std::weak_ptr<SimOtaSink> weak = weak_from_this();
  timeline_->after(silence, [weak] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->mutex_);
      self->rebooting_ = false;
      if (self->wholeLocked()) self->installed_ = self->image_;
      // Back up: the status frame goes out beside the beacon's own frames.
      bluetooth::AdvertisementData status;
      Bytes mfr{0x04, 0x01, 0x09};
      mfr.insert(mfr.end(), self->status_.begin(), self->status_.end());
      status.manufacturerData = std::move(mfr);
      std::erase_if(self->frames_, [](const bluetooth::AdvertisementData& f) {
        return f.manufacturerData && f.manufacturerData->size() == 19 && (*f.manufacturerData)[0] == 0x04 &&
               (*f.manufacturerData)[1] == 0x01 && (*f.manufacturerData)[2] == 0x09;
      });
      self->frames_.push_back(std::move(status));
    }
    self->startAdvertising();
  });
}

void SimOtaSink::advertiseTick(std::uint64_t generation, std::size_t index) {
  std::optional<bluetooth::AdvertisementData> frame;
  double interval;
  {
    std::lock_guard lock(mutex_);
    if (generation != advertisingGeneration_) return;
    if (!frames_.empty()) frame = frames_[index % frames_.size()];
    interval = advertisingInterval_;
  }
  if (frame) {
    if (auto radio = radio_.lock()) radio->advertise(peripheral_, *frame, -60);
  }
  std::weak_ptr<SimOtaSink> weak = weak_from_this();
  timeline_->after(interval, [weak, generation, index] {
    if (auto self = weak.lock()) self->advertiseTick(generation, index + 1);
  });
}

}  // namespace velmora::platform::sim
