#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/api/KSApiClient.h"
#include "beacons/model/KSModelClock.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/BeaconCloudFake.h"

namespace velmora::testing {

// The cloud fake, a virtual scheduler installed as the shared one (and as the records' clock),
// and a client on the two.
// HTTP goes over loopback on real threads; completions land on the client's queue, which
// runs when the test drives the scheduler (drain).
struct ApiTestWorld {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler = std::make_shared<platform::dispatch::VirtualScheduler>(
      platform::Date::fromReferenceSeconds(736'000'000));
  BeaconCloudFake cloud;
  std::shared_ptr<kestrine::KSApiClient> client;

  explicit ApiTestWorld(double requestTimeoutSeconds = 10) {
    platform::dispatch::Scheduler::setShared(scheduler);
    // The records' cache dates read the same virtual clock.
    kestrine::KSModelClock::setClock(scheduler->clock());
    client = kestrine::KSApiClient::create(cloud.baseUrl(), scheduler,
                                           {.defaultTimeoutSeconds = requestTimeoutSeconds});
  }
  ~ApiTestWorld() {
    client.reset();
    kestrine::KSModelClock::setClock(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  ApiTestWorld(const ApiTestWorld&) = delete;
  ApiTestWorld& operator=(const ApiTestWorld&) = delete;

  // Runs posted work (and takes the loopback replies) until the condition holds, with no
  // bound of virtual time: a call that never completes shows as the test's time-out.
  bool drainUntil(const std::function<bool()>& condition) { return scheduler->runUntil(condition); }
  // The same, giving up after the bound of virtual time (false when the condition still fails).
  bool drainUntil(const std::function<bool()>& condition, double boundSeconds) {
    return scheduler->runUntil(condition, boundSeconds);
  }
  void drain() { scheduler->runUntilIdle(); }
  platform::Date now() const { return scheduler->clock()->now(); }
};

// What a success or failure block received.
struct ApiOutcome {
  int successes = 0;
  int failures = 0;
  platform::Value object;
  std::optional<platform::Error> error;
  bool taskWasNull = false;
  int calls() const { return successes + failures; }

  kestrine::KSApiClient::SuccessBlock success() {
    return [this](const kestrine::KSApiClient::Task&, const platform::Value& v) {
      ++successes;
      object = v;
    };
  }
  kestrine::KSApiClient::FailureBlock failure() {
    return [this](const kestrine::KSApiClient::Task& task, const platform::Error& e) {
      ++failures;
      error = e;
      taskWasNull = task == nullptr;
    };
  }
  std::optional<std::int64_t> status() const {
    if (!error) return std::nullopt;
    auto it = error->userInfo.find(kestrine::KSNetworkingTaskResponseStatusCodeKey);
    if (it == error->userInfo.end()) return std::nullopt;
    return it->second.toInt64();
  }
  platform::Value retryAfter() const {
    if (!error) return {};
    auto it = error->userInfo.find(kestrine::KSNetworkingTaskResponseRetryAfterKey);
    return it == error->userInfo.end() ? platform::Value() : it->second;
  }
};

}  // namespace velmora::testing
