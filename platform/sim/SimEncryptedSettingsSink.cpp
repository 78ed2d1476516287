#include "platform/sim/SimEncryptedSettingsSink.h"

#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"

namespace velmora::platform::sim {

namespace {

Bytes code(std::uint16_t c) { return Bytes{static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c & 0xFF)}; }

}  // namespace

Bytes SimEncryptedSettingsSink::resultFor(const Bytes& key, const Bytes& mac) {
  auto out = crypto::aes128EcbEncrypt(key, mac);
  return out ? Bytes(out->begin(), out->end()) : Bytes{};
}

Bytes SimEncryptedSettingsSink::sealed(const Bytes& key, const Bytes& iv, const Bytes& plaintext) {
  auto ciphertext = crypto::aes128CbcEncrypt(key, iv, plaintext);
  if (!ciphertext || iv.size() != 16) return {};
  Bytes blob = iv;
  blob.insert(blob.end(), ciphertext->begin(), ciphertext->end());
  auto mac = crypto::aesCmac(key, blob);
  if (!mac) return {};
  blob.insert(blob.end(), mac->begin(), mac->end());
  return blob;
}

void SimEncryptedSettingsSink::setKeys(std::vector<Bytes> keys) {
  std::lock_guard lock(mutex_);
  keys_ = std::move(keys);
}

void SimEncryptedSettingsSink::addKey(Bytes key) {
  std::lock_guard lock(mutex_);
  keys_.push_back(std::move(key));
}

void SimEncryptedSettingsSink::scriptAnswer(Bytes answer) {
  std::lock_guard lock(mutex_);
  scripted_ = std::move(answer);
}

std::optional<Bytes> SimEncryptedSettingsSink::written(const Bytes& value) {
  if (value.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  switch (value[0]) {
    case kVector:
      iv_ = Bytes(value.begin() + 1, value.end());
      vectors_.push_back(*iv_);
      bulk_.clear();
      nextChunk_ = 0;
      broken_ = iv_->size() != 16;
      return std::nullopt;
    case kChunk:
      if (value.size() < 3 || value.size() > 18 || value[1] != static_cast<std::uint8_t>(nextChunk_ & 0xFF)) {
        broken_ = true;
      } else {
        bulk_.insert(bulk_.end(), value.begin() + 2, value.end());
      }
      ++nextChunk_;
      return std::nullopt;
    case kMac:
      return finishLocked(Bytes(value.begin() + 1, value.end()));
    default:
      return std::nullopt;
  }
}

Bytes SimEncryptedSettingsSink::finishLocked(const Bytes& mac) {
  Bytes answer;
  const bool whole = iv_ && !broken_ && !bulk_.empty() && bulk_.size() % 16 == 0 && mac.size() == 16;
  if (!whole) {
    answer = code(kFormatError);
  } else {
    answer = code(kMacMismatch);
    Bytes message = *iv_;
    message.insert(message.end(), bulk_.begin(), bulk_.end());
    for (const auto& key : keys_) {
      auto tag = crypto::aesCmac(key, message);
      if (!tag || Bytes(tag->begin(), tag->end()) != mac) continue;
      if (auto plain = crypto::aes128CbcDecrypt(key, *iv_, bulk_)) {
        payloads_.emplace_back(plain->begin(), plain->end());
        answer = resultFor(key, mac);
      }
      break;
    }
  }
  iv_.reset();
  bulk_.clear();
  nextChunk_ = 0;
  broken_ = false;
  if (scripted_) {
    answer = std::move(*scripted_);
    scripted_.reset();
  }
  return answer;
}

std::vector<Bytes> SimEncryptedSettingsSink::payloads() const {
  std::lock_guard lock(mutex_);
  return payloads_;
}

std::vector<Bytes> SimEncryptedSettingsSink::vectors() const {
  std::lock_guard lock(mutex_);
  return vectors_;
}

}  // namespace velmora::platform::sim
