#include "platform/store/StoreContext.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>

#include "platform/core/Log.h"
#include "platform/store/StoreSchema.h"

namespace velmora::platform::store {

namespace {
constexpr std::string_view kLog = "store";

void bindAll(SQLite::Statement& st, const std::vector<SqlValue>& binds, int first = 1) {
  int i = first;
  for (const auto& b : binds) {
    if (const auto* n = std::get_if<std::int64_t>(&b)) {
      st.bind(i, static_cast<int64_t>(*n));
    } else if (const auto* d = std::get_if<double>(&b)) {
      st.bind(i, *d);
    } else if (const auto* s = std::get_if<std::string>(&b)) {
      st.bind(i, *s);
    } else {
      st.bind(i);
    }
    ++i;
  }
}

SqlValue readColumn(const SQLite::Column& c) {
  switch (c.getType()) {
    case SQLITE_INTEGER: return static_cast<std::int64_t>(c.getInt64());
    case SQLITE_FLOAT: return c.getDouble();
    case SQLITE_TEXT: return c.getString();
    case SQLITE_BLOB: return c.getString();
    default: return std::monostate{};
  }
}

// Resets a cached statement when the scope ends, whatever happened.
struct ResetOnExit {
  SQLite::Statement& st;
  ~ResetOnExit() {
    st.tryReset();
    st.clearBindings();
  }
};
}  // namespace

const Value& Row::empty() {
  static const Value& absent = *new Value();
  return absent;
}

StoreContext::StoreContext(const Model& model, SQLite::Database& db, std::function<bool()> onQueue)
    : model_(model), db_(db), onQueue_(std::move(onQueue)) {}

StoreContext::~StoreContext() {
  statements_.clear();
  recentWrites_.fill(nullptr);
  writeStatements_.clear();
  lookupStatements_.clear();
  if (inTransaction_) {
    try {
      db_.exec("ROLLBACK");
    } catch (const std::exception&) {
    }
  }
}

bool StoreContext::fail(Error* error, storeerror::Code code, std::string message) {
  if (error != nullptr) *error = Error(std::string(storeerror::kDomain), code, std::move(message));
  return false;
}

bool StoreContext::checkQueue(Error* error) {
  if (!onQueue_ || onQueue_()) return true;
  reportProgrammingError("the store's connection was used off its queue");
  return fail(error, storeerror::kWrongQueue, "the store's connection was used off its queue");
}

SQLite::Statement& StoreContext::statement(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it == statements_.end()) {
    it = statements_.emplace(sql, std::make_unique<SQLite::Statement>(db_, sql)).first;
  }
  return *it->second;
}

bool StoreContext::begin(Error* error) {
  if (inTransaction_) return true;
  try {
    db_.exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
    return true;
  } catch (const std::exception& e) {
    return fail(error, storeerror::kQuery, fmt::format("could not begin a unit of work: {}", e.what()));
  }
}

std::optional<ObjectID> StoreContext::objectID(std::string_view entity, std::int64_t pk) const {
  const Entity* e = model_.entity(entity);
  if (e == nullptr) return std::nullopt;
  return ObjectID{e, pk};
}

namespace {

// Binds one written value at `index`, converted for its column (an attribute, or a to-one
// relationship when `attribute` is null). Texts are bound without a copy: the caller's
// values outlive the statement's run.
bool bindWrite(SQLite::Statement& st, int index, const Attribute* a, std::string_view key, const Value& v,
               std::string& why) {
  if (a != nullptr) {
    if (const std::string* text = v.string(); text != nullptr && a->type == AttributeType::String) {
      st.bindNoCopy(index, *text);
      return true;
    }
    SqlValue sv;
    if (!toSqlValue(*a, v, true, sv, why)) return false;
    if (const auto* n = std::get_if<std::int64_t>(&sv)) {
      st.bind(index, static_cast<int64_t>(*n));
    } else if (const auto* d = std::get_if<double>(&sv)) {
      st.bind(index, *d);
    } else {
      st.bind(index);
    }
    return true;
  }
  if (auto id = v.toInt64()) {
    st.bind(index, static_cast<int64_t>(*id));
    return true;
  }
  if (v.isAbsent() || v.isNull()) {
    st.bind(index);
    return true;
  }
  why = fmt::format("relationship '{}' takes a row id", key);
  return false;
}

}  // namespace

