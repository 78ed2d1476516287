// Feeds arbitrary bytes to the beacon layer's record import, as JSON data and as JSON text.
// Whatever imports must export, write as JSON and import again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "beacons/foundation/KSJSONModelTestRecords.h"
#include "platform/core/Log.h"

using velmora::kestrine::testrecords::TestRecord;
using velmora::kestrine::testrecords::TestVisit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Missing-key warnings would flood the output; the import's own results are what count.
  static const bool quiet = [] {
    velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
    return true;
  }();
  (void)quiet;
  velmora::platform::Error error;
  auto fromData = TestRecord::initWithData(std::span(data, size), &error);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto fromText = TestRecord::initWithString(text, &error);
  if ((fromData == nullptr) != (fromText == nullptr)) std::abort();  // the two forms agree
  if (fromData) {
    (void)fromData->description();
    auto written = fromData->toJSONStringWithKeys(std::nullopt);
    if (!written) std::abort();  // everything imported must write out
    if (!TestRecord::initWithString(*written)) std::abort();
    if (!fromData->copy()) std::abort();
  }
  (void)TestVisit::initWithString(text, &error);
  (void)TestRecord::arrayOfModelsFromData(std::span(data, size), &error);
  return 0;
}
