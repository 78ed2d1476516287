// A cloud settings reply (JSON text) and the beacon's final notification, both from the input:
// the first byte picks which. A reply gives a blob whose pieces hold exactly the decoded bytes
// (16-byte IV and MAC, 1 to 4,096 bytes of bulk in numbered chunks) or the wrong-length error;
// a notification gives a result to confirm only when it is 16 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "platform/core/Json.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Bytes rest(data + 1, data + size);
  if (data[0] & 1) {
    const auto failure = KSBeaconSettingsUpdateOperation::failureForFinalNotification(rest);
    if (failure.has_value() == (rest.size() == 16)) std::abort();
    return 0;
  }
  auto reply = velmora::platform::json::parse(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
  if (!reply) return 0;
  std::string error;
  auto blob = KSBeaconSettingsUpdateOperation::blobFromSettingsReply(*reply, &error);
  if (!blob) {
    if (!error.starts_with("Settings Data is wrong length ")) std::abort();
    return 0;
  }
  if (blob->initialVector.size() != 16 || blob->mac.size() != 16) std::abort();
  if (blob->bulk.empty() || blob->bulk.size() > settings_blob::kMaximumBulkLength) std::abort();
  const Bytes chunks = settings_blob::chunked(blob->bulk, settings_blob::kEncryptedChunkOpcode);
  const std::size_t count = (blob->bulk.size() + 15) / 16;
  if (chunks.size() != blob->bulk.size() + 2 * count) std::abort();
  for (std::size_t i = 0; i < count; ++i) {
    if (chunks[i * 18] != 0x16 || chunks[i * 18 + 1] != static_cast<std::uint8_t>(i)) std::abort();
  }
  return 0;
}