StoreContext::WriteStatement* StoreContext::writeStatement(std::string_view entityName, const Entity* entity,
                                                           bool updating, std::span<const FieldRef> fields,
                                                           Error* error) {
  // Statements are kept per entity and sequence of written keys; the text is made, and the
  // keys resolved against the model, only once. The few shapes used last are tried first: a
  // sync writes the same three or four shapes over and over.
  const auto sameShape = [&](const WriteStatement& ws) {
    if (ws.updating != updating || ws.keys.size() != fields.size() || ws.entity->name != entityName) return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (ws.keys[i] != fields[i].key) return false;
    }
    return true;
  };
  for (std::size_t i = 0; i < recentWrites_.size() && recentWrites_[i] != nullptr; ++i) {
    WriteStatement* ws = recentWrites_[i];
    if (sameShape(*ws)) {
      std::rotate(recentWrites_.begin(), recentWrites_.begin() + static_cast<std::ptrdiff_t>(i),
                  recentWrites_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return ws;
    }
  }
  const auto remember = [&](WriteStatement* ws) {
    std::rotate(recentWrites_.begin(), recentWrites_.end() - 1, recentWrites_.end());
    recentWrites_.front() = ws;
    return ws;
  };
  std::string& cacheKey = keyBuffer_;
  cacheKey.assign(updating ? "U:" : "I:");
  cacheKey += entityName;
  for (const FieldRef& f : fields) {
    cacheKey += '\x1f';
    cacheKey += f.key;
  }
  if (auto it = writeStatements_.find(cacheKey); it != writeStatements_.end()) return remember(&it->second);

  if (entity == nullptr) entity = model_.entity(entityName);
  if (entity == nullptr) {
    fail(error, storeerror::kQuery, fmt::format("no entity '{}'", entityName));
    return nullptr;
  }
  WriteStatement ws;
  ws.entity = entity;
  ws.updating = updating;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string_view key = fields[i].key;
    const Attribute* a = entity->attribute(key);
    const Relationship* r = entity->relationship(key);
    if (a == nullptr && (r == nullptr || r->toMany)) {
      fail(error, storeerror::kQuery, fmt::format("{} has no attribute or to-one relationship '{}'", entity->name, key));
      return nullptr;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (fields[j].key == key) {
        fail(error, storeerror::kQuery, fmt::format("'{}' is written twice to one {} row", key, entity->name));
        return nullptr;
      }
    }
    ws.columns.push_back(a);
    ws.keys.emplace_back(key);
  }
  for (const auto& a : entity->attributes) {
    if (!a.optional) ++ws.requiredInEntity;
  }
  std::string sql;
  if (updating) {
    std::string sets;
    for (const FieldRef& f : fields) sets += fmt::format("{}{} = ?", sets.empty() ? "" : ", ", quoteIdentifier(f.key));
    sql = fmt::format("UPDATE {} SET {} WHERE id = ?", quoteIdentifier(entity->name), sets);
  } else {
    // The row id is the store's to hand out (see nextRowID), bound after the values.
    std::string cols, marks;
    for (const FieldRef& f : fields) {
      cols += quoteIdentifier(f.key) + ", ";
      marks += "?, ";
    }
    sql = fmt::format("INSERT INTO {} ({}id) VALUES ({}?)", quoteIdentifier(entity->name), cols, marks);
  }
  try {
    ws.statement = std::make_unique<SQLite::Statement>(db_, sql);
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, fmt::format("writing {} failed: {}", entity->name, e.what()));
    return nullptr;
  }
  return remember(&writeStatements_.emplace(cacheKey, std::move(ws)).first->second);
}

