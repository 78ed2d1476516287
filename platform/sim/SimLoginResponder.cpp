#include "platform/sim/SimLoginResponder.h"

#include <algorithm>

#include "platform/crypto/Aes.h"

namespace velmora::platform::sim {

namespace {

constexpr std::uint8_t kCloudSecurityType = 3;

// The payload of a headed Water value of the cloud's security type: 5 to 18 bytes (8 is
// the passcode form), type byte, length byte equal to the rest.
std::optional<Bytes> cloudPayload(const Bytes& water) {
  if (water.size() < 5 || water.size() > 18 || water.size() == 8) return std::nullopt;
  if (water[0] != kCloudSecurityType || water[1] != water.size() - 2) return std::nullopt;
  return Bytes(water.begin() + 2, water.end());
}

}  // namespace

Bytes SimLoginResponder::cloudAnswer(const Bytes& secret, const Bytes& payload) {
  Bytes block(crypto::kAesBlockSize, 0);
  std::copy_n(payload.begin(), std::min(payload.size(), block.size()), block.begin());
  auto encrypted = crypto::aes128EcbEncrypt(secret, block);
  if (!encrypted) return {};
  encrypted->resize(8);
  return *encrypted;
}

std::shared_ptr<SimLoginResponder> SimLoginResponder::install(std::shared_ptr<SimGattServer> server,
                                                              Characteristics uuids) {
  auto responder = std::make_shared<SimLoginResponder>(Token{}, server, uuids);
  std::weak_ptr<SimLoginResponder> weak = responder;
  server->setWriteHandler(uuids.milk, [weak](SimGattServer& s, const Bytes& value) {
    if (auto self = weak.lock()) self->written(s, value);
  });
  return responder;
}

SimLoginResponder::SimLoginResponder(Token, std::shared_ptr<SimGattServer> server, Characteristics uuids)
    : server_(server), uuids_(std::move(uuids)) {}

void SimLoginResponder::setWater(Bytes water) {
  if (auto server = server_.lock()) server->setValue(uuids_.water, std::move(water));
}

void SimLoginResponder::setStatusBlock(Bytes status) {
  if (auto server = server_.lock()) server->setValue(uuids_.indicator, std::move(status));
}

void SimLoginResponder::setMilkFunction(MilkFunction function) {
  std::lock_guard lock(mutex_);
  milkFunction_ = std::move(function);
}

void SimLoginResponder::setCloudSecret(Bytes secret) {
  std::lock_guard lock(mutex_);
  cloudSecret_ = std::move(secret);
}

void SimLoginResponder::setVerdict(std::optional<Bytes> verdict) {
  std::lock_guard lock(mutex_);
  verdict_ = std::move(verdict);
}

std::vector<Bytes> SimLoginResponder::milkWrites() const {
  std::lock_guard lock(mutex_);
  return milkWrites_;
}

bool SimLoginResponder::loggedIn() const {
  std::lock_guard lock(mutex_);
  return loggedIn_;
}

void SimLoginResponder::written(SimGattServer& server, const Bytes& milk) {
  const Bytes water = server.value(uuids_.water);
  MilkFunction function;
  Bytes secret;
  std::optional<Bytes> verdict;
  {
    std::lock_guard lock(mutex_);
    milkWrites_.push_back(milk);
    function = milkFunction_;
    secret = cloudSecret_;
    verdict = verdict_;
  }
  if (!verdict) {
    std::optional<Bytes> expected;
    if (auto payload = cloudPayload(water); payload && !secret.empty()) {
      expected = cloudAnswer(secret, *payload);
    } else if (function) {
      expected = function(water);
    }
    verdict = Bytes{0x00, static_cast<std::uint8_t>(!expected || *expected == milk ? 0x01 : 0x02)};
  }
  const bool ok = verdict->size() >= 2 && verdict->at(0) == 0 && (verdict->at(1) == 1 || verdict->at(1) == 3);
  {
    std::lock_guard lock(mutex_);
    loggedIn_ = ok;
  }
  server.notify(uuids_.indicator, std::move(*verdict));
}

}  // namespace velmora::platform::sim
