#include "beacons/foundation/KSMutableDictionary.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora::kestrine {
namespace {

using Dictionary = KSMutableDictionary<std::string, int>;

TEST(KSMutableDictionaryTest, SetReplacesAndAbsentKeysReadAsNothing) {
  Dictionary d;
  EXPECT_EQ(d.count(), 0u);
  EXPECT_EQ(d.objectForKey("a"), std::nullopt);
  d.setObject(1, "a");
  d.setObject(2, "b");
  d.setObject(3, "a");
  EXPECT_EQ(d.objectForKey("a"), 3);
  EXPECT_EQ(d.objectForKey(std::string_view("b")), 2);
  EXPECT_EQ(d.count(), 2u);
  EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(d.allValues(), (std::vector<int>{3, 2}));
}

TEST(KSMutableDictionaryTest, RemovalsTakeOnlyTheirKeys) {
  Dictionary d;
  for (int i = 0; i < 4; ++i) d.setObject(i, std::string(1, static_cast<char>('a' + i)));
  const auto keysBefore = d.allKeys();
  d.removeObjectForKey("b");
  d.removeObjectForKey("zz");
  EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"a", "c", "d"}));
  d.removeObjectsForKeys({"a", "d", "missing"});
  EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"c"}));
  d.removeAllObjects();
  EXPECT_EQ(d.count(), 0u);
  EXPECT_EQ(keysBefore.size(), 4u) << "snapshots stay as they were";
}

// A value whose release reads the dictionary it leaves: releasing it under the dictionary's
// write lock would deadlock.
TEST(KSMutableDictionaryTest, ReplacedAndRemovedValuesAreReleasedAfterTheLock) {
  KSMutableDictionary<std::string, std::shared_ptr<int>> d;
  std::vector<std::size_t> seen;
  auto readsOnRelease = [&] {
    return std::shared_ptr<int>(new int(0), [&](int* p) {
      delete p;
      seen.push_back(d.count());
    });
  };
  d.setObject(readsOnRelease(), "t");
  d.setObject(readsOnRelease(), "t");  // replaces: the first one goes
  d.removeObjectForKey("t");
  d.setObject(readsOnRelease(), "u");
  d.removeAllObjects();
  EXPECT_EQ(seen, (std::vector<std::size_t>{1, 0, 0}));
}

}  // namespace
}  // namespace velmora::kestrine
