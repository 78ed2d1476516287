#include "platform/sim/SimEddystoneLock.h"

#include <algorithm>

#include "platform/crypto/Aes.h"

namespace velmora::platform::sim {

std::shared_ptr<SimEddystoneLock> SimEddystoneLock::install(std::shared_ptr<SimGattServer> server,
                                                            Characteristics uuids, Bytes passcode, bool locked) {
  auto lock = std::make_shared<SimEddystoneLock>(Token{}, server, uuids, std::move(passcode), locked);
  std::weak_ptr<SimEddystoneLock> weak = lock;
  server->setWriteHandler(uuids.unlock, [weak](SimGattServer& s, const Bytes& value) {
    if (auto self = weak.lock()) self->unlockWritten(s, value);
  });
  server->setWriteHandler(uuids.lockState, [weak](SimGattServer& s, const Bytes& value) {
    if (auto self = weak.lock()) self->lockStateWritten(s, value);
  });
  server->setValue(uuids.lockState, Bytes{static_cast<std::uint8_t>(locked ? 0x00 : 0x01)});
  return lock;
}

SimEddystoneLock::SimEddystoneLock(Token, std::shared_ptr<SimGattServer> server, Characteristics uuids,
                                   Bytes passcode, bool locked)
    : server_(server), uuids_(std::move(uuids)), passcode_(std::move(passcode)), locked_(locked) {}

void SimEddystoneLock::setChallenge(Bytes challenge) {
  {
    std::lock_guard lock(mutex_);
    challenge_ = challenge;
  }
  if (auto server = server_.lock()) server->setValue(uuids_.unlock, std::move(challenge));
}

void SimEddystoneLock::setLockStateValue(Bytes value) {
  if (auto server = server_.lock()) server->setValue(uuids_.lockState, std::move(value));
}

Bytes SimEddystoneLock::passcode() const {
  std::lock_guard lock(mutex_);
  return passcode_;
}

bool SimEddystoneLock::locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

std::vector<Bytes> SimEddystoneLock::answers() const {
  std::lock_guard lock(mutex_);
  return answers_;
}

void SimEddystoneLock::unlockWritten(SimGattServer& server, const Bytes& answer) {
  bool unlocked = false;
  Bytes challenge;
  {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
    Bytes block(crypto::kAesBlockSize, 0);
    std::copy_n(challenge_.begin(), std::min(challenge_.size(), block.size()), block.begin());
    auto expected = crypto::aes128EcbEncrypt(passcode_, block);
    if (expected && *expected == answer) locked_ = false;
    unlocked = !locked_;
    challenge = challenge_;
  }
  // The beacon puts its challenge back; a locked one keeps its lock state as it is.
  server.setValue(uuids_.unlock, std::move(challenge));
  if (unlocked) server.setValue(uuids_.lockState, Bytes{0x01});
}

void SimEddystoneLock::lockStateWritten(SimGattServer& server, const Bytes& value) {
  std::uint8_t state = 0x01;
  {
    std::lock_guard lock(mutex_);
    if (locked_ || value.empty() || value[0] != 0x00) {
      state = locked_ ? 0x00 : 0x01;
    } else if (value.size() == 1) {
      locked_ = true;
      state = 0x00;
    } else if (value.size() == 1 + crypto::kAes128KeySize) {
      if (auto next = crypto::aes128EcbDecrypt(passcode_, std::span(value).subspan(1))) passcode_ = *next;
    }
  }
  server.setValue(uuids_.lockState, Bytes{state});
}

}  // namespace velmora::platform::sim
