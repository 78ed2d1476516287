// A paged beacon fetch from the loopback cloud fake: 1,000 beacons as 10 pages of 100, walked
// by the paginator through the API client (session manager, JSON serializer, completion
// queue) with every item imported as a beacon record; beside it the same 10 pages fetched by
// hand with one reused libcurl handle, parsed and imported the same way. The raw run goes
// first; the paginator's run reports its rate as a share of the raw one ("ratio_to_raw").
// Run: build/default/bench/api_paging_bench
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fmt/format.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSPaginator.h"
#include "beacons/model/KSBeacon.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/BeaconCloudFake.h"

namespace {

using velmora::platform::Value;

constexpr int kPages = 10;
constexpr int kPerPage = 100;
constexpr int kBeacons = kPages * kPerPage;
constexpr int kIterations = 20;

velmora::testing::BeaconCloudFake& cloud() {
  static velmora::testing::BeaconCloudFake* fake = [] {
    velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
    auto* f = new velmora::testing::BeaconCloudFake();
    velmora::platform::Array items;
    for (int i = 0; i < kBeacons; ++i) {
      const std::string n = std::to_string(i);
      items.push_back(Value::makeDict({{"id", "beacon-" + n},
                                       {"serialNumber", "SN" + n},
                                       {"bluetoothAddress", fmt::format("AA:BB:CC:DD:{:02X}:{:02X}", i / 256, i % 256)},
                                       {"proximityUUIDString", "F7826DA6-4FA2-4E98-8024-BC5B71E0893E"},
                                       {"major", i % 65536},
                                       {"minor", (i * 7) % 65536},
                                       {"name", "Beacon " + n},
                                       {"siteID", "site-" + std::to_string(i % 20)},
                                       {"createdAt", "2024-05-01T12:30:00Z"}}));
    }
    f->putList("beacons", "beacons", std::move(items));
    return f;
  }();
  return *fake;
}

// Imports a page's items as beacon records; answers how many imported.
int importBeacons(const Value& items) {
  int imported = 0;
  if (const velmora::platform::Array* array = items.array()) {
    for (const auto& item : *array) {
      if (velmora::kestrine::KSBeacon::initWithDictionary(item)) ++imported;
    }
  }
  return imported;
}

double gRawBeaconsPerSecond = 0;

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void BM_RawCurlPages(benchmark::State& state) {
  const std::string base = cloud().baseUrl();
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  int imported = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (int page = 1; page <= kPages; ++page) {
      body.clear();
      const std::string url = fmt::format("{}beacons?page={}&perPage={}", base, page, kPerPage);
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("GET failed");
      auto reply = velmora::platform::json::parse(body);
      if (reply) imported += importBeacons((*reply)["beacons"]);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  curl_easy_cleanup(curl);
  gRawBeaconsPerSecond = imported / seconds;
  state.counters["beacons_per_s"] = gRawBeaconsPerSecond;
}
BENCHMARK(BM_RawCurlPages)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PaginatorPages(benchmark::State& state) {
  auto scheduler = std::make_shared<velmora::platform::dispatch::ThreadScheduler>();
  velmora::platform::dispatch::Scheduler::setShared(scheduler);
  auto client = velmora::kestrine::KSApiClient::create(cloud().baseUrl(), scheduler);
  std::mutex mutex;
  std::condition_variable finished;
  int imported = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    bool done = false;
    velmora::kestrine::KSPaginator::loadAllPagesForPath(
        "beacons", Value(),
        [&](const Value& items, const std::shared_ptr<velmora::kestrine::KSPaginator>& paginator) {
          const int n = importBeacons(items);
          std::lock_guard lock(mutex);
          imported += n;
          if (!paginator->walkContinues()) {
            done = true;
            finished.notify_one();
          }
        },
        [&](const velmora::platform::Error&) {
          std::lock_guard lock(mutex);
          done = true;
          finished.notify_one();
        },
        client);
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done; });
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = imported / seconds;
  state.counters["beacons_per_s"] = rate;
  state.counters["ratio_to_raw"] = gRawBeaconsPerSecond > 0 ? rate / gRawBeaconsPerSecond : 0;
  if (imported != kBeacons * kIterations) state.SkipWithError("the walk did not import every beacon");
  client.reset();
  velmora::platform::dispatch::Scheduler::setShared(nullptr);
}
BENCHMARK(BM_PaginatorPages)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
