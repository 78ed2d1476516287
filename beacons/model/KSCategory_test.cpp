#include "beacons/model/KSCategory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

Value json(std::string_view text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(Value());
}

std::shared_ptr<KSCustomValue> pair(std::optional<std::string> key, std::optional<std::string> value) {
  auto p = std::make_shared<KSCustomValue>();
  p->setKey(std::move(key));
  p->setValue(std::move(value));
  return p;
}

std::shared_ptr<KSCategory> category(std::optional<std::string> name, std::int64_t type) {
  auto c = std::make_shared<KSCategory>();
  c->setName(std::move(name));
  c->setCategoryTypeID(type);
  return c;
}

TEST(KSCategory, CustomValueMapFollowsTheList) {
  struct Case {
    const char* name;
    std::optional<KSCategory::CustomValues> values;
    std::optional<KSCategory::CustomValueMap> map;
  };
  const std::vector<Case> cases = {
      {"absent list", std::nullopt, std::nullopt},
      {"empty list", KSCategory::CustomValues{}, std::nullopt},
      {"later duplicate wins", KSCategory::CustomValues{pair("dwell", "10"), pair("radius", "3"), pair("dwell", "20")},
       KSCategory::CustomValueMap{{"dwell", "20"}, {"radius", "3"}}},
      {"pairs without key or value add nothing",
       KSCategory::CustomValues{pair(std::nullopt, "x"), pair("k", std::nullopt), pair("", "empty key")},
       KSCategory::CustomValueMap{{"", "empty key"}}},
  };
  KSCategory c;
  c.setCustomValues(KSCategory::CustomValues{pair("stale", "1")});  // each case must replace what was there
  for (const auto& test : cases) {
    c.setCustomValues(test.values);
    EXPECT_EQ(c.customValueForKey(), test.map) << test.name;
    EXPECT_EQ(c.customValues().has_value(), test.values.has_value()) << test.name;
    // The in-place key test sees the map's keys, no more and no fewer.
    std::vector<std::string> seen;
    EXPECT_FALSE(c.hasCustomValueKey([&](const std::string& key) {
      seen.push_back(key);
      return false;
    })) << test.name;
    std::vector<std::string> keys;
    if (test.map) {
      for (const auto& [key, value] : *test.map) keys.push_back(key);
    }
    EXPECT_EQ(seen, keys) << test.name;
    EXPECT_EQ(c.hasCustomValueKey([](const std::string& key) { return key == "radius"; }),
              test.map && test.map->count("radius") > 0)
        << test.name;
  }
}

