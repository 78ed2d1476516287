// Speed of the parking layer: a blocking call over loopback beside a bare libcurl POST of the
// same body (their ratio is the runner's overhead), and the decoding and encoding of the
// larger records.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fmt/format.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "parking/carpark_api/BeaconPayloadRequest.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/service/DateDecoding.h"
#include "parking/service/RecordCodec.h"
#include "parking/user_api/StatusRequest.h"
#include "parking/user_api/StatusResult.h"
#include "parking/user_api/UserAPI.h"
#include "platform/net/URLSession.h"
#include "testing/ParkingServiceFake.h"

namespace {

using namespace velmora;

std::string lanesJson(int lanes, int beaconsPerLane) {
  std::string out = "[";
  for (int l = 0; l < lanes; ++l) {
    if (l) out += ",";
    std::string beacons;
    for (int b = 0; b < beaconsPerLane; ++b) {
      if (b) beacons += ",";
      beacons += fmt::format(R"({{"laneBeaconId":{},"beaconId":"6A3F2C1E-8B4D-4E7A-9C2B-5D1E0F3A7B94:{}:{}"}})",
                             l * 100 + b, l, b);
    }
    out += fmt::format(
        R"({{"laneId":{},"laneType":{},"laneGroupId":3,"laneGroupDelay":5,"detectionType":1,"minRSSI":-85,)"
        R"("minDetectionSecs":2,"maxDetectionSecs":30,"retrySecs":10,"sortOrder":{},"name":"Lane {}",)"
        R"("shortName":"L{}","beaconSensitivity":-90,"laneSensitivity":4,"laneBeacons":[{}]}})",
        l + 1, l % 2 + 1, l + 1, l + 1, l + 1, beacons);
  }
  return out + "]";
}

void BM_BlockingStatusCallOverLoopback(benchmark::State& state) {
  testing::ParkingServiceFake fake;
  VelmoraSDKConfig::setServerName(fake.baseUrl());
  for (auto _ : state) {
    StatusResult r = UserAPI::status();
    benchmark::DoNotOptimize(r);
    if (r.result != "Success") state.SkipWithError("status call failed");
  }
}
BENCHMARK(BM_BlockingStatusCallOverLoopback)->UseRealTime();

size_t discard(char*, size_t size, size_t n, void*) { return size * n; }

// The same exchange done by hand with libcurl: the floor the runner is measured against.
void BM_RawCurlPostSameBody(benchmark::State& state) {
  testing::ParkingServiceFake fake;
  const std::string url = fake.baseUrl() + "/v4.0/user/status";
  const std::string body = *encodeRecordJSON(StatusRequest());
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Accept: application/json");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 0L);
  for (auto _ : state) {
    if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("curl failed");
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
}
BENCHMARK(BM_RawCurlPostSameBody)->UseRealTime();

// The blocking status call and the raw libcurl POST of the same body, interleaved in one
// loop so that both see the same load on the machine; "ratio" is the call's time over the
// raw POST's (1.0 would be no overhead at all).
void BM_BlockingCallOverRawCurlRatio(benchmark::State& state) {
  testing::ParkingServiceFake fake;
  VelmoraSDKConfig::setServerName(fake.baseUrl());
  const std::string url = fake.baseUrl() + "/v4.0/user/status";
  const std::string body = *encodeRecordJSON(StatusRequest());
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Accept: application/json");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
  using Clock = std::chrono::steady_clock;
  Clock::duration raw{}, call{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("curl failed");
    const auto t1 = Clock::now();
    StatusResult r = UserAPI::status();
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(r);
    if (r.result != "Success") state.SkipWithError("status call failed");
    raw += t1 - t0;
    call += t2 - t1;
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  const double n = static_cast<double>(state.iterations());
  const auto us = [&](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count() / n; };
  state.counters["raw_us"] = us(raw);
  state.counters["call_us"] = us(call);
  state.counters["ratio"] = us(call) / us(raw);
}
BENCHMARK(BM_BlockingCallOverRawCurlRatio)->UseRealTime();

// The same exchange through the URL session alone, waited for on a condition variable: the
// transport's share of the runner's time.
void BM_URLSessionPostSameBody(benchmark::State& state) {
  testing::ParkingServiceFake fake;
  platform::net::URLRequest request{.url = fake.baseUrl() + "/v4.0/user/status",
                                    .method = "POST",
                                    .headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}},
                                    .body = *encodeRecordJSON(StatusRequest())};
  auto session = platform::net::URLSession::shared();
  std::mutex mutex;
  std::condition_variable done;
  for (auto _ : state) {
    bool finished = false;
    bool ok = false;
    session
        ->dataTask(request,
                   [&](std::optional<std::string>, std::optional<platform::net::HTTPURLResponse> response,
                       std::optional<platform::Error>) {
                     std::lock_guard lock(mutex);
                     ok = response && response->statusCode == 200;
                     finished = true;
                     done.notify_one();
                   })
        ->resume();
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (!ok) state.SkipWithError("request failed");
  }
}
BENCHMARK(BM_URLSessionPostSameBody)->UseRealTime();

// The same exchange as a synchronous request of the URL session, on the calling thread.
void BM_URLSessionSynchronousPostSameBody(benchmark::State& state) {
  testing::ParkingServiceFake fake;
  const platform::net::URLRequest request{
      .url = fake.baseUrl() + "/v4.0/user/status",
      .method = "POST",
      .headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}},
      .body = *encodeRecordJSON(StatusRequest())};
  auto session = platform::net::URLSession::shared();
  for (auto _ : state) {
    const auto reply = session->sendSynchronousRequest(request);
    if (!reply.response || reply.response->statusCode != 200) state.SkipWithError("request failed");
  }
}
BENCHMARK(BM_URLSessionSynchronousPostSameBody)->UseRealTime();

