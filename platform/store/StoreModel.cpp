#include "platform/store/StoreModel.h"

#include <fmt/format.h>

#include <set>

namespace velmora::platform::store {

std::string_view attributeTypeName(AttributeType type) {
  switch (type) {
    case AttributeType::Int16: return "INT16";
    case AttributeType::UInt16: return "UINT16";
    case AttributeType::Int32: return "INT32";
    case AttributeType::Int64: return "INT64";
    case AttributeType::Decimal: return "DECIMAL";
    case AttributeType::Double: return "DOUBLE";
    case AttributeType::Float: return "FLOAT";
    case AttributeType::String: return "TEXT";
    case AttributeType::Boolean: return "BOOLEAN";
    case AttributeType::Date: return "DATE";
  }
  return "TEXT";
}

const Attribute* Entity::attribute(std::string_view n) const {
  for (const auto& a : attributes) {
    if (a.name == n) return &a;
  }
  return nullptr;
}

const Relationship* Entity::relationship(std::string_view n) const {
  for (const auto& r : relationships) {
    if (r.name == n) return &r;
  }
  return nullptr;
}

const Entity* Model::entity(std::string_view name) const {
  for (const auto& e : entities_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

Entity* Model::mutableEntity(std::string_view name) {
  for (auto& e : entities_) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

bool Model::relate(std::string_view parent, std::string_view toManyEnd, DeleteRule rule, std::string_view child,
                   std::string_view toOneEnd) {
  Entity* p = mutableEntity(parent);
  Entity* c = mutableEntity(child);
  if (p == nullptr || c == nullptr) return false;
  p->relationships.push_back({std::string(toManyEnd), std::string(child), true, rule, std::string(toOneEnd)});
  c->relationships.push_back(
      {std::string(toOneEnd), std::string(parent), false, DeleteRule::Nullify, std::string(toManyEnd)});
  return true;
}

std::string Model::validate() const {
  std::set<std::string> names;
  for (const auto& e : entities_) {
    if (e.name.empty() || !names.insert(e.name).second) return fmt::format("duplicate or empty entity '{}'", e.name);
    std::set<std::string> props;
    for (const auto& a : e.attributes) {
      if (a.name.empty() || a.name == "id" || !props.insert(a.name).second) {
        return fmt::format("bad attribute '{}' on {}", a.name, e.name);
      }
    }
    for (const auto& r : e.relationships) {
      if (r.name.empty() || r.name == "id" || !props.insert(r.name).second) {
        return fmt::format("bad relationship '{}' on {}", r.name, e.name);
      }
      const Entity* d = entity(r.destination);
      if (d == nullptr) return fmt::format("{}.{} points at unknown entity {}", e.name, r.name, r.destination);
      const Relationship* inv = d->relationship(r.inverse);
      if (inv == nullptr || inv->inverse != r.name || inv->destination != e.name || inv->toMany == r.toMany) {
        return fmt::format("{}.{} needs an inverse of the other kind on {}", e.name, r.name, r.destination);
      }
    }
  }
  return {};
}

std::string Model::description() const {
  std::string out;
  for (const auto& e : entities_) {
    out += fmt::format("entity {}\n", e.name);
    for (const auto& a : e.attributes) {
      out += fmt::format("  attr {} {}{}{}\n", a.name, attributeTypeName(a.type), a.optional ? "" : " required",
                         a.indexed ? " indexed" : "");
    }
    for (const auto& r : e.relationships) {
      out += fmt::format("  rel {} {} {} {} {}\n", r.name, r.toMany ? "many" : "one", r.destination,
                         r.deleteRule == DeleteRule::Cascade ? "cascade" : "nullify", r.inverse);
    }
  }
  return out;
}

std::string Model::hash() const {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : description()) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return fmt::format("{:016x}", h);
}

}  // namespace velmora::platform::store
