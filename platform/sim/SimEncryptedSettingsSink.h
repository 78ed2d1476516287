#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::platform::sim {

// The part of a simulated beacon that takes encrypted settings over Control:
//
//   15 + IV (16)          starts a transfer (and drops any unfinished one)
//   16 i + up to 16 bytes  chunk i of the ciphertext; i must count 0, 1, 2, … in one byte
//   17 + MAC (16)          ends it
//
// At the MAC the sink checks the numbering and that the ciphertext is whole blocks, verifies
// the AES-CMAC over IV ‖ ciphertext under each of its keys in turn (the key it shares with the
// cloud, then the digest of its passcode) and decrypts with the key that verified. Its answer
// is the 16-byte result (AES-128-ECB of the MAC under that key) or, when the transfer does not
// check out, a two-byte code: 00 04 for a broken transfer (numbering, length, no IV), 00 05
// for a MAC that verifies under no key. A scripted answer replaces it once.
//
// The sink only parses and answers; its owner feeds it the writes and notifies the answer.
// Thread-safe.
class SimEncryptedSettingsSink {
 public:
  static constexpr std::uint8_t kVector = 0x15;
  static constexpr std::uint8_t kChunk = 0x16;
  static constexpr std::uint8_t kMac = 0x17;
  static constexpr std::uint16_t kFormatError = 0x0004;
  static constexpr std::uint16_t kMacMismatch = 0x0005;

  // The 16-byte result a beacon answers for settings signed with mac under key.
  static Bytes resultFor(const Bytes& key, const Bytes& mac);
  // A blob the sink verifies under key, as the cloud signs one: IV (16) ‖ AES-128-CBC of the
  // plaintext (whole blocks) ‖ AES-CMAC over IV ‖ ciphertext. Empty when the inputs do not fit.
  static Bytes sealed(const Bytes& key, const Bytes& iv, const Bytes& plaintext);

  void setKeys(std::vector<Bytes> keys);
  void addKey(Bytes key);
  // Answers the next finished transfer with these bytes instead.
  void scriptAnswer(Bytes answer);

  // Takes a Control write. nullopt: not the sink's (or no answer yet); otherwise the value to
  // notify on Indicator.
  std::optional<Bytes> written(const Bytes& value);

  // The plaintexts of the transfers that verified, in order.
  std::vector<Bytes> payloads() const;
  // The IVs of every started transfer, in order.
  std::vector<Bytes> vectors() const;

 private:
  Bytes finishLocked(const Bytes& mac);

  mutable std::mutex mutex_;
  std::vector<Bytes> keys_;
  std::optional<Bytes> scripted_;
  std::optional<Bytes> iv_;
  Bytes bulk_;
  std::size_t nextChunk_ = 0;
  bool broken_ = false;
  std::vector<Bytes> payloads_;
  std::vector<Bytes> vectors_;
};

}  // namespace velmora::platform::sim
