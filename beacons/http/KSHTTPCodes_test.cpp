#include "beacons/http/KSHTTPCodes.h"

#include <gtest/gtest.h>

namespace velmora::kestrine {
namespace {

TEST(KSHTTPCodes, QuotedRowsFallbacksAndUnknownCodes) {
  struct Case {
    std::int64_t code;
    const char* text;
  };
  const Case cases[] = {
      {201, "The request has been fulfilled and resulted in a new resource being created."},
      {400, "The request cannot be fulfilled due to bad syntax."},
      {407, "The client must first authenticate itself with the proxy."},
      {411, "The request did not specify the length of its content, which is required by the requested resource."},
      {423, "The resource that is being accessed is locked."},
      {522, "The server connection timed out."},
      {1, "Undefined 1XX status code"},
      {3, "Undefined 3XX status code"},
      {5, "Undefined 5XX status code"},
      {421, "Unknown status code: 421"},
      {600, "Unknown status code: 600"},
      {0, "Unknown status code: 0"},
      {-1, "Unknown status code: 18446744073709551615"},
  };
  for (const Case& c : cases) EXPECT_EQ(KSHTTPCodes::descriptionForCode(c.code), c.text) << c.code;

  EXPECT_EQ(KSHTTPCodes::tableSize(), 83u);
  // Every listed code has a text of its own; second meanings sit under the code times ten.
  for (std::int64_t code : {100, 102, 209, 306, 308, 418, 420, 424, 451, 499, 511, 598, 599, 4200, 4240, 4510}) {
    const std::string text = KSHTTPCodes::descriptionForCode(code);
    EXPECT_FALSE(text.starts_with("Unknown")) << code;
    EXPECT_FALSE(text.starts_with("Undefined")) << code;
  }
  EXPECT_NE(KSHTTPCodes::descriptionForCode(420), KSHTTPCodes::descriptionForCode(4200));
  EXPECT_NE(KSHTTPCodes::descriptionForCode(451), KSHTTPCodes::descriptionForCode(4510));
}

}  // namespace
}  // namespace velmora::kestrine
