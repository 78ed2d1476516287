// Records of one class imported and exported from several threads at once, starting with
// the first use of the class: the property table, the shared date formats, the global key
// mapper and a function mapper's memo are all reached concurrently.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "beacons/foundation/KSJSONModelTestRecords.h"

namespace velmora::kestrine {
namespace {

using testrecords::TestRecord;

TEST(KSJSONModelThreads, ConcurrentFirstUseImportAndExport) {
  auto mapper = KSJSONKeyMapper::mapperFromUnderscoreCaseToCamelCase();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        auto r = TestRecord::initWithString(R"({"title":"t","id":"x","when":"2014-05-06T10:20:30+01:00","site":{"name":"s"}})");
        if (!r || !r->toJSONString() || !r->copy()) ++failures;
        if (mapper->convertValue("addressLine" + std::to_string(i % 5), true).empty()) ++failures;
        if (t == 0 && i == 25) KSJSONModel::setGlobalKeyMapper(KSJSONKeyMapper::initWithDictionary({{"other", "name"}}));
      }
    });
  }
  for (auto& th : threads) th.join();
  KSJSONModel::setGlobalKeyMapper(nullptr);
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace velmora::kestrine
