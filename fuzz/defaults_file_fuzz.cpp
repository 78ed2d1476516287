// Reads arbitrary bytes as a user-defaults file, then every array in it as a stored list of
// app sessions, as the session manager loads them at launch.
#include <cstddef>
#include <cstdint>

#include "beacons/model/KSSession.h"
#include "platform/defaults/BinaryPropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto dict = velmora::platform::defaults::BinaryPropertyList::decode(reinterpret_cast<const char*>(data), size);
  if (dict) {
    // Whatever was read must be writable again.
    auto bytes = velmora::platform::defaults::BinaryPropertyList::encode(*dict);
    if (bytes) (void)velmora::platform::defaults::BinaryPropertyList::decode(bytes->data(), bytes->size());
    for (const auto& [key, value] : *dict) {
      if (!value.array()) continue;
      velmora::platform::Error error;
      auto sessions = velmora::kestrine::KSSession::arrayOfModelsFromDictionaries(value, &error);
      if (!sessions) continue;
      for (const auto& session : *sessions) {
        (void)session->toDictionary();
        (void)session->backgroundScanTimeIntervalSinceDate(velmora::platform::Date());
      }
    }
  }
  return 0;
}
