#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "beacons/model/KSLocalStoragePort.h"
#include "platform/core/Value.h"

namespace kestrine::testing {

// A stored row held in memory: attributes by key (a key path is kept as its whole text),
// a log of every write in order, and a context that can be taken away.
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
// thread; with `error` set every fetch and count fails with it. Keeps the last request.
class FakeLocalStorage : public KSLocalStoragePort {
 public:
  void fetchRecordsForEntitiesNamed(std::string_view entityName, const platform::store::Predicate& predicate,
                                    const std::vector<platform::store::SortDescriptor>& sortDescriptors,
                                    FetchSuccess success, Failure failure) override {
    lastEntity = std::string(entityName);
    lastPredicate = predicate;
    lastSortDescriptors = sortDescriptors;
    if (error) {
      if (failure) failure(*error);
      return;
    }
    if (success) success(rows[lastEntity]);
  }
  void countRecordsForEntitiesNamed(std::string_view entityName, const platform::store::Predicate& predicate,
                                    CountSuccess success, Failure failure) override {
    lastEntity = std::string(entityName);
    lastPredicate = predicate;
    if (error) {
      if (failure) failure(*error);
      return;
    }
    if (success) success(rows[lastEntity].size());
  }

  std::map<std::string, Rows> rows;
  std::optional<platform::Error> error;
  std::string lastEntity;
  platform::store::Predicate lastPredicate;
  std::vector<platform::store::SortDescriptor> lastSortDescriptors;
};

}  // namespace kestrine::testing
