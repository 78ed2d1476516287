// Cost of the reads the SDK makes on every hot path: a singleton lookup in the registry and
// an option read through the configurator's typed getters.
// Run: build/default/bench/registry_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/core/Log.h"

namespace {

using velmora::kestrine::KSConfigurator;
using velmora::kestrine::KSInstanceProvider;

struct Thing {
  int value = 1;
};

// A registry holding as many singletons as the SDK keeps, looked up by a class's accessor.
std::shared_ptr<KSInstanceProvider> filledRegistry() {
  auto provider = KSInstanceProvider::create({});
  for (int i = 0; i < 14; ++i) {
    provider->singleton<Thing>("KSSingleton" + std::to_string(i),
                               [](KSInstanceProvider&) { return std::make_shared<Thing>(); });
  }
  return provider;
}

void BM_RegistryLookup(benchmark::State& state) {
  auto provider = filledRegistry();
  const KSInstanceProvider::Maker<Thing> maker = [](KSInstanceProvider&) { return std::make_shared<Thing>(); };
  for (auto _ : state) {
    auto thing = provider->singleton<Thing>("KSSingleton7", maker);
    benchmark::DoNotOptimize(thing);
  }
}
BENCHMARK(BM_RegistryLookup)->ThreadRange(1, 8);

void BM_SharedAccessor(benchmark::State& state) {
  auto provider = filledRegistry();
  KSInstanceProvider::setSharedProvider(provider);
  for (auto _ : state) {
    auto configurator = KSConfigurator::sharedConfigurator();
    benchmark::DoNotOptimize(configurator);
  }
  KSInstanceProvider::setSharedProvider(nullptr);
}
BENCHMARK(BM_SharedAccessor);

std::shared_ptr<KSConfigurator> configuredOptions() {
  auto c = KSConfigurator::create({}, {});
  c->setUserOptions({{std::string(velmora::kestrine::KSOptionCacheRefreshTimeIntervalInSeconds), "7200"},
                     {std::string(velmora::kestrine::KSOptionScanInBackground), "YES"}});
  c->setRemoteOptions({{std::string(velmora::kestrine::KSOptionMaximumDailyBackgroundUsageInMinutes), "90"}});
  return c;
}

void BM_OptionReadBool(benchmark::State& state) {
  auto c = configuredOptions();
  for (auto _ : state) benchmark::DoNotOptimize(c->scanInBackground());
}
BENCHMARK(BM_OptionReadBool)->ThreadRange(1, 8);

void BM_OptionReadInterval(benchmark::State& state) {
  auto c = configuredOptions();
  for (auto _ : state) benchmark::DoNotOptimize(c->cacheRefreshTimeInterval());
}
BENCHMARK(BM_OptionReadInterval);

void BM_OptionReadDailyUsage(benchmark::State& state) {
  auto c = configuredOptions();
  for (auto _ : state) benchmark::DoNotOptimize(c->maximumDailyBackgroundUsageInMinutes());
}
BENCHMARK(BM_OptionReadDailyUsage);

}  // namespace

int main(int argc, char** argv) {
  // Unwired ports are logged at debug level; keep them out of the report.
  velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
