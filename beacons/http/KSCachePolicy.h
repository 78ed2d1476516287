#pragma once

#include <cstddef>
#include <memory>

namespace velmora::platform::net {
class URLCache;
}

namespace velmora::kestrine {

// The process's shared URL cache, which the SDK's URL sessions use. Replies are kept in
// memory only (2 MiB); the disk capacity is kept as a figure for callers that ask for it.
class KSCachePolicy {
 public:
  static constexpr std::size_t kMemoryCapacity = 2'097'152;
  static constexpr std::size_t kDiskCapacity = 104'857'600;

  // Made on first use and kept for the rest of the process.
  static std::shared_ptr<platform::net::URLCache> sharedURLCache();
};

}  // namespace velmora::kestrine
