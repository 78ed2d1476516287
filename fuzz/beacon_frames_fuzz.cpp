// Feeds a beacon record a run of advertisements cut from the input: maker measurement
// payloads, Eddystone telemetry fields and block-data frames. Checks the record's bounds
// (20 reassembled records, 10 measurements a type, no record longer than its chunks) and that
// every decoded value is a finite number.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Value;

namespace {

Bytes take(const std::uint8_t*& p, const std::uint8_t* end, std::size_t n) {
  n = std::min<std::size_t>(n, static_cast<std::size_t>(end - p));
  Bytes out(p, p + n);
  p += n;
  return out;
}

void checkMeasurements(const KSBeacon& beacon) {
  for (auto type : beacon.availableMeasurementTypes()) {
    auto history = beacon.measurementsOfType(type);
    if (!history || history->size() > 10) std::abort();
    for (const auto& m : *history) {
      for (double v : m->values()) {
        if (!std::isfinite(v)) std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto beacon = std::make_shared<KSBeacon>();
  const std::uint8_t* p = data;
  const std::uint8_t* end = data + size;
  double at = 0;
  while (p < end) {
    std::uint8_t op = *p++;
    velmora::platform::Dict ad{{std::string(KSAdDataTimestampKey), Value(velmora::platform::Date::fromReferenceSeconds(at++))}};
    std::string_view type;
    switch (op % 3) {
      case 0: {
        type = KSAdDataTypeKestrineMeasurementKey;
        ad[std::string(KSAdDataMeasurementDataKey)] = Value(take(p, end, op >> 2));
        break;
      }
      case 1: {
        type = KSAdDataTypeEddystoneTelKey;
        ad[std::string(KSAdDataTempDataKey)] = Value(take(p, end, 2));
        ad[std::string(KSAdDataBatteryVoltageDataKey)] = Value(take(p, end, 2));
        ad[std::string(KSAdDataUptimeDataKey)] = Value(take(p, end, 4));
        break;
      }
      default: {
        type = KSAdDataTypeKestrineBlockDataKey;
        Bytes header = take(p, end, 3);
        header.resize(3);
        ad[std::string(KSBlockDataIdentifierKey)] = Value(header[0] >> 4);
        ad[std::string(KSBlockDataTypeKey)] = Value(header[0] & 0x0F);
        ad[std::string(KSBlockDataIndexKey)] = Value(header[1] >> 4);
        ad[std::string(KSBlockDataCountKey)] = Value(header[1] & 0x0F);
        ad[std::string(KSBlockDataEncodingKey)] = Value(header[2] >> 4);
        ad[std::string(KSBlockDataDataKey)] = Value(take(p, end, header[2] & 0x0F));
        break;
      }
    }
    ad[std::string(KSAdDataTypeKey)] = Value(type);
    beacon->setAdData(Value(std::move(ad)), type);
  }
  auto blocks = beacon->reassembledBlockData();
  if (blocks.size() > 20) std::abort();
  for (const auto& record : blocks) {
    auto count = (*record)[KSBlockDataCountKey].toInt64().value_or(0);
    const auto* joined = (*record)[KSBlockDataDataKey].bytes();
    if (!joined || joined->size() > static_cast<std::size_t>(std::max<std::int64_t>(count, 1)) * 15) std::abort();
  }
  checkMeasurements(*beacon);
  return 0;
}
