#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"
#include "platform/sim/SimGattServer.h"

namespace velmora::platform::sim {

// The lock of a simulated Eddystone configuration service, installed as the write handler of
// its Lockstate and Unlock characteristics on a SimGattServer:
//
// - Lockstate reads 00 while locked and 01 once unlocked (setLockStateValue puts any value
//   there, for beacons that answer oddly).
// - Unlock reads the challenge (setChallenge; 16 bytes). A value written to Unlock that is
//   AES-128-ECB of the challenge's first 16 bytes (zero-filled) under the 16-byte passcode
//   unlocks the beacon; any other leaves it locked.
// - While unlocked, 17 bytes 00 + AES-128-ECB(new passcode, key: current passcode) written to
//   Lockstate change the passcode; the single byte 00 locks it again.
//
// Thread-safe; the handlers run where the server runs write handlers.
class SimEddystoneLock : public std::enable_shared_from_this<SimEddystoneLock> {
 public:
  struct Characteristics {
    bluetooth::BluetoothUUID lockState;
    bluetooth::BluetoothUUID unlock;
  };

  static std::shared_ptr<SimEddystoneLock> install(std::shared_ptr<SimGattServer> server, Characteristics uuids,
                                                   Bytes passcode, bool locked = true);

  void setChallenge(Bytes challenge);
  void setLockStateValue(Bytes value);
  Bytes passcode() const;
  bool locked() const;
  // The values written to Unlock, in order.
  std::vector<Bytes> answers() const;

 private:
  struct Token {};

 public:
  SimEddystoneLock(Token, std::shared_ptr<SimGattServer> server, Characteristics uuids, Bytes passcode, bool locked);

 private:
  void unlockWritten(SimGattServer& server, const Bytes& answer);
  void lockStateWritten(SimGattServer& server, const Bytes& value);

  const std::weak_ptr<SimGattServer> server_;
  const Characteristics uuids_;
  mutable std::mutex mutex_;
  Bytes passcode_;
  Bytes challenge_;
  bool locked_;
  std::vector<Bytes> answers_;
};

}  // namespace velmora::platform::sim
