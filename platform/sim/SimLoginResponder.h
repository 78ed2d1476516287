#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"
#include "platform/sim/SimGattServer.h"

namespace velmora::platform::sim {

// The login side of a simulated configurable beacon, installed as the write handler of its
// Milk characteristic on a SimGattServer:
//
// - Water holds the challenge (any value; setWater) and Indicator the status block that a
//   central may read before answering (setStatusBlock).
// - Each value written to Milk is recorded and answered with a verdict notified on
//   Indicator (only while the central has Indicator notifications on, as a real beacon).
// - The verdict is the scripted one when set (setVerdict, any bytes, so short or odd ones
//   can be tried); otherwise 00 01 when the written milk is the expected one and 00 02 when
//   it is not. The expected milk of a headed Water value of security type 3 is cloudAnswer()
//   over its payload with the secret the beacon shares with its cloud (setCloudSecret); of
//   every other value it is what the injected milk function computes from the Water value
//   (the host passes the answer its phone side computes). Without either, any milk is taken.
//
// Thread-safe; the handler runs where the server runs write handlers.
class SimLoginResponder : public std::enable_shared_from_this<SimLoginResponder> {
 public:
  struct Characteristics {
    bluetooth::BluetoothUUID water;
    bluetooth::BluetoothUUID milk;
    bluetooth::BluetoothUUID indicator;
  };
  // The expected milk for a Water value, or nullopt to take any.
  using MilkFunction = std::function<std::optional<Bytes>(const Bytes& water)>;

  // The cloud's answer to a payload: the first 8 bytes of AES-128-ECB, under the 16-byte
  // secret, of the payload's first 16 bytes zero-padded to 16. Empty for a secret that is
  // not 16 bytes.
  static Bytes cloudAnswer(const Bytes& secret, const Bytes& payload);

  static std::shared_ptr<SimLoginResponder> install(std::shared_ptr<SimGattServer> server, Characteristics uuids);

  void setWater(Bytes water);
  void setStatusBlock(Bytes status);
  void setMilkFunction(MilkFunction function);
  void setCloudSecret(Bytes secret);
  void setVerdict(std::optional<Bytes> verdict);

  std::vector<Bytes> milkWrites() const;
  // The last verdict sent was 1 or 3.
  bool loggedIn() const;

 private:
  struct Token {};

 public:
  SimLoginResponder(Token, std::shared_ptr<SimGattServer> server, Characteristics uuids);

 private:
  void written(SimGattServer& server, const Bytes& milk);

  const std::weak_ptr<SimGattServer> server_;
  const Characteristics uuids_;
  mutable std::mutex mutex_;
  MilkFunction milkFunction_;
  Bytes cloudSecret_;
  std::optional<Bytes> verdict_;
  std::vector<Bytes> milkWrites_;
  bool loggedIn_ = false;
};

}  // namespace velmora::platform::sim
