#pragma once

#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::kestrine {

// A filter over stored rows that the local store can run: conditions on row attributes,
// all of which must hold. The store turns it into its own query language.
struct KSStoreCondition {
  enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };
  std::string key;
  Op op = Op::Equal;
  platform::Value value;

  friend bool operator==(const KSStoreCondition&, const KSStoreCondition&) = default;
};

struct KSStorePredicate {
  std::vector<KSStoreCondition> conditions;

  // This predicate AND "syncStatus != status". Unlike a query language's nil predicate, an
  // empty predicate narrowed this way still filters.
  KSStorePredicate withoutSyncStatus(std::int64_t status) const {
    KSStorePredicate out = *this;
    out.conditions.push_back({"syncStatus", KSStoreCondition::Op::NotEqual, platform::Value(status)});
    return out;
  }

  friend bool operator==(const KSStorePredicate&, const KSStorePredicate&) = default;
};

struct KSSortDescriptor {
  std::string key;
  bool ascending = true;

  friend bool operator==(const KSSortDescriptor&, const KSSortDescriptor&) = default;
};

}  // namespace velmora::kestrine
