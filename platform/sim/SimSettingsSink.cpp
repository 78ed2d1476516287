#include "platform/sim/SimSettingsSink.h"

#include "platform/crypto/Digest.h"

namespace velmora::platform::sim {

std::shared_ptr<SimSettingsSink> SimSettingsSink::install(const std::shared_ptr<SimBeaconApplication>& app,
                                                          std::shared_ptr<SimGattServer> server,
                                                          std::shared_ptr<SimTimeline> timeline,
                                                          bluetooth::BluetoothUUID indicator) {
  auto sink = std::make_shared<SimSettingsSink>(Token{}, std::move(server), std::move(timeline), std::move(indicator));
  std::weak_ptr<SimSettingsSink> weak = sink;
  app->setWriteListener([weak](const Bytes& value) {
    if (auto self = weak.lock()) self->written(value);
  });
  return sink;
}

SimSettingsSink::SimSettingsSink(Token, std::shared_ptr<SimGattServer> server, std::shared_ptr<SimTimeline> timeline,
                                 bluetooth::BluetoothUUID indicator)
    : server_(server), timeline_(std::move(timeline)), indicator_(std::move(indicator)) {}

void SimSettingsSink::scriptPlainAnswer(Bytes answer) {
  std::lock_guard lock(mutex_);
  plainScripted_ = std::move(answer);
}

void SimSettingsSink::setAnswerDelay(double seconds) {
  std::lock_guard lock(mutex_);
  delay_ = seconds;
}

std::vector<Bytes> SimSettingsSink::plainPayloads() const {
  std::lock_guard lock(mutex_);
  return plainPayloads_;
}

SimSettingsSink::VersionLines SimSettingsSink::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<Bytes> SimSettingsSink::lineWrites() const {
  std::lock_guard lock(mutex_);
  return lineWrites_;
}

void SimSettingsSink::written(const Bytes& value) {
  if (value.empty()) return;
  std::optional<Bytes> reply;
  switch (value[0]) {
    case SimEncryptedSettingsSink::kVector:
    case SimEncryptedSettingsSink::kChunk:
    case SimEncryptedSettingsSink::kMac:
      reply = encrypted_.written(value);
      break;
    case kPlainChunk:
    case kPlainLastChunk:
      reply = plainWritten(value);
      break;
    case 0x0D:
    case 0x0E:
    case 0x0F:
      lineWritten(value);
      break;
    default:
      break;
  }
  if (reply) answer(std::move(*reply));
}

std::optional<Bytes> SimSettingsSink::plainWritten(const Bytes& value) {
  std::lock_guard lock(mutex_);
  if (value.size() < 3 || value.size() > 18 || value[1] != static_cast<std::uint8_t>(nextPlain_ & 0xFF)) {
    plainBroken_ = true;
  } else {
    plain_.insert(plain_.end(), value.begin() + 2, value.end());
  }
  ++nextPlain_;
  if (value[0] != kPlainLastChunk) return std::nullopt;
  Bytes answer;
  if (plainBroken_) {
    answer = Bytes{0x00, 0x04};
  } else {
    plainPayloads_.push_back(plain_);
    const auto digest = crypto::digest(crypto::DigestAlgorithm::MD5, plain_);
    answer.assign(digest.begin(), digest.end());
  }
  plain_.clear();
  nextPlain_ = 0;
  plainBroken_ = false;
  if (plainScripted_) {
    answer = std::move(*plainScripted_);
    plainScripted_.reset();
  }
  return answer;
}

void SimSettingsSink::lineWritten(const Bytes& value) {
  auto le16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(value[at] | (static_cast<std::uint16_t>(value[at + 1]) << 8));
  };
  std::lock_guard lock(mutex_);
  lineWrites_.push_back(value);
  if (value[0] == 0x0D && value.size() == 14) {
    lines_.loudness = value[1];
    lines_.targetSpeed = le16(2);
    lines_.measuredPower = value[4];
    lines_.beaconMode = value[5];
    lines_.major = le16(6);
    lines_.minor = le16(8);
    lines_.constant = le16(10);
    lines_.privacyDuration = le16(12);
  } else if (value[0] == 0x0E && value.size() == 17) {
    lines_.proximityUUID = Bytes(value.begin() + 1, value.end());
  } else if (value[0] == 0x0F && value.size() == 2) {
    lines_.version = value[1];
  }
}

void SimSettingsSink::answer(Bytes value) {
  double delay;
  {
    std::lock_guard lock(mutex_);
    delay = delay_;
  }
  std::weak_ptr<SimSettingsSink> weak = weak_from_this();
  timeline_->after(delay, [weak, value = std::move(value)] {
    auto self = weak.lock();
    if (!self) return;
    if (auto server = self->server_.lock()) server->notify(self->indicator_, value);
  });
}

// --- Eddystone slots

std::shared_ptr<SimEddystoneSlots> SimEddystoneSlots::install(std::shared_ptr<SimGattServer> server,
                                                              Characteristics uuids) {
  auto slots = std::make_shared<SimEddystoneSlots>(Token{}, uuids);
  slots->server_ = server;
  std::weak_ptr<SimEddystoneSlots> weak = slots;
  server->setWriteHandler(uuids.activeSlot, [weak](SimGattServer&, const Bytes& value) {
    auto self = weak.lock();
    if (!self || value.size() != 1) return;
    std::lock_guard lock(self->mutex_);
    self->active_ = value[0];
  });
  server->setWriteHandler(uuids.advSlot, [weak](SimGattServer&, const Bytes& value) {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard lock(self->mutex_);
    self->slots_[self->active_] = value;
  });
  return slots;
}

void SimEddystoneSlots::setCapabilities(Bytes value) {
  if (auto server = server_.lock()) server->setValue(uuids_.capabilities, std::move(value));
}

std::optional<Bytes> SimEddystoneSlots::slot(std::uint8_t index) const {
  std::lock_guard lock(mutex_);
  return slots_[index];
}

std::uint8_t SimEddystoneSlots::activeSlot() const {
  std::lock_guard lock(mutex_);
  return active_;
}

}  // namespace velmora::platform::sim
