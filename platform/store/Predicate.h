#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::platform::store {

// A query condition as a tree, compiled to SQL with bound parameters (never with values
// spliced into the text). A default-made predicate is "none": it matches every row, and
// joining it with AND leaves the other side alone.
//
// Key paths name an attribute of the entity, or walk to-one relationships first
// ("beacon.serialNumber"). Comparisons follow the object graph's rules rather than SQL's:
// `== nil` and `!= nil` test for absence, and `!=` against a value is true for an empty
// attribute (nothing differs from 5). Ordering comparisons with an empty side are false.
class Predicate {
 public:
  enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

  Predicate() = default;

  // keyPath <op> value (value Absent or Null means nil).
  static Predicate compare(std::string keyPath, Op op, Value value);
  // keyPath <op> otherKeyPath, both on the same row ("lastPostedAt >= endedAt").
  static Predicate compareKeyPaths(std::string keyPath, Op op, std::string otherKeyPath);
  // Rows with at least one member of the to-many relationship at the end of `keyPath`
  // (to-one steps before it) that matches `member`, whose key paths start at the member.
  static Predicate anyMember(std::string toManyKeyPath, Predicate member);
  // Joins. In an AND a "none" operand is left out (an AND of nothing is none); an OR with a
  // "none" operand is none, and an OR of nothing matches no row.
  static Predicate allOf(std::vector<Predicate> parts);
  static Predicate anyOf(std::vector<Predicate> parts);
  static Predicate negate(Predicate p);

  static Predicate eq(std::string k, Value v) { return compare(std::move(k), Op::Equal, std::move(v)); }
  static Predicate ne(std::string k, Value v) { return compare(std::move(k), Op::NotEqual, std::move(v)); }
  static Predicate lt(std::string k, Value v) { return compare(std::move(k), Op::Less, std::move(v)); }
  static Predicate le(std::string k, Value v) { return compare(std::move(k), Op::LessOrEqual, std::move(v)); }
  static Predicate gt(std::string k, Value v) { return compare(std::move(k), Op::Greater, std::move(v)); }
  static Predicate ge(std::string k, Value v) { return compare(std::move(k), Op::GreaterOrEqual, std::move(v)); }

  bool isNone() const { return node_ == nullptr; }

  friend Predicate operator&&(Predicate a, Predicate b) { return allOf({std::move(a), std::move(b)}); }
  friend Predicate operator||(Predicate a, Predicate b) { return anyOf({std::move(a), std::move(b)}); }
  friend Predicate operator!(Predicate a) { return negate(std::move(a)); }

  enum class Kind { Compare, CompareKeyPaths, AnyMember, And, Or, Not, False };
  struct Node {
    Kind kind = Kind::False;
    Op op = Op::Equal;
    std::string keyPath;
    std::string otherKeyPath;
    Value value;
    std::vector<Predicate> children;
  };
  const Node* node() const { return node_.get(); }

 private:
  explicit Predicate(std::shared_ptr<const Node> n) : node_(std::move(n)) {}
  std::shared_ptr<const Node> node_;
};

struct SortDescriptor {
  std::string keyPath;
  bool ascending = true;
};

}  // namespace velmora::platform::store
