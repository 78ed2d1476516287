// The offline settings update's work before it connects: build the payload of a full
// settings dictionary, encrypt it and sign it; and the same for a payload of the largest
// numberable size (4,096 bytes). Run: build/default/bench/settings_bench
#include <benchmark/benchmark.h>

#include "beacons/configuration/KSAdSchema.h"
#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSOfflineSettingsData.h"
#include "beacons/configuration/KSSettingsKeys.h"

namespace {

using namespace velmora::kestrine;
using velmora::platform::Bytes;

velmora::platform::Dict fullSettings() {
  velmora::platform::Dict d;
  d[std::string(KSSettingsUpdateCurrentPasscodeKey)] = "123456";
  d[std::string(KSSettingsUpdateNewPasscodeKey)] = "654321";
  d[std::string(KSSettingsUpdateSecurityTypeKey)] = 1;
  d[std::string(KSSettingsUpdateMinorKey)] = 2;
  d[std::string(KSSettingsUpdateMajorKey)] = 1;
  d[std::string(KSSettingsUpdateProximityUUIDStringKey)] = "01234567-89AB-CDEF-0123-456789ABCDEF";
  d[std::string(KSSettingsUpdateEddystoneNamespaceIDKey)] = Bytes(10, 0x11);
  d[std::string(KSSettingsUpdateEddystoneInstanceIDKey)] = Bytes(6, 0x22);
  d[std::string(KSSettingsUpdatePrivacyDurationKey)] = 900;
  d[std::string(KSSettingsUpdateMeasuredPowerKey)] = -59;
  d[std::string(KSSettingsUpdateLoudnessLevelKey)] = 3;
  d[std::string(KSSettingsUpdateTargetSpeedInMillisecondsKey)] = 152;
  d[std::string(KSSettingsUpdateBeaconModeIDKey)] = 2;
  d[std::string(KSSettingsUpdateLocalNameShortKey)] = "LANE-01";
  d[std::string(KSSettingsUpdateEddystoneURLKey)] = "https://example.com/p";
  d[std::string(KSSettingsUpdateAdAndBurstTableSchemaKey)] = ad_schema::adAndBurstTablesForModeId(2, 152);
  d[std::string(KSSettingsUpdateAdChannelsKey)] = 7;
  d[std::string(KSSettingsUpdateVersionKey)] = 9;
  return d;
}

void run(benchmark::State& state, const velmora::platform::Dict& settings) {
  const Bytes key = KSBeaconOperation::passcodeDataFromPasscodeString("123456");
  const Bytes iv(16, 0x01);
  std::size_t length = 0;
  for (auto _ : state) {
    auto out = offline_settings::encryptedSettings(settings, key, key, iv);
    length = out ? out->encrypted.size() : 0;
    benchmark::DoNotOptimize(out);
  }
  state.counters["payload_bytes"] = static_cast<double>(length);
}

void BM_OfflinePayloadFullSettings(benchmark::State& state) { run(state, fullSettings()); }
BENCHMARK(BM_OfflinePayloadFullSettings)->Unit(benchmark::kMicrosecond);

void BM_OfflinePayloadLargest(benchmark::State& state) {
  velmora::platform::Dict d;
  d[std::string(KSSettingsUpdateAdSchemaKey)] = Bytes(4096 - 8, 0xEE);
  run(state, d);
}
BENCHMARK(BM_OfflinePayloadLargest)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