bool StoreContext::writeRow(WriteStatement& ws, std::optional<std::int64_t> updating, std::span<const FieldRef> fields,
                            Error* error, std::int64_t* inserted) {
  SQLite::Statement& st = *ws.statement;
  ResetOnExit reset{st};
  std::string why;
  std::size_t requiredSet = 0;
  bool requiredCleared = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Attribute* column = ws.columns[i];
    const Value& v = *fields[i].value;
    if (!bindWrite(st, static_cast<int>(i) + 1, column, fields[i].key, v, why)) {
      return fail(error, storeerror::kValidation, why);
    }
    if (column != nullptr && !column->optional) {
      if (v.isAbsent() || v.isNull()) {
        requiredCleared = true;
      } else {
        ++requiredSet;
      }
    }
  }
  if (!begin(error)) return false;
  std::int64_t pk = 0;
  if (updating) {
    pk = *updating;
  } else if (!nextRowID(*ws.entity, pk, error)) {
    return false;
  }
  st.bind(static_cast<int>(fields.size()) + 1, static_cast<int64_t>(pk));
  try {
    st.exec();
  } catch (const std::exception& e) {
    return fail(error, storeerror::kQuery, fmt::format("writing {} failed: {}", ws.entity->name, e.what()));
  }
  if (inserted != nullptr) *inserted = pk;
  // A new row that got every required attribute, or an update that cleared none, cannot be
  // what makes the save fail; only the rows that may lack one are checked when saving.
  const bool mayLackRequired = updating ? requiredCleared : requiredCleared || requiredSet < ws.requiredInEntity;
  if (mayLackRequired) {
    touched_[ws.entity].push_back(pk);
  }
  return true;
}

namespace {
std::string rowIDMarkKey(const Entity& entity) { return "last_row_id:" + entity.name; }
}  // namespace

bool StoreContext::nextRowID(const Entity& entity, std::int64_t& pk, Error* error) {
  auto it = lastRowIDs_.find(&entity);
  if (it == lastRowIDs_.end()) {
    // The highest id the table holds or ever handed out (kept in the metadata by the saves):
    // a row deleted, or an insert rolled back, leaves its id behind for good.
    try {
      std::int64_t last = 0;
      SQLite::Statement top(db_, fmt::format("SELECT max(id) FROM {}", quoteIdentifier(entity.name)));
      if (top.executeStep() && !top.getColumn(0).isNull()) last = top.getColumn(0).getInt64();
      SQLite::Statement mark(db_, fmt::format("SELECT value FROM {} WHERE key = ?", kMetadataTable));
      mark.bind(1, rowIDMarkKey(entity));
      if (mark.executeStep()) last = std::max<std::int64_t>(last, mark.getColumn(0).getInt64());
      it = lastRowIDs_.emplace(&entity, last).first;
    } catch (const std::exception& e) {
      return fail(error, storeerror::kQuery, fmt::format("reading the row ids of {} failed: {}", entity.name, e.what()));
    }
  }
  pk = ++it->second;
  unsavedRowIDs_.insert(&entity);
  return true;
}

std::span<const StoreContext::FieldRef> StoreContext::refs(const Dict& values) {
  fieldRefs_.clear();
  for (const auto& [key, v] : values) fieldRefs_.push_back({key, &v});
  return fieldRefs_;
}

std::span<const StoreContext::FieldRef> StoreContext::refs(std::span<const Field> fields) {
  fieldRefs_.clear();
  for (const Field& f : fields) fieldRefs_.push_back({f.key, &f.value});
  return fieldRefs_;
}

std::optional<ObjectID> StoreContext::insertRefs(std::string_view entityName, std::span<const FieldRef> fields,
                                                 Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  WriteStatement* ws = writeStatement(entityName, nullptr, false, fields, error);
  std::int64_t pk = 0;
  if (ws == nullptr || !writeRow(*ws, std::nullopt, fields, error, &pk)) return std::nullopt;
  return ObjectID{ws->entity, pk};
}

bool StoreContext::updateRefs(ObjectID row, std::span<const FieldRef> fields, Error* error) {
  if (!checkQueue(error)) return false;
  if (!row.valid()) return fail(error, storeerror::kQuery, "no such row");
  if (fields.empty()) return true;
  WriteStatement* ws = writeStatement(row.entity->name, row.entity, true, fields, error);
  return ws != nullptr && writeRow(*ws, row.pk, fields, error);
}

std::optional<ObjectID> StoreContext::insert(std::string_view entity, const Dict& values, Error* error) {
  return insertRefs(entity, refs(values), error);
}

std::optional<ObjectID> StoreContext::insertRow(std::string_view entity, std::span<const Field> fields, Error* error) {
  return insertRefs(entity, refs(fields), error);
}

bool StoreContext::update(ObjectID row, const Dict& values, Error* error) { return updateRefs(row, refs(values), error); }

