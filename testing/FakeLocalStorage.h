#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "platform/core/Value.h"

namespace velmora::kestrine::testing {

// A stored row held in memory: attributes by key (a key path is kept as its whole text),
// a log of every write in order, and a context that can be taken away. A "KSBeacon" row
// with a text "serialNumber" converts to a beacon with that serial number and the row's
// "syncStatus".
class FakeStoredRow : public KSStoredRow {
 public:
  explicit FakeStoredRow(std::string entity, platform::Dict attributes = {})
      : entity_(std::move(entity)), attributes_(std::move(attributes)) {}

  std::string entityName() const override { return entity_; }
  bool hasContext() const override { return hasContext_; }
  void performBlockAndWait(const std::function<void()>& work) override {
    ++depth_;
    ++blocks;
    work();
    --depth_;
  }
  platform::Value valueForKey(std::string_view keyPath) const override {
    auto it = attributes_.find(std::string(keyPath));
    return it == attributes_.end() ? platform::Value() : it->second;
  }
  void setValueForKey(platform::Value value, std::string_view keyPath) override {
    writesOutsideContext += depth_ == 0 ? 1 : 0;
    writes.emplace_back(std::string(keyPath), value);
    if (value.isAbsent()) {
      attributes_.erase(std::string(keyPath));
    } else {
      attributes_[std::string(keyPath)] = std::move(value);
    }
  }
  std::shared_ptr<KSBeacon> toBeacon() const override {
    if (entity_ != KSBeaconEntityName) return nullptr;
    const platform::Value serialValue = valueForKey("serialNumber");
    const std::string* serial = serialValue.string();
    if (!serial) return nullptr;
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setSerialNumber(*serial);
    if (auto status = valueForKey("syncStatus").toInt64()) beacon->setSyncStatus(*status);
    return beacon;
  }

  void loseContext() { hasContext_ = false; }
  const platform::Dict& attributes() const { return attributes_; }

  std::vector<std::pair<std::string, platform::Value>> writes;
  int blocks = 0;
  int writesOutsideContext = 0;

 private:
  std::string entity_;
  platform::Dict attributes_;
  bool hasContext_ = true;
  int depth_ = 0;
};

// The local store as the records see it: rows per entity, answered at once on the calling
// thread. A fetch or count keeps the rows that meet every condition of the predicate
// (equality and inequality only; sort descriptors are recorded, not applied); with `error`
// set every fetch and count fails with it. Every request is recorded in order.
class FakeLocalStorage : public KSLocalStoragePort {
 public:
  void fetchRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                    const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                    RowsHandler success, FailureHandler failure) override {
    entities.push_back(entity);
    predicates.push_back(predicate);
    sorts.push_back(sortDescriptors);
    if (error) {
      if (failure) failure(*error);
      return;
    }
    if (success) success(matching(entity, predicate));
  }
  void countRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                    CountHandler success, FailureHandler failure) override {
    entities.push_back(entity);
    predicates.push_back(predicate);
    if (error) {
      if (failure) failure(*error);
      return;
    }
    if (success) success(matching(entity, predicate).size());
  }

  Rows matching(const std::string& entity, const std::optional<KSStorePredicate>& predicate) const {
    Rows out;
    auto it = rows.find(entity);
    if (it == rows.end()) return out;
    for (const auto& row : it->second) {
      if (matches(*row, predicate)) out.push_back(row);
    }
    return out;
  }
  static bool matches(const KSStoredRow& row, const std::optional<KSStorePredicate>& predicate) {
    if (!predicate) return true;
    for (const auto& c : predicate->conditions) {
      const bool equal = row.valueForKey(c.key) == c.value;
      if ((c.op == KSStoreCondition::Op::Equal && !equal) || (c.op == KSStoreCondition::Op::NotEqual && equal)) return false;
    }
    return true;
  }

  std::map<std::string, Rows> rows;
  std::optional<platform::Error> error;
  std::vector<std::string> entities;
  std::vector<std::optional<KSStorePredicate>> predicates;
  std::vector<std::optional<std::vector<KSSortDescriptor>>> sorts;
};

}  // namespace velmora::kestrine::testing
