#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/store/Predicate.h"
#include "platform/store/StoreModel.h"
#include "platform/store/StoreSql.h"

namespace SQLite {
class Database;
class Statement;
}  // namespace SQLite

namespace velmora::platform::store {

// Errors of the object store.
namespace storeerror {
inline constexpr std::string_view kDomain = "platform.store";
enum Code : std::int64_t {
  kOpen = 1,        // the file could not be opened or its schema set up
  kQuery = 2,       // a statement failed, or a predicate or key did not resolve
  kValidation = 3,  // a save found a required attribute empty, or a value did not fit
  kWrongQueue = 4,  // the connection was used off its queue
};
}  // namespace storeerror

// The identity of one stored row: its entity and its row id. Row ids grow with every
// insert, so ordering by them is insertion order, and an id is never handed out twice, not
// after its row was deleted nor after the insert was rolled back: an identity kept after
// its row went names no row, never another one.
struct ObjectID {
  const Entity* entity = nullptr;
  std::int64_t pk = 0;

  bool valid() const { return entity != nullptr; }
  friend bool operator==(const ObjectID& a, const ObjectID& b) { return a.entity == b.entity && a.pk == b.pk; }
  friend bool operator<(const ObjectID& a, const ObjectID& b) {
    return a.entity != b.entity ? std::less<const Entity*>()(a.entity, b.entity) : a.pk < b.pk;
  }
};

// A fetched row: its identity and, unless the fetch skipped them, its attribute values by
// name (an empty attribute is absent) and each to-one relationship's row id by name.
struct Row {
  ObjectID id;
  Dict values;

  const Value& operator[](std::string_view key) const { return values.count(key) ? values.find(key)->second : empty(); }

 private:
  static const Value& empty();
};

// One value written under an attribute or to-one relationship name: the light form of a
// Dict entry for writes. The key is a view (names live in the model or in literals), and a
// list of fields keeps the order given and makes no nodes. Each key may appear once.
struct Field {
  std::string_view key;
  Value value;
};

struct FetchRequest {
  std::string entity;
  Predicate predicate;
  std::vector<SortDescriptor> sort;  // always ends on insertion order
  std::int64_t offset = 0;
  std::int64_t limit = 0;  // 0: no limit
  bool includesPropertyValues = true;
};

// The unit of work on the store's one connection. Every write runs at once inside a
// transaction the first write opens, so fetches and counts see unsaved changes; save()
// checks the required attributes of the rows written since the last save and commits,
// and a save that fails is logged and rolled back as a whole, so the next unit of work
// starts clean. Deletes follow the relationships' rules through the foreign keys.
//
// The context belongs to the store's queue: every call made off it is reported as a
// programming error and refused (it fails as a query would).
class StoreContext {
 public:
  StoreContext(const Model& model, SQLite::Database& db, std::function<bool()> onQueue);
  ~StoreContext();
  StoreContext(const StoreContext&) = delete;
  StoreContext& operator=(const StoreContext&) = delete;

  const Model& model() const { return model_; }

  // Inserts a row with the given values (attributes by name, to-one relationships by the
  // related row id); nullopt with *error when a key or value does not fit.
  std::optional<ObjectID> insert(std::string_view entity, const Dict& values = {}, Error* error = nullptr);
  // The same from a list of fields, in their order.
  std::optional<ObjectID> insertRow(std::string_view entity, std::span<const Field> fields, Error* error = nullptr);
  // Sets the given keys of a row; an absent or null value clears the key.
  bool update(ObjectID row, const Dict& values, Error* error = nullptr);
  bool updateRow(ObjectID row, std::span<const Field> fields, Error* error = nullptr);
  bool setValue(ObjectID row, std::string_view key, const Value& value, Error* error = nullptr);
  // Links `child` through its to-one relationship to `parent`, or unlinks it (nullopt).
  bool setRelated(ObjectID child, std::string_view toOne, std::optional<ObjectID> parent, Error* error = nullptr);
  bool remove(ObjectID row, Error* error = nullptr);

