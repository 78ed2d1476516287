#include "platform/store/StoreSchema.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fmt/format.h>

#include <algorithm>
#include <sstream>

#include "platform/store/StoreSql.h"

namespace velmora::platform::store {

namespace {

std::optional<AttributeType> typeFromName(std::string_view name) {
  for (auto t : {AttributeType::Int16, AttributeType::UInt16, AttributeType::Int32, AttributeType::Int64,
                 AttributeType::Decimal, AttributeType::Double, AttributeType::Float, AttributeType::String,
                 AttributeType::Boolean, AttributeType::Date}) {
    if (attributeTypeName(t) == name) return t;
  }
  return std::nullopt;
}

// The ON DELETE action of a to-one column: the delete rule of its to-many inverse.
bool cascades(const Model& model, const Relationship& toOne) {
  const Entity* dest = model.entity(toOne.destination);
  const Relationship* inv = dest != nullptr ? dest->relationship(toOne.inverse) : nullptr;
  return inv != nullptr && inv->deleteRule == DeleteRule::Cascade;
}

bool sameAttribute(const Attribute& a, const Attribute& b) {
  return a.name == b.name && a.type == b.type && a.optional == b.optional && a.indexed == b.indexed;
}

void writeMetadata(SQLite::Database& db, const Model& model) {
  db.exec(fmt::format("CREATE TABLE IF NOT EXISTS {} (key TEXT PRIMARY KEY, value TEXT)", kMetadataTable));
  SQLite::Statement st(db, fmt::format("INSERT OR REPLACE INTO {} (key, value) VALUES (?, ?)", kMetadataTable));
  for (const auto& [k, v] : {std::pair<std::string, std::string>{"model_hash", model.hash()},
                             std::pair<std::string, std::string>{"model", model.description()}}) {
    st.bind(1, k);
    st.bind(2, v);
    st.exec();
    st.reset();
  }
}

std::vector<std::string> columnNames(SQLite::Database& db, std::string_view table) {
  std::vector<std::string> out;
  SQLite::Statement st(db, "SELECT name FROM pragma_table_info(?)");
  st.bind(1, std::string(table));
  while (st.executeStep()) out.push_back(st.getColumn(0).getString());
  return out;
}

bool hasColumns(const std::vector<std::string>& have, const std::vector<std::string>& wanted) {
  for (const auto& w : wanted) {
    if (std::find(have.begin(), have.end(), w) == have.end()) return false;
  }
  return true;
}

// Whether every entity's table is there with every column the model writes. A file whose
// metadata names this model but whose tables say otherwise cannot be used.
bool tablesMatch(SQLite::Database& db, const Model& model) {
  for (const Entity& e : model.entities()) {
    std::vector<std::string> wanted{"id"};
    for (const auto& a : e.attributes) wanted.push_back(a.name);
    for (const Relationship* r : toOneColumns(e)) wanted.push_back(r->name);
    if (!hasColumns(columnNames(db, e.name), wanted)) return false;
  }
  return true;
}

}  // namespace

std::optional<Model> modelFromDescription(const std::string& text) {
  std::vector<Entity> entities;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "entity") {
      Entity e;
      words >> e.name;
      entities.push_back(std::move(e));
    } else if (kind == "attr" && !entities.empty()) {
      Attribute a;
      std::string type, flag;
      words >> a.name >> type;
      auto t = typeFromName(type);
      if (!t) return std::nullopt;
      a.type = *t;
      while (words >> flag) {
        if (flag == "required") a.optional = false;
        if (flag == "indexed") a.indexed = true;
      }
      entities.back().attributes.push_back(std::move(a));
    } else if (kind == "rel" && !entities.empty()) {
      Relationship r;
      std::string many, rule;
      words >> r.name >> many >> r.destination >> rule >> r.inverse;
      r.toMany = many == "many";
      r.deleteRule = rule == "cascade" ? DeleteRule::Cascade : DeleteRule::Nullify;
      entities.back().relationships.push_back(std::move(r));
    } else if (!kind.empty()) {
      return std::nullopt;
    }
  }
  Model m(std::move(entities));
  if (!m.validate().empty()) return std::nullopt;
  return m;
}

