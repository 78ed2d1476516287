#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/core/Clock.h"

namespace velmora::platform::net {
class URLCache;
}

namespace velmora::kestrine {

// The process's shared URL cache, which the SDK's URL sessions use: 2 MiB of replies in
// memory and 100 MiB on disk, in the user's cache folder (platform::net::URLCache::
// defaultDiskDirectory()), so fresh replies outlive the process. Without such a folder
// (no HOME) the cache keeps replies in memory only.
class KSCachePolicy {
 public:
  static constexpr std::size_t kMemoryCapacity = 2'097'152;
  static constexpr std::size_t kDiskCapacity = 104'857'600;

  // Made on first use and kept for the rest of the process.
  static std::shared_ptr<platform::net::URLCache> sharedURLCache();
  // A cache of the shared cache's capacities with its disk tier in `directory` (none when
  // nullopt).
  static std::shared_ptr<platform::net::URLCache> makeURLCache(std::optional<std::filesystem::path> directory,
                                                              std::shared_ptr<platform::Clock> clock = nullptr);
};

}  // namespace velmora::kestrine