bool StoreContext::updateRow(ObjectID row, std::span<const Field> fields, Error* error) {
  return updateRefs(row, refs(fields), error);
}

bool StoreContext::setValue(ObjectID row, std::string_view key, const Value& value, Error* error) {
  Dict d;
  d.emplace(std::string(key), value.isAbsent() ? Value(null) : value);
  return update(row, d, error);
}

bool StoreContext::setRelated(ObjectID child, std::string_view toOne, std::optional<ObjectID> parent, Error* error) {
  if (!child.valid()) return fail(error, storeerror::kQuery, "no such row");
  const Relationship* r = child.entity->relationship(toOne);
  if (r == nullptr || r->toMany) {
    return fail(error, storeerror::kQuery, fmt::format("{} has no to-one relationship '{}'", child.entity->name, toOne));
  }
  if (parent && (!parent->valid() || parent->entity->name != r->destination)) {
    return fail(error, storeerror::kQuery, fmt::format("'{}' leads to {}", toOne, r->destination));
  }
  return setValue(child, toOne, parent ? Value(parent->pk) : Value(null), error);
}

bool StoreContext::remove(ObjectID row, Error* error) {
  if (!checkQueue(error)) return false;
  if (!row.valid()) return fail(error, storeerror::kQuery, "no such row");
  if (!begin(error)) return false;
  try {
    SQLite::Statement& st = statement(fmt::format("DELETE FROM {} WHERE id = ?", quoteIdentifier(row.entity->name)));
    ResetOnExit reset{st};
    st.bind(1, static_cast<int64_t>(row.pk));
    st.exec();
  } catch (const std::exception& e) {
    return fail(error, storeerror::kQuery, fmt::format("delete from {} failed: {}", row.entity->name, e.what()));
  }
  return true;
}

bool StoreContext::exists(ObjectID row) {
  if (!row.valid() || !checkQueue(nullptr)) return false;
  try {
    SQLite::Statement& st = statement(fmt::format("SELECT 1 FROM {} WHERE id = ?", quoteIdentifier(row.entity->name)));
    ResetOnExit reset{st};
    st.bind(1, static_cast<int64_t>(row.pk));
    return st.executeStep();
  } catch (const std::exception&) {
    return false;
  }
}

namespace {
std::string selectList(const Entity& e, std::string_view alias) {
  std::string out = fmt::format("{}.id", alias);
  for (const auto& a : e.attributes) out += fmt::format(", {}.{}", alias, quoteIdentifier(a.name));
  for (const Relationship* r : toOneColumns(e)) out += fmt::format(", {}.{}", alias, quoteIdentifier(r->name));
  return out;
}

Dict readValues(const Entity& e, SQLite::Statement& st) {
  Dict d;
  int col = 1;
  for (const auto& a : e.attributes) {
    Value v = fromSqlValue(a.type, readColumn(st.getColumn(col++)));
    if (!v.isAbsent()) d.emplace(a.name, std::move(v));
  }
  for (const Relationship* r : toOneColumns(e)) {
    const SQLite::Column c = st.getColumn(col++);
    if (!c.isNull()) d.emplace(r->name, Value(static_cast<std::int64_t>(c.getInt64())));
  }
  return d;
}
}  // namespace

std::optional<Dict> StoreContext::values(ObjectID row, Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  if (!row.valid()) return std::nullopt;
  try {
    SQLite::Statement& st = statement(
        fmt::format("SELECT {} FROM {} t WHERE t.id = ?", selectList(*row.entity, "t"), quoteIdentifier(row.entity->name)));
    ResetOnExit reset{st};
    st.bind(1, static_cast<int64_t>(row.pk));
    if (!st.executeStep()) return std::nullopt;
    return readValues(*row.entity, st);
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, e.what());
    return std::nullopt;
  }
}

Value StoreContext::value(ObjectID row, std::string_view key) {
  auto v = values(row);
  if (!v) return Value();
  auto it = v->find(key);
  return it == v->end() ? Value() : it->second;
}

std::optional<ObjectID> StoreContext::relatedOne(ObjectID row, std::string_view toOne) {
  if (!row.valid()) return std::nullopt;
  const Relationship* r = row.entity->relationship(toOne);
  if (r == nullptr || r->toMany) return std::nullopt;
  auto id = value(row, toOne).toInt64();
  if (!id) return std::nullopt;
  return objectID(r->destination, *id);
}

