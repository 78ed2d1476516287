// Cost of turning one heard advertisement into its advertisement-data record, per frame kind
// (nanoseconds per advertisement), with the heap allocations each parse makes reported as
// the "allocs" counter; and, apart, the cost of the dictionary form the beacon record stores.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/AdData.h"
#include "beacons/bluetooth/KSEddystoneDefinitions.h"

// The global allocation functions are replaced to count allocations; GCC sees the inlined
// free() paired with a new-expression and warns, wrongly for a replacement pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<long> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace velmora::kestrine;

std::vector<std::uint8_t> hex(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits.push_back(c);
  }
  std::vector<std::uint8_t> out;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
  }
  return out;
}

// A realistic list of known UUIDs: the maker's iBeacon frames are matched against it.
const std::vector<std::string> kUUIDs = {
    "61687109-905F-4436-91F8-E602F514C96D", "B9407F30-F5F8-466E-AFF9-25556B57FE6D",
    "F7826DA6-4FA2-4E98-8024-BC5B71E0893E", "e2c56db5-dffb-48d2-b060-d0f5a71096e0"};

void parse(benchmark::State& state, std::string_view frameHex, bool eddystone, bool parses = true) {
  const auto bytes = hex(frameHex);
  const KSServiceDataEntry serviceData[] = {{"FEAA", bytes}};
  KSAdvertisement advertisement;
  if (eddystone) {
    advertisement.serviceData = serviceData;
  } else {
    advertisement.manufacturerData = std::span<const std::uint8_t>(bytes);
  }
  if (adData::mutableAdDataWithProximityUUIDStrings(advertisement, kUUIDs).has_value() != parses) {
    state.SkipWithError("frame does not parse as expected");
    return;
  }
  const long before = gAllocations.load();
  for (auto _ : state) {
    auto ad = adData::mutableAdDataWithProximityUUIDStrings(advertisement, kUUIDs);
    benchmark::DoNotOptimize(ad);
  }
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(gAllocations.load() - before), benchmark::Counter::kAvgIterations);
}

void mfr(benchmark::State& state, const char* frameHex) { parse(state, frameHex, false); }
void feaa(benchmark::State& state, const char* frameHex) { parse(state, frameHex, true); }
// The rejection path: what every foreign advertisement costs.
void rejected(benchmark::State& state, const char* frameHex) { parse(state, frameHex, false, false); }

BENCHMARK_CAPTURE(mfr, AppleIBeacon, "4c000215e2c56db5dffb48d2b060d0f5a71096e000010016c5");
BENCHMARK_CAPTURE(mfr, KestrineIBeacon, "0401020a0b0c0d0102030403e805f4c564d2b060d0f5a71096e0");
BENCHMARK_CAPTURE(mfr, KestrineIBeacon4, "0401050a0b0c0d01020304c56407b060d0f5a71096e0");
BENCHMARK_CAPTURE(mfr, Secure1, "0401040a0b0c0d03e805f4c56407aa5e77bbbb1ce65bbfe9e773");
BENCHMARK_CAPTURE(mfr, Secure2, "0401560a0b0c0dc56407aa1337bb2d2c859b46d16f7c");
BENCHMARK_CAPTURE(mfr, BlockData1, "040117 0000 21 35 05 6162636465 00000000000000 112233445566");
BENCHMARK_CAPTURE(mfr, BlockData2, "040118778821350538c69fe6cb7760303a9612c2cc186861776f");
BENCHMARK_CAPTURE(mfr, EncryptedStatus, "04010900112233445566778899aabbccddeeff");
BENCHMARK_CAPTURE(mfr, NewBorn1, "0401001122334455660a0b0c0d07c564");
BENCHMARK_CAPTURE(mfr, Newborn2, "04010a0bc5642a11223344556612345607");
BENCHMARK_CAPTURE(mfr, Management, "04011a0bc5642a11223344556612345607");
BENCHMARK_CAPTURE(mfr, Identifier, "04013a0bc56401cafe0102030405060708");
BENCHMARK_CAPTURE(mfr, Measurement, "04015a0bc564010001f4011020304050602");
BENCHMARK_CAPTURE(rejected, UnknownCompany, "0d000215e2c56db5dffb48d2b060d0f5a71096e000010016c5");
BENCHMARK_CAPTURE(feaa, EddystoneUID, "00ee00112233445566778899aabbccddeeff0000");
BENCHMARK_CAPTURE(feaa, EddystoneURL, "10ee026578616d706c65006107");
BENCHMARK_CAPTURE(feaa, EddystoneTLM, "20000bb8180000000100000010 00");
BENCHMARK_CAPTURE(feaa, EddystoneEID, "30ee0102030405060a0b");

// The dictionary form, made only when a caller needs it (the beacon record's store).
void BM_ToDictionary(benchmark::State& state) {
  const auto bytes = hex("0401040a0b0c0d03e805f4c56407aa5e77bbbb1ce65bbfe9e773");
  const auto ad = adData::mutableKestrineSecure1AdDataFromMfrData(bytes);
  for (auto _ : state) benchmark::DoNotOptimize(ad->toDictionary());
}
BENCHMARK(BM_ToDictionary);

void BM_EncodeURL(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KSEddystoneDefinitions::dataForNSURL("https://www.example.com/a.org/b"));
}
BENCHMARK(BM_EncodeURL);

}  // namespace

BENCHMARK_MAIN();