bool isAdditiveChange(const Model& older, const Model& newer) {
  for (const Entity& oe : older.entities()) {
    const Entity* ne = newer.entity(oe.name);
    if (ne == nullptr) return false;
    for (const Attribute& na : ne->attributes) {
      const Attribute* oa = oe.attribute(na.name);
      if (oa == nullptr ? !na.optional : !sameAttribute(*oa, na)) return false;
    }
    for (const Attribute& oa : oe.attributes) {
      if (ne->attribute(oa.name) == nullptr) return false;
    }
    // Existing foreign-key columns stay as they are; new ones (to a new entity, say) are
    // added empty.
    for (const Relationship* oc : toOneColumns(oe)) {
      const Relationship* nc = ne->relationship(oc->name);
      if (nc == nullptr || nc->toMany || nc->destination != oc->destination ||
          cascades(older, *oc) != cascades(newer, *nc)) {
        return false;
      }
    }
  }
  return true;
}

SchemaResult prepareSchema(SQLite::Database& db, const Model& model) {
  std::vector<std::string> tables;
  {
    SQLite::Statement st(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'");
    while (st.executeStep()) tables.push_back(st.getColumn(0).getString());
  }
  if (tables.empty()) {
    SQLite::Transaction tx(db);
    for (const Entity& e : model.entities()) {
      for (const auto& sql : createTableStatements(model, e)) db.exec(sql);
    }
    writeMetadata(db, model);
    tx.commit();
    return SchemaResult::Created;
  }
  if (!db.tableExists(std::string(kMetadataTable))) return SchemaResult::Incompatible;
  // A metadata table of another layout was made by something else.
  if (!hasColumns(columnNames(db, kMetadataTable), {"key", "value"})) return SchemaResult::Incompatible;
  std::string hash, description;
  {
    SQLite::Statement st(db, fmt::format("SELECT key, value FROM {}", kMetadataTable));
    while (st.executeStep()) {
      const std::string key = st.getColumn(0).getString();
      if (key == "model_hash") hash = st.getColumn(1).getString();
      if (key == "model") description = st.getColumn(1).getString();
    }
  }
  if (hash == model.hash() && description == model.description()) {
    return tablesMatch(db, model) ? SchemaResult::Current : SchemaResult::Incompatible;
  }
  auto older = modelFromDescription(description);
  if (!older || !isAdditiveChange(*older, model)) return SchemaResult::Incompatible;
  SQLite::Transaction tx(db);
  for (const Entity& ne : model.entities()) {
    const Entity* oe = older->entity(ne.name);
    if (oe == nullptr) {
      for (const auto& sql : createTableStatements(model, ne)) db.exec(sql);
      continue;
    }
    for (const Attribute& na : ne.attributes) {
      if (oe->attribute(na.name) != nullptr) continue;
      db.exec(fmt::format("ALTER TABLE {} ADD COLUMN {}", quoteIdentifier(ne.name), columnDefinition(na)));
      if (na.indexed) db.exec(indexStatement(ne, na.name));
    }
    for (const Relationship* nc : toOneColumns(ne)) {
      if (oe->relationship(nc->name) != nullptr) continue;
      db.exec(fmt::format("ALTER TABLE {} ADD COLUMN {}", quoteIdentifier(ne.name), foreignKeyColumn(model, *nc)));
      db.exec(indexStatement(ne, nc->name));
    }
  }
  // The migrated tables must be what the model writes; otherwise nothing is committed.
  if (!tablesMatch(db, model)) return SchemaResult::Incompatible;
  writeMetadata(db, model);
  tx.commit();
  return SchemaResult::Migrated;
}

}  // namespace velmora::platform::store