std::vector<ObjectID> StoreContext::relatedMany(ObjectID row, std::string_view toMany) {
  std::vector<ObjectID> out;
  if (!row.valid() || !checkQueue(nullptr)) return out;
  const Relationship* r = row.entity->relationship(toMany);
  if (r == nullptr || !r->toMany) return out;
  const Entity* dest = model_.entity(r->destination);
  try {
    SQLite::Statement& st = statement(fmt::format("SELECT id FROM {} WHERE {} = ? ORDER BY id",
                                                  quoteIdentifier(dest->name), quoteIdentifier(r->inverse)));
    ResetOnExit reset{st};
    st.bind(1, static_cast<int64_t>(row.pk));
    while (st.executeStep()) out.push_back({dest, st.getColumn(0).getInt64()});
  } catch (const std::exception& e) {
    Log::error(kLog, "reading {}.{} failed: {}", row.entity->name, toMany, e.what());
  }
  return out;
}

std::optional<std::vector<Row>> StoreContext::fetch(const FetchRequest& request, Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  const Entity* entity = model_.entity(request.entity);
  if (entity == nullptr) {
    fail(error, storeerror::kQuery, fmt::format("no entity '{}'", request.entity));
    return std::nullopt;
  }
  SqlFragment where;
  std::string order;
  std::string why;
  if (!compilePredicate(model_, *entity, request.predicate, "t", where, why) ||
      !compileOrder(model_, *entity, request.sort, "t", order, why)) {
    fail(error, storeerror::kQuery, why);
    return std::nullopt;
  }
  std::string sql = fmt::format("SELECT {} FROM {} t WHERE {} ORDER BY {}",
                                request.includesPropertyValues ? selectList(*entity, "t") : std::string("t.id"),
                                quoteIdentifier(entity->name), where.text, order);
  if (request.limit > 0 || request.offset > 0) {
    sql += fmt::format(" LIMIT {} OFFSET {}", request.limit > 0 ? request.limit : -1, std::max<std::int64_t>(0, request.offset));
  }
  std::vector<Row> rows;
  try {
    SQLite::Statement& st = statement(sql);
    ResetOnExit reset{st};
    bindAll(st, where.binds);
    while (st.executeStep()) {
      Row row;
      row.id = {entity, st.getColumn(0).getInt64()};
      if (request.includesPropertyValues) row.values = readValues(*entity, st);
      rows.push_back(std::move(row));
    }
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, fmt::format("fetch of {} failed: {}", entity->name, e.what()));
    return std::nullopt;
  }
  return rows;
}

std::optional<std::int64_t> StoreContext::count(std::string_view entityName, const Predicate& predicate, Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  const Entity* entity = model_.entity(entityName);
  if (entity == nullptr) {
    fail(error, storeerror::kQuery, fmt::format("no entity '{}'", entityName));
    return std::nullopt;
  }
  SqlFragment where;
  std::string why;
  if (!compilePredicate(model_, *entity, predicate, "t", where, why)) {
    fail(error, storeerror::kQuery, why);
    return std::nullopt;
  }
  try {
    SQLite::Statement& st =
        statement(fmt::format("SELECT count(*) FROM {} t WHERE {}", quoteIdentifier(entity->name), where.text));
    ResetOnExit reset{st};
    bindAll(st, where.binds);
    st.executeStep();
    return st.getColumn(0).getInt64();
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, fmt::format("count of {} failed: {}", entity->name, e.what()));
    return std::nullopt;
  }
}

