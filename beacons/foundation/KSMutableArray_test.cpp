#include "beacons/foundation/KSMutableArray.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

using Ints = std::vector<int>;

TEST(KSMutableArrayTest, ReadsOfAnEmptyArrayAnswerNothing) {
  KSMutableArray<int> array;
  EXPECT_EQ(array.count(), 0u);
  EXPECT_EQ(array.firstObject(), std::nullopt);
  EXPECT_EQ(array.lastObject(), std::nullopt);
  EXPECT_TRUE(array.copy().empty());
  EXPECT_EQ(KSMutableArray<int>::arrayWithArray({})->count(), 0u);
}

TEST(KSMutableArrayTest, WritesChangeTheElementsAsTheirNamesSay) {
  struct Case {
    const char* name;
    std::function<void(KSMutableArray<int>&)> write;
    Ints expected;
  };
  const std::vector<Case> cases = {
      {"addObject", [](auto& a) { a.addObject(9); }, {1, 2, 3, 2, 9}},
      {"addObjectsFromArray", [](auto& a) { a.addObjectsFromArray({7, 8}); }, {1, 2, 3, 2, 7, 8}},
      {"insertObject at 0", [](auto& a) { a.insertObject(0, 0); }, {0, 1, 2, 3, 2}},
      {"insertObject at count", [](auto& a) { a.insertObject(5, 4); }, {1, 2, 3, 2, 5}},
      {"removeObject removes every equal element", [](auto& a) { a.removeObject(2); }, {1, 3}},
      {"removeObject of an absent one", [](auto& a) { a.removeObject(42); }, {1, 2, 3, 2}},
      {"removeLastObject", [](auto& a) { a.removeLastObject(); }, {1, 2, 3}},
      {"removeObjectAtIndex", [](auto& a) { a.removeObjectAtIndex(1); }, {1, 3, 2}},
      {"removeObjectsAtIndexes", [](auto& a) { a.removeObjectsAtIndexes({0, 3}); }, {2, 3}},
      {"removeObjectsInRange", [](auto& a) { a.removeObjectsInRange(1, 2); }, {1, 2}},
      {"removeAllObjects", [](auto& a) { a.removeAllObjects(); }, {}},
      {"setMutableArray", [](auto& a) { a.setMutableArray({4}); }, {4}},
  };
  for (const auto& c : cases) {
    KSMutableArray<int> array(Ints{1, 2, 3, 2});
    c.write(array);
    EXPECT_EQ(array.copy(), c.expected) << c.name;
    EXPECT_EQ(array.count(), c.expected.size()) << c.name;
  }
}

TEST(KSMutableArrayTest, BadIndexesAndRangesChangeNothingAndAreReported) {
  const std::vector<std::pair<const char*, std::function<void(KSMutableArray<int>&)>>> cases = {
      {"insertObject past count", [](auto& a) { a.insertObject(1, 4); }},
      {"removeObjectAtIndex", [](auto& a) { a.removeObjectAtIndex(3); }},
      {"removeObjectsAtIndexes", [](auto& a) { a.removeObjectsAtIndexes({0, 3}); }},
      {"removeObjectsInRange", [](auto& a) { a.removeObjectsInRange(2, 2); }},
      {"removeObjectsInRange overflowing", [](auto& a) { a.removeObjectsInRange(1, SIZE_MAX); }},
      {"objectAtIndex", [](auto& a) { EXPECT_EQ(a.objectAtIndex(3), std::nullopt); }},
      {"subarrayWithRange", [](auto& a) { EXPECT_TRUE(a.subarrayWithRange(3, 1).empty()); }},
  };
  for (const auto& [name, call] : cases) {
    KSMutableArray<int> array(Ints{1, 2, 3});
    const auto before = platform::programmingErrorCount();
    call(array);
    EXPECT_EQ(array.copy(), (Ints{1, 2, 3})) << name;
    EXPECT_EQ(platform::programmingErrorCount(), before + 1) << name;
  }
  KSMutableArray<int> empty;
  empty.removeLastObject();
  EXPECT_EQ(empty.count(), 0u);
}

TEST(KSMutableArrayTest, SnapshotsAreUnaffectedByLaterWrites) {
  KSMutableArray<std::string> array(std::vector<std::string>{"a", "b", "c"});
  const auto copy = array.copy();
  const auto sub = array.subarrayWithRange(1, 2);
  array.removeAllObjects();
  EXPECT_EQ(copy, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(sub, (std::vector<std::string>{"b", "c"}));
}

TEST(KSMutableArrayTest, AWriteIsSeenByReadsOnOtherThreadsOnceItReturned) {
  KSMutableArray<int> array;
  array.addObject(7);
  EXPECT_EQ(array.count(), 1u);
  bool seen = false;
  std::thread([&] { seen = array.containsObject(7); }).join();
  EXPECT_TRUE(seen);
}

struct Record {
  int id;
  std::string label;
  bool isEqual(const Record& other) const { return id == other.id; }
};
struct Plain {
  int id;
};

TEST(KSMutableArrayTest, SharedObjectsCompareByTheirEqualityElseByIdentity) {
  KSMutableArray<std::shared_ptr<Record>> records;
  records.addObject(std::make_shared<Record>(Record{1, "x"}));
  records.addObject(std::make_shared<Record>(Record{1, "y"}));
  records.addObject(nullptr);
  EXPECT_TRUE(records.containsObject(std::make_shared<Record>(Record{1, "z"})));
  EXPECT_TRUE(records.containsObject(nullptr));
  records.removeObject(std::make_shared<Record>(Record{1, "z"}));
  EXPECT_EQ(records.count(), 1u);

  KSMutableArray<std::shared_ptr<Plain>> plain;
  auto kept = std::make_shared<Plain>(Plain{1});
  plain.addObject(kept);
  EXPECT_FALSE(plain.containsObject(std::make_shared<Plain>(Plain{1})));
  EXPECT_TRUE(plain.containsObject(kept));
}

}  // namespace
}  // namespace velmora::kestrine