  bool exists(ObjectID row);
  // A row's values, or nullopt when it is gone.
  std::optional<Dict> values(ObjectID row, Error* error = nullptr);
  Value value(ObjectID row, std::string_view key);
  std::optional<ObjectID> relatedOne(ObjectID row, std::string_view toOne);
  // The rows on a to-many relationship, in insertion order.
  std::vector<ObjectID> relatedMany(ObjectID row, std::string_view toMany);
  // The identity of row `pk` of an entity (no lookup).
  std::optional<ObjectID> objectID(std::string_view entity, std::int64_t pk) const;

  std::optional<std::vector<Row>> fetch(const FetchRequest& request, Error* error = nullptr);
  std::optional<std::int64_t> count(std::string_view entity, const Predicate& predicate, Error* error = nullptr);
  // The oldest row whose attribute `key` equals `value` (nil: is empty), as a fetch of
  // `key == value` with limit 1 would find it, through one statement kept per entity and key:
  // the lookup an upsert makes before every write.
  std::optional<ObjectID> firstObjectID(std::string_view entity, std::string_view key, const Value& value,
                                        Error* error = nullptr);

  bool hasChanges() const { return inTransaction_; }
  // Commits the unit of work. True also when there was nothing to save.
  bool save(Error* error = nullptr);
  void rollback();

 private:
  bool checkQueue(Error* error);
  bool begin(Error* error);
  SQLite::Statement& statement(const std::string& sql);
  struct FieldRef {
    std::string_view key;
    const Value* value;
  };
  struct WriteStatement {
    std::unique_ptr<SQLite::Statement> statement;
    const Entity* entity = nullptr;
    bool updating = false;
    std::vector<std::string> keys;
    std::vector<const Attribute*> columns;  // per bound key; null for a to-one relationship
    std::size_t requiredInEntity = 0;       // required attributes of the entity
  };
  std::span<const FieldRef> refs(const Dict& values);
  std::span<const FieldRef> refs(std::span<const Field> fields);
  std::optional<ObjectID> insertRefs(std::string_view entity, std::span<const FieldRef> fields, Error* error);
  bool updateRefs(ObjectID row, std::span<const FieldRef> fields, Error* error);
  // The kept statement for writing these keys (`entity` may be null for an insert: it is
  // then found by name when the statement is first made).
  WriteStatement* writeStatement(std::string_view entityName, const Entity* entity, bool updating,
                                 std::span<const FieldRef> fields, Error* error);
  bool writeRow(WriteStatement& statement, std::optional<std::int64_t> updating, std::span<const FieldRef> fields,
                Error* error, std::int64_t* inserted = nullptr);
  // The id of a new row of the entity: one above any it ever handed out, never one again.
  bool nextRowID(const Entity& entity, std::int64_t& pk, Error* error);
  bool fail(Error* error, storeerror::Code code, std::string message);

  const Model& model_;
  SQLite::Database& db_;
  std::function<bool()> onQueue_;
  std::unordered_map<std::string, std::unique_ptr<SQLite::Statement>> statements_;
  std::unordered_map<std::string, WriteStatement> writeStatements_;
  std::array<WriteStatement*, 4> recentWrites_{};  // into writeStatements_, last used first
  std::string keyBuffer_;
  std::vector<FieldRef> fieldRefs_;
  struct LookupStatement {
    std::unique_ptr<SQLite::Statement> statement;
    const Entity* entity = nullptr;
    const Attribute* attribute = nullptr;
  };
  std::unordered_map<std::string, LookupStatement> lookupStatements_;
  bool inTransaction_ = false;
  // Rows written since the last save that may lack a required attribute, per entity, to
  // validate at the save.
  std::map<const Entity*, std::vector<std::int64_t>> touched_;
  // The last row id handed out per entity (kept through rollbacks), and the entities whose
  // last id the next save writes to the metadata.
  std::unordered_map<const Entity*, std::int64_t> lastRowIDs_;
  std::set<const Entity*> unsavedRowIDs_;
};

}  // namespace velmora::platform::store