std::optional<ObjectID> StoreContext::firstObjectID(std::string_view entityName, std::string_view key,
                                                    const Value& value, Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  std::string& cacheKey = keyBuffer_;
  cacheKey.assign(entityName);
  cacheKey += '\x1f';
  cacheKey += key;
  auto it = lookupStatements_.find(cacheKey);
  if (it == lookupStatements_.end()) {
    const Entity* entity = model_.entity(entityName);
    const Attribute* attribute = entity != nullptr ? entity->attribute(key) : nullptr;
    if (attribute == nullptr) {
      fail(error, storeerror::kQuery, fmt::format("{} has no attribute '{}'", entityName, key));
      return std::nullopt;
    }
    LookupStatement lookup{nullptr, entity, attribute};
    try {
      lookup.statement = std::make_unique<SQLite::Statement>(
          db_, fmt::format("SELECT id FROM {} WHERE {} IS ? ORDER BY id LIMIT 1", quoteIdentifier(entity->name),
                           quoteIdentifier(attribute->name)));
    } catch (const std::exception& e) {
      fail(error, storeerror::kQuery, fmt::format("lookup in {} failed: {}", entityName, e.what()));
      return std::nullopt;
    }
    it = lookupStatements_.emplace(cacheKey, std::move(lookup)).first;
  }
  const LookupStatement& lookup = it->second;
  SQLite::Statement& st = *lookup.statement;
  ResetOnExit reset{st};
  try {
    if (const std::string* text = value.string(); text != nullptr && lookup.attribute->type == AttributeType::String) {
      st.bindNoCopy(1, *text);
    } else {
      SqlValue sv;
      std::string why;
      if (!toSqlValue(*lookup.attribute, value, false, sv, why)) {
        fail(error, storeerror::kQuery, why);
        return std::nullopt;
      }
      bindAll(st, {sv});
    }
    if (!st.executeStep()) return std::nullopt;
    return ObjectID{lookup.entity, st.getColumn(0).getInt64()};
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, fmt::format("lookup in {} failed: {}", entityName, e.what()));
    return std::nullopt;
  }
}

bool StoreContext::save(Error* error) {
  if (!checkQueue(error)) return false;
  if (!inTransaction_) return true;
  std::string problem;
  try {
    // One range scan per entity over the rows this unit of work wrote that may lack a
    // required attribute. A row in the range that is not among them was valid when it was
    // committed or written, so only those rows count.
    for (auto& [entity, ids] : touched_) {
      if (ids.empty()) continue;
      std::sort(ids.begin(), ids.end());
      std::string missing;
      for (const auto& a : entity->attributes) {
        if (!a.optional) missing += fmt::format("{}{} IS NULL", missing.empty() ? "" : " OR ", quoteIdentifier(a.name));
      }
      SQLite::Statement& st = statement(
          fmt::format("SELECT id FROM {} WHERE id BETWEEN ? AND ? AND ({})", quoteIdentifier(entity->name), missing));
      ResetOnExit reset{st};
      st.bind(1, static_cast<int64_t>(ids.front()));
      st.bind(2, static_cast<int64_t>(ids.back()));
      while (st.executeStep()) {
        if (std::binary_search(ids.begin(), ids.end(), st.getColumn(0).getInt64())) {
          problem = fmt::format("a {} row lacks a required attribute", entity->name);
          break;
        }
      }
      if (!problem.empty()) break;
    }
    if (problem.empty()) {
      // The ids handed out go into the metadata with the rows, so that no later insert, in
      // this run or another, takes one again.
      if (!unsavedRowIDs_.empty()) {
        SQLite::Statement& mark =
            statement(fmt::format("INSERT OR REPLACE INTO {} (key, value) VALUES (?, ?)", kMetadataTable));
        for (const Entity* e : unsavedRowIDs_) {
          ResetOnExit reset{mark};
          mark.bind(1, rowIDMarkKey(*e));
          mark.bind(2, static_cast<int64_t>(lastRowIDs_[e]));
          mark.exec();
        }
      }
      db_.exec("COMMIT");
      unsavedRowIDs_.clear();
      inTransaction_ = false;
      touched_.clear();
      return true;
    }
  } catch (const std::exception& e) {
    problem = fmt::format("commit failed: {}", e.what());
  }
  Log::error(kLog, "save failed, its unit of work is rolled back: {}", problem);
  rollback();
  return fail(error, storeerror::kValidation, problem);
}

void StoreContext::rollback() {
  if (!checkQueue(nullptr)) return;
  touched_.clear();
  if (!inTransaction_) return;
  inTransaction_ = false;
  // A commit that failed on I/O may have rolled the transaction back already.
  if (sqlite3_get_autocommit(db_.getHandle()) != 0) return;
  try {
    db_.exec("ROLLBACK");
  } catch (const std::exception& e) {
    Log::error(kLog, "rollback failed: {}", e.what());
  }
}

}  // namespace velmora::platform::store
