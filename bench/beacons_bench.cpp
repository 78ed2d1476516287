// Speed of the beacon layer's record machinery. Run: build/default/bench/beacons_bench
#include <benchmark/benchmark.h>

#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "platform/core/Json.h"

namespace {

using velmora::kestrine::KSJSONModelClass;
using velmora::kestrine::KSJSONRecord;
using velmora::platform::Value;

// A record shaped like a beacon's platform record: 25 properties of the usual kinds.
class PageRecord : public KSJSONRecord<PageRecord> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<PageRecord>("PageRecord", [](auto& c) {
      c.keyMapper({{"id", "t0"}});
      c.allOptional();
      for (int i = 0; i < 12; ++i) {
        c.text("t" + std::to_string(i), [i](const PageRecord& r) { return r.texts_[i]; },
               [i](PageRecord& r, std::optional<std::string> v) { r.texts_[i] = std::move(v); });
      }
      for (int i = 0; i < 6; ++i) {
        c.number("n" + std::to_string(i), [i](const PageRecord& r) { return r.numbers_[i]; },
                 [i](PageRecord& r, Value v) { r.numbers_[i] = std::move(v); });
      }
      for (int i = 0; i < 3; ++i) {
        c.date("d" + std::to_string(i), [i](const PageRecord& r) { return r.dates_[i]; },
               [i](PageRecord& r, std::optional<velmora::platform::Date> v) { r.dates_[i] = v; });
      }
      c.scalar("flag", [](const PageRecord& r) { return r.flag_; }, [](PageRecord& r, bool v) { r.flag_ = v; });
      c.scalar("mask", [](const PageRecord& r) { return r.mask_; }, [](PageRecord& r, std::uint32_t v) { r.mask_ = v; });
      c.scalar("accuracy", [](const PageRecord& r) { return r.accuracy_; }, [](PageRecord& r, double v) { r.accuracy_ = v; });
      c.any("extra", [](const PageRecord& r) { return r.extra_; }, [](PageRecord& r, Value v) { r.extra_ = std::move(v); });
    });
    return cls;
  }

 private:
  std::optional<std::string> texts_[12];
  Value numbers_[6];
  std::optional<velmora::platform::Date> dates_[3];
  bool flag_ = false;
  std::uint32_t mask_ = 0;
  double accuracy_ = -1.0;
  Value extra_;
};

Value page() {
  velmora::platform::Array records;
  for (int r = 0; r < 100; ++r) {
    velmora::platform::Dict d;
    d["id"] = Value("beacon-" + std::to_string(r));
    for (int i = 1; i < 12; ++i) d["t" + std::to_string(i)] = Value("text value " + std::to_string(i));
    for (int i = 0; i < 6; ++i) d["n" + std::to_string(i)] = i % 2 ? Value(r * 1.5) : Value(r * 100 + i);
    for (int i = 0; i < 3; ++i) d["d" + std::to_string(i)] = Value("2014-05-06T10:20:30+01:00");
    d["flag"] = Value(r % 2 == 0);
    d["mask"] = Value(0x8000 + r);
    d["accuracy"] = Value(0.25 * r);
    d["extra"] = Value::makeDict({{"k", "v"}});
    records.emplace_back(std::move(d));
  }
  return Value(std::move(records));
}

void BM_ImportPageOf100(benchmark::State& state) {
  const Value input = page();
  for (auto _ : state) {
    auto records = PageRecord::arrayOfModelsFromDictionaries(input);
    benchmark::DoNotOptimize(records);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ImportPageOf100);

void BM_ExportPageOf100(benchmark::State& state) {
  auto records = *PageRecord::arrayOfModelsFromDictionaries(page());
  for (auto _ : state) {
    auto out = PageRecord::arrayOfDictionariesFromModels(records);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ExportPageOf100);

void BM_ImportAndExportPageOf100AsText(benchmark::State& state) {
  const std::string text = *velmora::platform::json::write(page());
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  for (auto _ : state) {
    auto records = PageRecord::arrayOfModelsFromData(bytes);
    auto out = velmora::platform::json::write(Value(*PageRecord::arrayOfDictionariesFromModels(*records)));
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ImportAndExportPageOf100AsText);

}  // namespace

BENCHMARK_MAIN();
