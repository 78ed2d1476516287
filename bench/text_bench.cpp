// Benchmarks of the fixed-format date parser. Run: build/default/bench/text_bench
#include <benchmark/benchmark.h>

#include <string_view>

#include "platform/text/DefaultTimeZone.h"
#include "platform/text/FixedDateFormat.h"
#include "platform/text/LibraryDateFormat.h"

namespace {

using velmora::platform::text::FixedDateFormat;
using velmora::platform::text::LibraryDateFormat;

// A zone with daylight-saving changes, so the local-time path does real offset work.
struct BerlinZone {
  BerlinZone() { velmora::platform::text::DefaultTimeZone::set("Europe/Berlin"); }
};

// Each case runs twice: on the fixed layouts (FixedDateFormat) and, for comparison, on the
// calendar library's formatter that read these patterns before (LibraryDateFormat).
template <class Format>
void parseOne(benchmark::State& state, std::string_view pattern, std::string_view text) {
  static BerlinZone zone;
  const Format format(pattern);
  for (auto _ : state) {
    auto date = format.parse(text);
    benchmark::DoNotOptimize(date);
  }
}

template <class Format>
void BM_ParseDateSeconds(benchmark::State& state) {
  parseOne<Format>(state, "yyyy-MM-dd'T'HH:mm:ss", "2026-12-09T08:16:02");
}
BENCHMARK_TEMPLATE(BM_ParseDateSeconds, FixedDateFormat);
BENCHMARK_TEMPLATE(BM_ParseDateSeconds, LibraryDateFormat);

template <class Format>
void BM_ParseDateMillis(benchmark::State& state) {
  parseOne<Format>(state, "yyyy-MM-dd'T'HH:mm:ss.SSS", "2026-12-08T21:16:02.125");
}
BENCHMARK_TEMPLATE(BM_ParseDateMillis, FixedDateFormat);
BENCHMARK_TEMPLATE(BM_ParseDateMillis, LibraryDateFormat);

template <class Format>
void BM_ParseDateMillisOffset(benchmark::State& state) {
  parseOne<Format>(state, "yyyy-MM-dd'T'HH:mm:ss.SSSZ", "2026-12-09T08:15:30.250+1100");
}
BENCHMARK_TEMPLATE(BM_ParseDateMillisOffset, FixedDateFormat);
BENCHMARK_TEMPLATE(BM_ParseDateMillisOffset, LibraryDateFormat);

// The status reply's rule for a text with an offset: two formats refuse it before the third reads it.
template <class Format>
void BM_ParseDateThroughThreeFormats(benchmark::State& state) {
  static BerlinZone zone;
  const Format seconds("yyyy-MM-dd'T'HH:mm:ss");
  const Format millis("yyyy-MM-dd'T'HH:mm:ss.SSS");
  const Format offset("yyyy-MM-dd'T'HH:mm:ss.SSSZ");
  constexpr std::string_view text = "2026-12-09T08:15:30.250+1100";
  for (auto _ : state) {
    auto date = seconds.parse(text);
    if (!date) date = millis.parse(text);
    if (!date) date = offset.parse(text);
    benchmark::DoNotOptimize(date);
  }
}
BENCHMARK_TEMPLATE(BM_ParseDateThroughThreeFormats, FixedDateFormat);
BENCHMARK_TEMPLATE(BM_ParseDateThroughThreeFormats, LibraryDateFormat);

}  // namespace

BENCHMARK_MAIN();