TEST(KSCategory, ImportBuildsTheMapAndExportLeavesItOut) {
  auto c = KSCategory::initWithDictionary(json(R"({"id":"c1","name":"Entrances","categoryTypeID":2,"teamID":"t",
      "customValues":[{"id":"v1","key":"dwell","value":"10"},{"id":"v2","key":"dwell","value":"30"}]})"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->categoryType(), 2u);
  EXPECT_EQ(c->customValueForKey(), (KSCategory::CustomValueMap{{"dwell", "30"}}));
  EXPECT_EQ(c->description(), "Entrances");
  EXPECT_EQ(written(Value(c->toDictionary())), written(json(R"({"id":"c1","name":"Entrances","categoryTypeID":2,
      "teamID":"t","categoryType":2,
      "customValues":[{"id":"v1","key":"dwell","value":"10"},{"id":"v2","key":"dwell","value":"30"}]})")));

  auto untyped = KSCategory::initWithDictionary(json(R"({"name":"x"})"));
  ASSERT_NE(untyped, nullptr);
  EXPECT_EQ(untyped->categoryType(), 0u);
  untyped->setCategoryType(1);
  EXPECT_EQ(untyped->categoryTypeID(), 1);
}

TEST(KSCategory, CopyOwnsItsPairsAndMap) {
  auto original = category("Lobby", 1);
  original->setCategoryID("c1");
  original->setTeamID("t");
  original->setCustomValues(KSCategory::CustomValues{pair("a", "1"), pair("b", "2")});
  auto copy = original->copy();
  ASSERT_NE(copy, original);
  EXPECT_EQ(written(Value(copy->toDictionary())), written(Value(original->toDictionary())));
  const auto mine = *original->customValues();
  const auto theirs = *copy->customValues();
  ASSERT_EQ(theirs.size(), 2u);
  for (std::size_t i = 0; i < theirs.size(); ++i) EXPECT_NE(theirs[i], mine[i]) << i;

  // Changing the original afterwards leaves the copy's list and map as they were.
  original->setCustomValues(KSCategory::CustomValues{pair("a", "changed")});
  EXPECT_EQ(copy->customValueForKey(), (KSCategory::CustomValueMap{{"a", "1"}, {"b", "2"}}));
}

// The copy is the generic property-by-property copy, for the shapes a category comes in
// (unset fields, no pairs, an empty list, a pair with holes, a type id past 32 bits), except
// that its type id is the original's: absent stays absent (no "categoryTypeID":0 in its
// export), 4294967298 is not 2.
TEST(KSCategory, CopyMatchesThePropertyCopy) {
  std::vector<std::shared_ptr<KSCategory>> cases;
  cases.push_back(std::make_shared<KSCategory>());
  cases.push_back(category("Lobby", 1));
  auto full = category("Gate", 7);
  full->setCategoryID("c9");
  full->setTeamID("t2");
  auto holed = std::make_shared<KSCustomValue>();
  holed->setKey("k");
  full->setCustomValues(KSCategory::CustomValues{pair("a", "1"), holed, nullptr, pair("a", "2")});
  cases.push_back(full);
  auto empty = category("Empty", 0);
  empty->setCustomValues(KSCategory::CustomValues{});
  cases.push_back(empty);
  for (std::int64_t id : {std::int64_t{1} << 33 | 5, std::int64_t{4294967298}, std::int64_t{-1}, INT64_MAX}) {
    auto wide = std::make_shared<KSCategory>();
    wide->setCategoryTypeID(id);
    cases.push_back(wide);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& original = cases[i];
    auto fast = original->copy();
    auto generic = std::static_pointer_cast<KSCategory>(original->copyModel());
    EXPECT_EQ(fast->categoryTypeID(), original->categoryTypeID()) << i;
    EXPECT_EQ(fast->categoryType(), original->categoryType()) << i;
    if (!original->categoryTypeID()) {
      EXPECT_EQ(written(Value(fast->toDictionary())).find("categoryTypeID"), std::string::npos) << i;
    }
    generic->setCategoryTypeID(original->categoryTypeID());
    EXPECT_EQ(written(Value(fast->toDictionary())), written(Value(generic->toDictionary()))) << i;
    EXPECT_EQ(fast->customValueForKey(), generic->customValueForKey()) << i;
    const auto mine = fast->customValues();
    const auto theirs = generic->customValues();
    ASSERT_EQ(mine.has_value(), theirs.has_value()) << i;
    if (!mine) continue;
    ASSERT_EQ(mine->size(), theirs->size()) << i;
    for (std::size_t j = 0; j < mine->size(); ++j) {
      ASSERT_EQ((*mine)[j] == nullptr, (*theirs)[j] == nullptr) << i << "/" << j;
      if (!(*mine)[j]) continue;
      EXPECT_NE((*mine)[j], (*original->customValues())[j]) << i << "/" << j;
      EXPECT_EQ((*mine)[j]->customValueID(), (*theirs)[j]->customValueID()) << i << "/" << j;
      EXPECT_EQ((*mine)[j]->key(), (*theirs)[j]->key()) << i << "/" << j;
      EXPECT_EQ((*mine)[j]->value(), (*theirs)[j]->value()) << i << "/" << j;
    }
  }
}

TEST(KSCategoryArray, FilterSortAndFind) {
  auto beta = category("beta", 2);
  auto alpha = category("Alpha", 1);
  auto unnamed = category(std::nullopt, 2);
  auto gamma = category("gamma", 2);
  const std::vector<std::shared_ptr<KSCategory>> all = {beta, alpha, unnamed, gamma};
  using List = std::vector<std::shared_ptr<KSCategory>>;

  EXPECT_EQ(category_array::filteredCategoryArrayUsingCategoryType(all, 2), (List{beta, unnamed, gamma}));
  EXPECT_EQ(category_array::filteredCategoryArrayUsingCategoryType(all, 3), List{});
  // Plain text order: upper case before lower case, no name first.
  EXPECT_EQ(category_array::sortedCategoryArrayUsingNameAscending(all, true), (List{unnamed, alpha, beta, gamma}));
  EXPECT_EQ(category_array::sortedCategoryArrayUsingNameAscending(all, false), (List{gamma, beta, alpha, unnamed}));

  EXPECT_EQ(category_array::categoryWithCategoryType(all, 1, "ALPHA"), alpha);
  EXPECT_EQ(category_array::categoryWithCategoryType(all, 2, "Alpha"), nullptr);
  EXPECT_EQ(category_array::categoryWithCategoryType(all, 2, "GAMMA"), gamma);
  EXPECT_EQ(category_array::categoryWithCategoryType(all, 2, ""), nullptr);
}

// A sync replaces a category's values while ranging and the event filters read them: a
// reader must always see a list and a map that belong together.
TEST(KSCategoryThreads, ReadersNeverSeeTheListAndMapOutOfStep) {
  auto c = category("shared", 2);
  c->setCustomValues(KSCategory::CustomValues{pair("generation", "0")});
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::atomic<int> reads{0};

  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        const auto [list, map] = c->customValuesAndMap();
        if (!list || !map || list->size() != 1 || map->at("generation") != *list->front()->value()) ++mismatches;
        (void)c->customValueForKey();
        (void)c->customValues();
        (void)c->toDictionary();
        ++reads;
      }
    });
  }
  // Keep writing until the readers have really overlapped the writes.
  int generation = 0;
  while (generation < 2000 || reads.load() < 300) {
    ++generation;
    c->setCustomValues(KSCategory::CustomValues{pair("generation", std::to_string(generation))});
    c->setName("shared " + std::to_string(generation));
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(c->customValueForKey(), (KSCategory::CustomValueMap{{"generation", std::to_string(generation)}}));
}

}  // namespace
}  // namespace velmora::kestrine
