#include "testing/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velmora::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace velmora::testing
