#include "beacons/model/KSCategory.h"

#include <algorithm>

#include "beacons/foundation/StringAdditions.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSCategory::jsonClass() {
  using C = KSCategory;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<C>("KSCategory", [](auto& c) {
    c.keyMapper({{"id", "categoryID"}});
    c.allOptional();
    c.whitelist({"categoryID", "name", "categoryTypeID", "teamID", "categoryType", "customValues"});
    c.text("categoryID", &C::categoryID, &C::setCategoryID);
    c.text("name", &C::name, &C::setName);
    c.text("teamID", &C::teamID, &C::setTeamID);
    c.scalar("categoryTypeID", &C::categoryTypeID, &C::setCategoryTypeID);
    c.scalar("categoryType", &C::categoryType, &C::setCategoryType);
    c.records("customValues", &C::customValues, &C::setCustomValues);
  });
  return cls;
}

std::optional<std::string> KSCategory::categoryID() const {
  std::lock_guard lock(mutex_);
  return categoryID_;
}
void KSCategory::setCategoryID(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  categoryID_ = std::move(v);
}
std::optional<std::string> KSCategory::name() const {
  std::lock_guard lock(mutex_);
  return name_;
}
void KSCategory::setName(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  name_ = std::move(v);
}
std::optional<std::string> KSCategory::teamID() const {
  std::lock_guard lock(mutex_);
  return teamID_;
}
void KSCategory::setTeamID(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  teamID_ = std::move(v);
}
std::optional<std::int64_t> KSCategory::categoryTypeID() const {
  std::lock_guard lock(mutex_);
  return categoryTypeID_;
}
void KSCategory::setCategoryTypeID(std::optional<std::int64_t> v) {
  std::lock_guard lock(mutex_);
  categoryTypeID_ = v;
}

std::uint64_t KSCategory::categoryType() const {
  std::lock_guard lock(mutex_);
  if (!categoryTypeID_) return 0;
  return static_cast<std::uint64_t>(static_cast<std::int32_t>(*categoryTypeID_));
}
void KSCategory::setCategoryType(std::uint64_t v) {
  std::lock_guard lock(mutex_);
  categoryTypeID_ = static_cast<std::int32_t>(v);
}

std::optional<KSCategory::CustomValues> KSCategory::customValues() const {
  std::lock_guard lock(mutex_);
  return customValues_;
}

void KSCategory::setCustomValues(std::optional<CustomValues> v) {
  // The map is built before taking the lock; the list and the map are then swapped in together.
  std::optional<CustomValueMap> map;
  if (v && !v->empty()) {
    map.emplace();
    for (const auto& pair : *v) {
      if (!pair) continue;
      const auto& key = pair->key();
      const auto& value = pair->value();
      if (key && value) (*map)[*key] = *value;
    }
  }
  std::lock_guard lock(mutex_);
  customValues_ = std::move(v);
  customValueForKey_ = std::move(map);
}

std::optional<KSCategory::CustomValueMap> KSCategory::customValueForKey() const {
  std::lock_guard lock(mutex_);
  return customValueForKey_;
}

bool KSCategory::hasCustomValueKey(const std::function<bool(const std::string&)>& test) const {
  std::lock_guard lock(mutex_);
  if (!customValueForKey_ || !test) return false;
  for (const auto& [key, value] : *customValueForKey_) {
    if (test(key)) return true;
  }
  return false;
}

std::pair<std::optional<KSCategory::CustomValues>, std::optional<KSCategory::CustomValueMap>> KSCategory::customValuesAndMap()
    const {
  std::lock_guard lock(mutex_);
  return {customValues_, customValueForKey_};
}

std::shared_ptr<KSCategory> KSCategory::copy() const {
  auto c = std::make_shared<KSCategory>();
  std::optional<CustomValues> values;
  {
    std::lock_guard lock(mutex_);
    c->categoryID_ = categoryID_;
    c->name_ = name_;
    c->teamID_ = teamID_;
    // The same type id: absent stays absent, and one past 32 bits keeps all its bits (only
    // categoryType reads it as 32 bits).
    c->categoryTypeID_ = categoryTypeID_;
    values = customValues_;
  }
  if (values) {
    // Each pair copied; a missing pair is left out, as the generic copy leaves it out.
    CustomValues own;
    own.reserve(values->size());
    for (const auto& pair : *values) {
      if (pair) own.push_back(pair->copy());
    }
    values = std::move(own);
  }
  c->setCustomValues(std::move(values));
  return c;
}

std::string KSCategory::description() const { return name().value_or(std::string()); }

namespace category_array {

std::vector<std::shared_ptr<KSCategory>> filteredCategoryArrayUsingCategoryType(
    const std::vector<std::shared_ptr<KSCategory>>& categories, std::uint64_t categoryType) {
  std::vector<std::shared_ptr<KSCategory>> out;
  for (const auto& category : categories) {
    if (category && category->categoryType() == categoryType) out.push_back(category);
  }
  return out;
}

std::vector<std::shared_ptr<KSCategory>> sortedCategoryArrayUsingNameAscending(
    const std::vector<std::shared_ptr<KSCategory>>& categories, bool ascending) {
  // Names are read once: another thread may rename a category while the sort runs.
  std::vector<std::pair<std::optional<std::string>, std::shared_ptr<KSCategory>>> keyed;
  keyed.reserve(categories.size());
  for (const auto& category : categories) keyed.emplace_back(category ? category->name() : std::nullopt, category);
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;  // nullopt orders before any text
  });
  std::vector<std::shared_ptr<KSCategory>> out;
  out.reserve(keyed.size());
  for (auto& entry : keyed) out.push_back(std::move(entry.second));
  return out;
}

std::shared_ptr<KSCategory> categoryWithCategoryType(const std::vector<std::shared_ptr<KSCategory>>& categories,
                                                     std::uint64_t categoryType, std::string_view name) {
  for (const auto& category : categories) {
    if (!category || category->categoryType() != categoryType) continue;
    const auto categoryName = category->name();
    if (categoryName && string_additions::isEqualIgnoringCase(*categoryName, name)) return category;
  }
  return nullptr;
}

}  // namespace category_array

}  // namespace velmora::kestrine
