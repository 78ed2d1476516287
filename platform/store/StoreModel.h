#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform::store {

// How an attribute's values are kept. Integers are stored at full 64-bit width whatever
// their declared width; floats are rounded through a 32-bit float when written; dates are
// kept as whole microseconds, exactly.
enum class AttributeType { Int16, UInt16, Int32, Int64, Decimal, Double, Float, String, Boolean, Date };

std::string_view attributeTypeName(AttributeType type);

struct Attribute {
  std::string name;
  AttributeType type = AttributeType::String;
  bool optional = true;
  bool indexed = false;
};

// What deleting the owner does to the rows on the other end of a relationship.
enum class DeleteRule { Nullify, Cascade };

// One end of a relationship. Every relationship is a pair: a to-one end, which the store
// keeps as a foreign-key column on its entity, and a to-many end on the destination. The
// to-many end's delete rule decides the column's ON DELETE action (CASCADE or SET NULL).
struct Relationship {
  std::string name;
  std::string destination;
  bool toMany = false;
  DeleteRule deleteRule = DeleteRule::Nullify;
  std::string inverse;
};

struct Entity {
  std::string name;
  std::vector<Attribute> attributes;        // in column order
  std::vector<Relationship> relationships;  // to-one ends become columns after the attributes

  const Attribute* attribute(std::string_view name) const;
  const Relationship* relationship(std::string_view name) const;
};

// A store schema as data: entities with typed attributes and relationships.
class Model {
 public:
  Model() = default;
  explicit Model(std::vector<Entity> entities) : entities_(std::move(entities)) {}

  const std::vector<Entity>& entities() const { return entities_; }
  std::vector<Entity>& entities() { return entities_; }
  const Entity* entity(std::string_view name) const;

  // Empty when the model is sound: unique names, no attribute called "id", every
  // relationship paired with an inverse of the other kind on its destination. Otherwise
  // the first fault found.
  std::string validate() const;

  // A canonical text of everything that shapes the tables, and its 64-bit FNV-1a hash as
  // 16 hex digits. Two models with the same description make the same schema.
  std::string description() const;
  std::string hash() const;

  // Adds both ends of a relationship: `toOneEnd` on `child` pointing at `parent`, and
  // `toManyEnd` on `parent` with `rule` (what deleting a parent does to its children).
  // The to-one end nullifies. Both entities must already be in the model.
  bool relate(std::string_view parent, std::string_view toManyEnd, DeleteRule rule, std::string_view child,
              std::string_view toOneEnd);

 private:
  Entity* mutableEntity(std::string_view name);
  std::vector<Entity> entities_;
};

}  // namespace velmora::platform::store