void BM_DecodeStatusReplyWithLanes(benchmark::State& state) {
  const std::string body = fmt::format(
      R"({{"result":"Success","message":"","accountType":"Casual","emailConfirmed":true,"accessStatus":"Active",)"
      R"("inCarPark":true,"isNested":false,"entryTime":"2026-12-09T08:16:02","entryTimeUTC":"2026-12-08T21:16:02.125",)"
      R"("serverTime":"2026-12-09T08:15:30.250+1100","carParkId":17,"carParkName":"Harbour Street","lanes":{}}})",
      lanesJson(6, 3));
  for (auto _ : state) {
    auto r = decodeRecordJSON<StatusResult>(body, nullptr, &statusDateRule());
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeStatusReplyWithLanes);

void BM_DecodeCarParkDetails20x4(benchmark::State& state) {
  const std::string body = fmt::format(
      R"({{"result":"Success","message":"","carParkId":17,"carParkName":"Harbour Street","availableSpaces":42,)"
      R"("homeCarPark":true,"lanes":{}}})",
      lanesJson(20, 4));
  for (auto _ : state) {
    auto r = decodeRecordJSON<DetailsResult>(body);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_DecodeCarParkDetails20x4);

void BM_EncodeBeaconPayload50Items(benchmark::State& state) {
  BeaconPayloadRequest request;
  request.inCarPark = true;
  request.carParkID = 17;
  request.laneID = 101;
  request.timestampUTC = platform::Date::fromReferenceSeconds(818500000.25);
  std::vector<BeaconPayloadItem> items;
  for (int i = 0; i < 50; ++i) {
    BeaconPayloadItem item;
    item.laneID = 100 + i % 5;
    item.closest = i == 0;
    item.rssi = -60 - i % 20;
    for (int b = 0; b < 3; ++b) {
      BeaconPayloadDetail d;
      d.beaconID = fmt::format("6A3F2C1E-8B4D-4E7A-9C2B-5D1E0F3A7B94:{}:{}", i, b);
      d.beaconName = "Beacon";
      d.rssi = -60 - b;
      d.accuracy = 1.25 + b;
      item.details.push_back(d);
    }
    items.push_back(item);
  }
  request.items = items;
  for (auto _ : state) {
    auto text = encodeRecordJSON(request);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_EncodeBeaconPayload50Items);

}  // namespace

BENCHMARK_MAIN();
