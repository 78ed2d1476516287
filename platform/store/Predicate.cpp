#include "platform/store/Predicate.h"

namespace velmora::platform::store {

Predicate Predicate::compare(std::string keyPath, Op op, Value value) {
  auto n = std::make_shared<Node>();
  n->kind = Kind::Compare;
  n->keyPath = std::move(keyPath);
  n->op = op;
  n->value = std::move(value);
  return Predicate(std::move(n));
}

Predicate Predicate::compareKeyPaths(std::string keyPath, Op op, std::string otherKeyPath) {
  auto n = std::make_shared<Node>();
  n->kind = Kind::CompareKeyPaths;
  n->keyPath = std::move(keyPath);
  n->op = op;
  n->otherKeyPath = std::move(otherKeyPath);
  return Predicate(std::move(n));
}

Predicate Predicate::anyMember(std::string toManyKeyPath, Predicate member) {
  auto n = std::make_shared<Node>();
  n->kind = Kind::AnyMember;
  n->keyPath = std::move(toManyKeyPath);
  n->children.push_back(std::move(member));
  return Predicate(std::move(n));
}

namespace {
Predicate::Node joined(Predicate::Kind kind, std::vector<Predicate>& parts) {
  Predicate::Node n;
  n.kind = kind;
  for (auto& p : parts) {
    if (!p.isNone()) n.children.push_back(std::move(p));
  }
  return n;
}
}  // namespace

Predicate Predicate::allOf(std::vector<Predicate> parts) {
  Node n = joined(Kind::And, parts);
  if (n.children.empty()) return Predicate();
  if (n.children.size() == 1) return n.children.front();
  return Predicate(std::make_shared<Node>(std::move(n)));
}

Predicate Predicate::anyOf(std::vector<Predicate> parts) {
  // "None" matches every row, and so does any OR it takes part in.
  for (const auto& p : parts) {
    if (p.isNone()) return Predicate();
  }
  Node n = joined(Kind::Or, parts);
  if (n.children.empty()) {
    auto f = std::make_shared<Node>();
    f->kind = Kind::False;
    return Predicate(std::move(f));
  }
  if (n.children.size() == 1) return n.children.front();
  return Predicate(std::make_shared<Node>(std::move(n)));
}

Predicate Predicate::negate(Predicate p) {
  auto n = std::make_shared<Node>();
  n->kind = Kind::Not;
  n->children.push_back(std::move(p));
  return Predicate(std::move(n));
}

}  // namespace velmora::platform::store
