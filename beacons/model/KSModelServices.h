#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>
#include <optional>

#include "beacons/model/KSApiClientPort.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine::model_services {

// True when the cache date is missing or older than the 30-minute cache lifetime, by the
// model clock.
bool hasCacheExpired(const std::optional<platform::Date>& cachedAt);
// Runs the work later on the platform main queue (at once when there is no scheduler).
void postToMainQueue(std::function<void()> work);

void logSkippedItem(std::string_view what, const platform::Error& error);

inline constexpr std::string_view kNoApiClientErrorDomain = "com.kestrine.KSApiClient";
// The registered cloud API client. With none, the call cannot be made: the failure block
// (when given) hears so later on the main queue, so every call still completes once.
std::shared_ptr<KSApiClientPort> apiClientOrFail(const std::function<void(const platform::Error&)>& failure);
// Tells the failure block (when given), later on the main queue, that no cloud API client is
// configured, so the call it belongs to still completes once.
void failForMissingApiClient(const std::function<void(const platform::Error&)>& failure);

// Imports each object of a page as a record of class T; an item that does not import is
// logged and skipped, the rest kept in order.
template <class T>
std::vector<std::shared_ptr<T>> importPage(const platform::Array& items, std::string_view what) {
  std::vector<std::shared_ptr<T>> out;
  out.reserve(items.size());
  for (const auto& item : items) {
    platform::Error error;
    if (auto record = T::initWithDictionary(item, &error)) {
      out.push_back(std::move(record));
    } else {
      logSkippedItem(what, error);
    }
  }
  return out;
}

}  // namespace velmora::kestrine::model_services
