// Benchmarks of the beacon layer's concurrency building blocks.
// Run: build/default/bench/beacons_foundation_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/foundation/KSMutableArray.h"
#include "beacons/foundation/KSMutableDictionary.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace {

using namespace velmora::kestrine;

class RangeListener {
 public:
  virtual ~RangeListener() = default;
  virtual void listenerDidRange(std::vector<std::string> /*beacons*/) {}
  virtual void listenerDidStop() {}
};

class CountingListener : public RangeListener {
 public:
  std::size_t seen = 0;
  void listenerDidRange(std::vector<std::string> beacons) override { seen += beacons.size(); }
};

// One ranging-pass-sized message (20 beacon identifiers) sent to 5 listeners and delivered on
// their queues: the copy per listener, the posting and the call.
void BM_MulticastOneMessageToFiveDelegates(benchmark::State& state) {
  velmora::platform::dispatch::VirtualScheduler scheduler;
  auto queue = scheduler.makeSerialQueue("listeners");
  KSGCDMulticastDelegate<RangeListener> multicast;
  std::vector<std::shared_ptr<CountingListener>> listeners;
  for (int i = 0; i < 5; ++i) {
    listeners.push_back(std::make_shared<CountingListener>());
    multicast.addDelegate(listeners.back(), queue);
  }
  std::vector<std::string> beacons;
  for (int i = 0; i < 20; ++i) beacons.push_back("beacon-" + std::to_string(i));
  for (auto _ : state) {
    multicast.invoke(&RangeListener::listenerDidRange, beacons);
    scheduler.runUntilIdle();
  }
  benchmark::DoNotOptimize(listeners.front()->seen);
  state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(BM_MulticastOneMessageToFiveDelegates);

// Readers of one shared array while thread 0 keeps writing to it.
void BM_ArrayReadUnderContention(benchmark::State& state) {
  // Filled once, before any thread reads it (static initialisation is serialised).
  static auto& array = *[] {
    auto* a = new KSMutableArray<std::shared_ptr<int>>;
    for (int i = 0; i < 64; ++i) a->addObject(std::make_shared<int>(i));
    return a;
  }();
  auto probe = std::make_shared<int>(-1);
  std::size_t i = 0;
  for (auto _ : state) {
    if (state.thread_index() == 0) {
      array.addObject(probe);
      array.removeLastObject();
    } else {
      benchmark::DoNotOptimize(array.objectAtIndex(i++ % 32));
      benchmark::DoNotOptimize(array.count());
    }
  }
}
BENCHMARK(BM_ArrayReadUnderContention)->Threads(2)->Threads(4)->UseRealTime();

// Readers of one shared dictionary while thread 0 keeps writing to it.
void BM_DictionaryReadUnderContention(benchmark::State& state) {
  static auto& dictionary = *[] {
    auto* d = new KSMutableDictionary<std::string, int>;
    for (int i = 0; i < 64; ++i) d->setObject(i, "key-" + std::to_string(i));
    return d;
  }();
  std::vector<std::string> keys;
  for (int i = 0; i < 64; ++i) keys.push_back("key-" + std::to_string(i));
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& key = keys[i++ % keys.size()];
    if (state.thread_index() == 0) {
      dictionary.setObject(static_cast<int>(i), key);
    } else {
      benchmark::DoNotOptimize(dictionary.objectForKey(key));
    }
  }
}
BENCHMARK(BM_DictionaryReadUnderContention)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
