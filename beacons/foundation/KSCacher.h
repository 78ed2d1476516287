#pragma once

#include <optional>

#include "platform/core/Clock.h"
#include "platform/core/Date.h"

// The cache-expiry test of cached lists (the cacher category).
namespace velmora::kestrine::cacher {

// How long a cached list stays fresh: 30 minutes.
inline constexpr double kCacheLifetimeSeconds = 1800.0;

// True when there is no date, or when it lies more than 30 minutes (strictly) before the
// clock's now; a date in the future has not expired.
bool hasCacheExpiredForObjectsCachedAt(std::optional<platform::Date> cachedAt, const platform::Clock& clock);

}  // namespace velmora::kestrine::cacher
