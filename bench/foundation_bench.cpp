// Benchmarks of the beacon foundation helpers that run once per advertisement.
// Run: build/default/bench/foundation_bench
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "beacons/foundation/DataConverter.h"
#include "beacons/foundation/KSMTDates.h"

namespace {

namespace dc = velmora::kestrine::data_converter;

// A maker frame's payload: a UUID and the fields read after it.
constexpr std::array<std::uint8_t, 24> kFrame = {0xe2, 0xc5, 0x6d, 0xb5, 0xdf, 0xfb, 0x48, 0xd2, 0xb0, 0x60, 0xd0, 0xf5,
                                                 0xa7, 0x10, 0x96, 0xe0, 0x01, 0x02, 0xc5, 0x64, 0x12, 0x34, 0xff, 0xfe};

void BM_ReadUUIDString(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(dc::toUUIDString(kFrame));
}
BENCHMARK(BM_ReadUUIDString);

void BM_ReadFixedWidthNumbers(benchmark::State& state) {
  const dc::Bytes tail = std::span(kFrame).subspan(16);
  for (auto _ : state) {
    benchmark::DoNotOptimize(dc::toNumberWithInt16(tail));                           // major
    benchmark::DoNotOptimize(dc::toNumberWithInt16(tail.subspan(4)));                // minor
    benchmark::DoNotOptimize(dc::toNumberWithTwosComplementOfInt8(tail.subspan(2)));  // measured power
    benchmark::DoNotOptimize(dc::toNumberWithInt8(tail.subspan(3)));                 // battery
  }
}
BENCHMARK(BM_ReadFixedWidthNumbers);

void BM_ReadHexStringReversed(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(dc::toHexStringReversed(kFrame, true));
}
BENCHMARK(BM_ReadHexStringReversed);

void BM_CompareDates(benchmark::State& state) {
  const velmora::platform::Date a = velmora::platform::Date::fromReferenceSeconds(818500000.25);
  const velmora::platform::Date b = a.addingTimeInterval(1.5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(velmora::kestrine::mt::isAfter(a, b));
    benchmark::DoNotOptimize(velmora::kestrine::mt::isOnOrBefore(a, b));
  }
}
BENCHMARK(BM_CompareDates);

void BM_StartOfToday(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(velmora::kestrine::mt::startOfToday());
}
BENCHMARK(BM_StartOfToday);

}  // namespace

BENCHMARK_MAIN();
