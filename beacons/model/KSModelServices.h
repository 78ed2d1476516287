#pragma once

#include <memory>
#include <optional>

#include "platform/core/Clock.h"

namespace kestrine::model_services {

// The clock the records' cache tests and cache stamps read: the shared registry's
// scheduler's (the virtual clock in tests), else the system clock.
std::shared_ptr<platform::Clock> clock();
// True when the cache date is missing or older than the 30-minute cache lifetime.
bool hasCacheExpired(const std::optional<platform::Date>& cachedAt);

}  // namespace kestrine::model_services
