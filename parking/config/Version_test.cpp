#include "parking/config/Version.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

// The library's answer is the release the headers were made for, and the numbers spell it.
TEST(Version, LibraryAndHeadersNameTheSameRelease) {
  EXPECT_EQ(version(), kVersionString);
  EXPECT_EQ(std::string(version()), fmt::format("{}.{}.{}", kVersionMajor, kVersionMinor, kVersionPatch));
  EXPECT_EQ(version(), VELMORA_PROJECT_VERSION);
}

}  // namespace
}  // namespace velmora
