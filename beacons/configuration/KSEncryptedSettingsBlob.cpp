#include "beacons/configuration/KSEncryptedSettingsBlob.h"

#include "beacons/http/KSQueryStringPair.h"
#include "platform/core/BytesDescription.h"
#include "platform/crypto/Base64.h"

namespace velmora::kestrine::settings_blob {

std::optional<KSEncryptedSettingsBlob> split(const std::optional<platform::Bytes>& blob) {
  if (!blob || blob->size() < kMinimumBlobLength) return std::nullopt;
  const std::size_t bulkLength = blob->size() - kVectorLength - kMacLength;
  if (bulkLength > kMaximumBulkLength) return std::nullopt;
  const auto begin = blob->begin();
  KSEncryptedSettingsBlob out;
  out.initialVector.assign(begin, begin + kVectorLength);
  out.bulk.assign(begin + kVectorLength, begin + static_cast<std::ptrdiff_t>(kVectorLength + bulkLength));
  out.mac.assign(blob->end() - kMacLength, blob->end());
  return out;
}

std::optional<platform::Bytes> decodeSettingsText(const platform::Value& text) {
  const std::string* raw = text.string();
  if (!raw) return std::nullopt;
  std::string compact = *raw;
  std::erase_if(compact, [](char c) { return c == '\r' || c == '\n'; });
  return platform::crypto::base64Decode(compact);
}

std::string wrongLengthMessage(const std::optional<platform::Bytes>& blob) {
  return "Settings Data is wrong length " + platform::describeBytes(blob);
}

platform::Bytes prefixed(std::uint8_t opcode, const platform::Bytes& bytes) {
  platform::Bytes out{opcode};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

platform::Bytes chunked(const platform::Bytes& bulk, std::uint8_t opcode, std::uint8_t lastOpcode) {
  platform::Bytes out;
  const std::size_t count = (bulk.size() + kChunkLength - 1) / kChunkLength;
  out.reserve(bulk.size() + 2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(i + 1 == count ? lastOpcode : opcode);
    out.push_back(static_cast<std::uint8_t>(i & 0xFF));
    const std::size_t from = i * kChunkLength;
    const std::size_t to = std::min(bulk.size(), from + kChunkLength);
    out.insert(out.end(), bulk.begin() + static_cast<std::ptrdiff_t>(from), bulk.begin() + static_cast<std::ptrdiff_t>(to));
  }
  return out;
}

std::string escapedStatusText(const std::optional<platform::Bytes>& status) {
  if (!status) return {};
  return KSPercentEscapedStringFromString(
      platform::crypto::base64Encode(*status, platform::crypto::Base64Lines::Length64));
}

}  // namespace velmora::kestrine::settings_blob
