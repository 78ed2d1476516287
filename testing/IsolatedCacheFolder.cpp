#include "testing/IsolatedCacheFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace velmora::testing {
namespace {

struct RemovedAtExit {
  std::filesystem::path path;
  ~RemovedAtExit() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

void isolateUserCacheFolder() {
  static const bool once = [] {
    std::error_code ec;
    std::string folder = (std::filesystem::temp_directory_path(ec) / "velmora-test-cache-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) return false;
    ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    static const RemovedAtExit removal{folder};
    return true;
  }();
  (void)once;
}

}  // namespace velmora::testing
