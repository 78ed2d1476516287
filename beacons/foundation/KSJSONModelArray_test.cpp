#include "beacons/foundation/KSJSONModelArray.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSJSONModelError.h"
#include "beacons/foundation/KSJSONModelTestRecords.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using testrecords::TestCategory;

class Shelf : public KSJSONRecord<Shelf> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<Shelf>("Shelf", [](auto& c) {
      c.template lazyRecords<TestCategory>("items", &Shelf::items, &Shelf::setItems).optional();
    });
    return cls;
  }
  const std::shared_ptr<KSJSONModelArray>& items() const { return items_; }
  void setItems(std::shared_ptr<KSJSONModelArray> v) { items_ = std::move(v); }

 private:
  std::shared_ptr<KSJSONModelArray> items_;
};

TEST(KSJSONModelArray, ConvertsOnReadOnceAndKeepsFailingElementsAsNil) {
  auto shelf = Shelf::initWithString(R"({"items":[{"name":"a"},{"id":"no name"},{"name":"c"}]})");
  ASSERT_NE(shelf, nullptr);
  const auto& items = *shelf->items();
  EXPECT_EQ(items.count(), 3u);
  EXPECT_TRUE(items.storage()[0].dict());  // nothing converted before a read
  auto first = items.firstObject();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first.get(), items[0].get());  // converted once, then kept
  EXPECT_TRUE(items.storage()[0].object());
  EXPECT_EQ(items[1], nullptr);
  EXPECT_EQ(items[1], nullptr);
  EXPECT_EQ(items.count(), 3u);
  EXPECT_EQ(std::static_pointer_cast<TestCategory>(items.lastObject())->name(), "c");
  EXPECT_EQ(items[7], nullptr);
  // Export writes read records through their own whitelist and the rest as they came.
  EXPECT_EQ(platform::json::write(Value(shelf->toDictionary())), R"({"items":[{"name":"a"},{"id":"no name"},{"name":"c"}]})");
  auto copy = shelf->copy();
  EXPECT_NE(copy->items().get(), shelf->items().get());
  EXPECT_NE((*copy->items())[0].get(), first.get());
  EXPECT_NE(items.description().find("<KSJSONModelArray[TestCategory]>\n"), std::string::npos);
}

TEST(KSJSONModelArray, ObjectInsteadOfArrayIsATypeMismatch) {
  platform::Error error;
  EXPECT_EQ(Shelf::initWithString(R"({"items":{"name":"a"}})", &error), nullptr);
  EXPECT_EQ(error.code, 1);
  EXPECT_TRUE(error.userInfo.contains(kKSJSONModelTypeMismatch));
}

TEST(KSJSONModelArray, IndexValueLookupNeedsAnIndexProperty) {
  KSJSONModelArray plain(*platform::json::parse(R"([{"name":"a"}])")->array(), TestCategory::jsonClass());
  EXPECT_EQ(plain.modelWithIndexValue(Value("a")), nullptr);
  KSJSONModelArray empty(platform::Array{}, TestCategory::jsonClass());
  EXPECT_EQ(empty.firstObject(), nullptr);
  EXPECT_EQ(empty.lastObject(), nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
