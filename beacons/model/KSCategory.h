#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSCustomValue.h"

namespace velmora::kestrine {

// A named group of beacons, defined by the platform (type 1) or by a team (type 2), with its
// own custom values and a key-to-value map of them for fast lookup. Ranging and the event
// filters read categories on their own queues while a sync may replace their values, so
// every field is read and written under the record's lock, and the custom values and their
// map are always replaced together.
class KSCategory : public KSJSONRecord<KSCategory> {
 public:
  using CustomValues = std::vector<std::shared_ptr<KSCustomValue>>;
  using CustomValueMap = std::map<std::string, std::string>;

  static const KSJSONModelClass& jsonClass();

  std::optional<std::string> categoryID() const;
  void setCategoryID(std::optional<std::string> v);
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> v);
  std::optional<std::string> teamID() const;
  void setTeamID(std::optional<std::string> v);
  std::optional<std::int64_t> categoryTypeID() const;
  void setCategoryTypeID(std::optional<std::int64_t> v);
  // categoryTypeID read as a 32-bit integer (0 when unset); setting it sets categoryTypeID.
  std::uint64_t categoryType() const;
  void setCategoryType(std::uint64_t v);

  // A copy of the list (the pairs themselves are shared).
  std::optional<CustomValues> customValues() const;
  // Keeps a copy of the list and rebuilds customValueForKey from it.
  void setCustomValues(std::optional<CustomValues> v);
  // Each pair's key to its value, a later pair overriding an earlier one; pairs without a
  // key or a value add nothing. Absent while the list is absent or empty.
  std::optional<CustomValueMap> customValueForKey() const;
  // Whether the map has a key that passes the test, read in place under the lock (no copy of
  // the map); the test must not call back into this category.
  bool hasCustomValueKey(const std::function<bool(const std::string&)>& test) const;
  // The list and its map read together, as one consistent pair.
  std::pair<std::optional<CustomValues>, std::optional<CustomValueMap>> customValuesAndMap() const;

  // A copy with its own pairs and map, made field by field under one lock: the same record
  // as the generic property-by-property copy (copyModel), at a fraction of its cost. Beacon
  // copies, which the smoothing filters make on every pass, copy their categories this way.
  std::shared_ptr<KSCategory> copy() const;

  // The name (empty when it is not set).
  std::string description() const override;

 private:
  mutable std::recursive_mutex mutex_;
  std::optional<std::string> categoryID_, name_, teamID_;
  std::optional<std::int64_t> categoryTypeID_;
  std::optional<CustomValues> customValues_;
  std::optional<CustomValueMap> customValueForKey_;
};

// Queries over a list of categories; each gives a new list and leaves the input unchanged.
namespace category_array {

std::vector<std::shared_ptr<KSCategory>> filteredCategoryArrayUsingCategoryType(
    const std::vector<std::shared_ptr<KSCategory>>& categories, std::uint64_t categoryType);

// By name; a category without a name sorts before every named one when ascending. Categories
// with equal names keep their order.
std::vector<std::shared_ptr<KSCategory>> sortedCategoryArrayUsingNameAscending(
    const std::vector<std::shared_ptr<KSCategory>>& categories, bool ascending);

// The first category of that type whose name equals the text ignoring letter case.
std::shared_ptr<KSCategory> categoryWithCategoryType(const std::vector<std::shared_ptr<KSCategory>>& categories,
                                                     std::uint64_t categoryType, std::string_view name);

}  // namespace category_array

}  // namespace velmora::kestrine
