#include "platform/store/StoreContext.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <sqlite3.h>

#include "platform/core/Log.h"

namespace platform::store {

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
  static const Value absent;
  return absent;
}

StoreContext::StoreContext(const Model& model, SQLite::Database& db, std::function<bool()> onQueue)
    : model_(model), db_(db), onQueue_(std::move(onQueue)) {}

StoreContext::~StoreContext() {
  statements_.clear();
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

void StoreContext::noteTouched(ObjectID row) {
  for (const auto& a : row.entity->attributes) {
    if (!a.optional) {
      touched_[row.entity].insert(row.pk);
      return;
    }
  }
}

bool StoreContext::writeColumns(const Entity& entity, const Dict& values, std::vector<std::string>& columns,
                                std::vector<SqlValue>& binds, Error* error) {
  for (const auto& [key, v] : values) {
    SqlValue sv;
    if (const Attribute* a = entity.attribute(key)) {
      std::string why;
      if (!toSqlValue(*a, v, true, sv, why)) return fail(error, storeerror::kValidation, why);
    } else if (const Relationship* r = entity.relationship(key); r != nullptr && !r->toMany) {
      if (auto id = v.toInt64()) {
        sv = *id;
      } else if (!v.isAbsent() && !v.isNull()) {
        return fail(error, storeerror::kValidation, fmt::format("relationship '{}' takes a row id", key));
      }
    } else {
      return fail(error, storeerror::kQuery, fmt::format("{} has no attribute or to-one relationship '{}'", entity.name, key));
    }
    columns.push_back(quoteIdentifier(key));
    binds.push_back(std::move(sv));
  }
  return true;
}

std::optional<ObjectID> StoreContext::insert(std::string_view entityName, const Dict& values, Error* error) {
  if (!checkQueue(error)) return std::nullopt;
  const Entity* entity = model_.entity(entityName);
  if (entity == nullptr) {
    fail(error, storeerror::kQuery, fmt::format("no entity '{}'", entityName));
    return std::nullopt;
  }
  std::vector<std::string> columns;
  std::vector<SqlValue> binds;
  if (!writeColumns(*entity, values, columns, binds, error)) return std::nullopt;
  std::string sql;
  if (columns.empty()) {
    sql = fmt::format("INSERT INTO {} DEFAULT VALUES", quoteIdentifier(entity->name));
  } else {
    std::string marks;
    for (std::size_t i = 0; i < columns.size(); ++i) marks += i == 0 ? "?" : ", ?";
    sql = fmt::format("INSERT INTO {} ({}) VALUES ({})", quoteIdentifier(entity->name), fmt::join(columns, ", "), marks);
  }
  if (!begin(error)) return std::nullopt;
  try {
    SQLite::Statement& st = statement(sql);
    ResetOnExit reset{st};
    bindAll(st, binds);
    st.exec();
  } catch (const std::exception& e) {
    fail(error, storeerror::kQuery, fmt::format("insert into {} failed: {}", entity->name, e.what()));
    return std::nullopt;
  }
  ObjectID id{entity, db_.getLastInsertRowid()};
  noteTouched(id);
  return id;
}

bool StoreContext::update(ObjectID row, const Dict& values, Error* error) {
  if (!checkQueue(error)) return false;
  if (!row.valid()) return fail(error, storeerror::kQuery, "no such row");
  if (values.empty()) return true;
  std::vector<std::string> columns;
  std::vector<SqlValue> binds;
  if (!writeColumns(*row.entity, values, columns, binds, error)) return false;
  std::string sets;
  for (std::size_t i = 0; i < columns.size(); ++i) sets += fmt::format("{}{} = ?", i == 0 ? "" : ", ", columns[i]);
  const std::string sql = fmt::format("UPDATE {} SET {} WHERE id = ?", quoteIdentifier(row.entity->name), sets);
  if (!begin(error)) return false;
  try {
    SQLite::Statement& st = statement(sql);
    ResetOnExit reset{st};
    bindAll(st, binds);
    st.bind(static_cast<int>(binds.size() + 1), static_cast<int64_t>(row.pk));
    st.exec();
  } catch (const std::exception& e) {
    return fail(error, storeerror::kQuery, fmt::format("update of {} failed: {}", row.entity->name, e.what()));
  }
  noteTouched(row);
  return true;
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

bool StoreContext::save(Error* error) {
  if (!checkQueue(error)) return false;
  if (!inTransaction_) return true;
  std::string problem;
  try {
    for (const auto& [entity, ids] : touched_) {
      std::string missing;
      for (const auto& a : entity->attributes) {
        if (!a.optional) missing += fmt::format("{}{} IS NULL", missing.empty() ? "" : " OR ", quoteIdentifier(a.name));
      }
      SQLite::Statement& st =
          statement(fmt::format("SELECT 1 FROM {} WHERE id = ? AND ({})", quoteIdentifier(entity->name), missing));
      for (std::int64_t pk : ids) {
        ResetOnExit reset{st};
        st.bind(1, static_cast<int64_t>(pk));
        if (st.executeStep()) {
          problem = fmt::format("a {} row lacks a required attribute", entity->name);
          break;
        }
      }
      if (!problem.empty()) break;
    }
    if (problem.empty()) {
      db_.exec("COMMIT");
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
  try {
    db_.exec("ROLLBACK");
  } catch (const std::exception& e) {
    Log::error(kLog, "rollback failed: {}", e.what());
  }
}

}  // namespace platform::store
