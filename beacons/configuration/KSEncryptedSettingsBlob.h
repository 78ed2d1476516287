#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Value.h"

namespace velmora::kestrine {

// The pieces of a cloud-prepared settings blob: a 16-byte initialisation vector, the
// encrypted bulk data and a 16-byte MAC, in that order.
struct KSEncryptedSettingsBlob {
  platform::Bytes initialVector;
  platform::Bytes bulk;
  platform::Bytes mac;
};

namespace settings_blob {

inline constexpr std::size_t kVectorLength = 16;
inline constexpr std::size_t kMacLength = 16;
inline constexpr std::size_t kMinimumBlobLength = kVectorLength + 1 + kMacLength;
// A chunk index is one byte: 256 chunks of 16 bytes at most.
inline constexpr std::size_t kChunkLength = 16;
inline constexpr std::size_t kMaximumBulkLength = 256 * kChunkLength;

inline constexpr std::uint8_t kVectorOpcode = 0x15;
inline constexpr std::uint8_t kEncryptedChunkOpcode = 0x16;
inline constexpr std::uint8_t kMacOpcode = 0x17;
inline constexpr std::uint8_t kPlainChunkOpcode = 0x18;
inline constexpr std::uint8_t kPlainLastChunkOpcode = 0x19;
// Write block sizes that carry one command (or one chunk) per GATT write.
inline constexpr std::int64_t kVectorBlockSize = 17;
inline constexpr std::int64_t kChunkBlockSize = 18;

// Splits a decoded blob; nullopt when it is shorter than 33 bytes or its bulk part needs more
// than 256 chunks.
std::optional<KSEncryptedSettingsBlob> split(const std::optional<platform::Bytes>& blob);

// The bytes of a settings text from the cloud: base64, which the cloud may break into lines
// (CR and LF are dropped first); nullopt for a missing value, one that is not text or not base64.
std::optional<platform::Bytes> decodeSettingsText(const platform::Value& text);

// The text of the error for a blob that cannot be used: "Settings Data is wrong length <…>"
// ("(null)" when there was no data at all).
std::string wrongLengthMessage(const std::optional<platform::Bytes>& blob);

// Opcode and 16 bytes: 15 + IV, 17 + MAC.
platform::Bytes prefixed(std::uint8_t opcode, const platform::Bytes& bytes);

// The chunks of a bulk value joined into one write: for chunk i (one byte, from 0) the
// opcode, i and up to 16 bytes; the last chunk carries lastOpcode. Bulk data needing more
// than 256 chunks has no numbering: the caller refuses it first (only the low byte is kept).
platform::Bytes chunked(const platform::Bytes& bulk, std::uint8_t opcode, std::uint8_t lastOpcode);
inline platform::Bytes chunked(const platform::Bytes& bulk, std::uint8_t opcode) { return chunked(bulk, opcode, opcode); }

// A status or result in a path's query: base64 in 64-character lines, with "+", "=" and the
// CR LF between lines percent-escaped as the cloud decodes them ("/" kept). Nothing at all
// gives "".
std::string escapedStatusText(const std::optional<platform::Bytes>& status);

}  // namespace settings_blob
}  // namespace velmora::kestrine
