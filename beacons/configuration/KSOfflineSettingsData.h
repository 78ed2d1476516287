#pragma once

#include <optional>
#include <string_view>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// What the offline update writes: the padded payload, its AES-128-CBC ciphertext, the IV it
// was encrypted under and the AES-CMAC over IV and ciphertext.
struct KSOfflineEncryptedSettings {
  platform::Bytes unencrypted;
  platform::Bytes encrypted;
  platform::Bytes initialVector;
  platform::Bytes mac;
  // {"KSUnencryptedSettingsDataKey", "KSEncryptedSettingsDataKey", "KSInitVectorDataKey",
  // "KSCMacDataKey"}.
  platform::Dict dictionary() const;
};

namespace offline_settings {

// Errors of the payload builder carry the offline operation's own domain, code -1.
inline constexpr std::string_view kErrorDomain = "com.kestrine.KSBeaconSettingsUpdateOfflineOperation";
// The chunk index is one byte: 256 chunks of 16 bytes.
inline constexpr std::size_t kMaximumPayloadLength = 4096;

// The settings payload of a dictionary: total length (records + 4) and record count, both u16
// big-endian, then the records (tag u16, length u16, value) in the beacon's fixed order,
// zero-padded to a multiple of 16. The dictionary is checked first, the first failure
// winning: ad channels, auth key, instance id, namespace id, beacon mode, proximity UUID,
// short name, Eddystone URL; a value of the wrong kind for another key fails with
// "Invalid setting <key>", and a payload over 4,096 bytes with the wrong-length message.
std::optional<platform::Bytes> unencryptedSettingsData(const platform::Dict& settings, platform::Error* error = nullptr);

// Builds the payload, encrypts it under the bulk key and the 16-byte IV (AES-128-CBC without
// padding) and signs IV ‖ ciphertext with AES-CMAC under the CMAC key. Keys and IV must be
// 16 bytes (a programming error otherwise: nullopt with an error).
std::optional<KSOfflineEncryptedSettings> encryptedSettings(const platform::Dict& settings, const platform::Bytes& bulkKey,
                                                            const platform::Bytes& cmacKey,
                                                            const platform::Bytes& initialVector,
                                                            platform::Error* error = nullptr);

// AES-CMAC of a message whose length is a positive multiple of 16.
std::optional<platform::Bytes> CMAC(const platform::Bytes& message, const platform::Bytes& key,
                                    platform::Error* error = nullptr);

}  // namespace offline_settings
}  // namespace velmora::kestrine
