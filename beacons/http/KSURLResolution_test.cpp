#include "beacons/http/KSURLResolution.h"

#include <gtest/gtest.h>

namespace velmora::kestrine {
namespace {

TEST(KSURLResolutionTest, BaseURLGetsATrailingSlashOnlyAfterANonEmptyPath) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"http://127.0.0.1:8080/api", "http://127.0.0.1:8080/api/"},
      {"http://127.0.0.1:8080/api/", "http://127.0.0.1:8080/api/"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/"},
      {"https://cloud.example/v2/api?key=1", "https://cloud.example/v2/api/?key=1"},
      {"not a url", std::nullopt},
      {"/api", std::nullopt},
  };
  for (const auto& [base, normalized] : cases) EXPECT_EQ(KSNormalizedBaseURL(base), normalized) << base;
}

TEST(KSURLResolutionTest, RelativeStringsResolveAgainstTheBase) {
  const std::optional<std::string> api = "http://127.0.0.1:8080/api/";
  const struct {
    const char* url;
    std::optional<std::string> base;
    std::optional<std::string> resolved;
  } cases[] = {
      {"beacons", api, "http://127.0.0.1:8080/api/beacons"},
      {"beacons/12", api, "http://127.0.0.1:8080/api/beacons/12"},
      {"/beacons", api, "http://127.0.0.1:8080/beacons"},  // a leading slash leaves the base path
      {"../beacons", api, "http://127.0.0.1:8080/beacons"},
      {"", api, "http://127.0.0.1:8080/api/"},
      {"beacons?modifiedAfter=2024-05-01%2012%3A30%3A00%20%2B0000&page=2", api,
       "http://127.0.0.1:8080/api/beacons?modifiedAfter=2024-05-01%2012%3A30%3A00%20%2B0000&page=2"},
      {"https://other.example/x", api, "https://other.example/x"},
      {"beacons", "http://127.0.0.1:8080/api", "http://127.0.0.1:8080/beacons"},  // unnormalized base
      {"http://127.0.0.1:9/x", std::nullopt, "http://127.0.0.1:9/x"},
      {"beacons", std::nullopt, std::nullopt},
      {"http://[::1", api, std::nullopt},
      {"beacons", "garbage", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(KSResolveURL(c.url, c.base), c.resolved) << c.url;
}

}  // namespace
}  // namespace velmora::kestrine
