#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/core/Value.h"
#include "platform/store/Predicate.h"
#include "platform/store/StoreModel.h"

namespace velmora::platform::store {

// A value as SQLite takes it: NULL, an integer, a real or a text.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// "name" with embedded quotes doubled.
std::string quoteIdentifier(std::string_view name);

// Converts a value for an attribute. Absent and Null give NULL. Writes are strict (the
// value's kind must fit the type: a number for numbers, a text for a text, a date for a
// date, a bool or an integer for a boolean); comparisons also take any number against a
// number column. Floats are rounded through a 32-bit float either way, so a literal
// compares equal to what a write of it stored. False with `error` set when it does not fit.
bool toSqlValue(const Attribute& attribute, const Value& value, bool strictWrite, SqlValue& out, std::string& error);
// Reads a column back into the attribute's kind.
Value fromSqlValue(AttributeType type, const SqlValue& value);

// SQL text with its parameters, in order.
struct SqlFragment {
  std::string text;
  std::vector<SqlValue> binds;
};

// Compiles a predicate over `entity` rows that appear under `alias`. False with `error`
// set when a key path does not resolve or a value does not fit its attribute.
bool compilePredicate(const Model& model, const Entity& entity, const Predicate& predicate, std::string_view alias,
                      SqlFragment& out, std::string& error);
// An ORDER BY list (without the keywords) for the descriptors, ending with the row id so the
// order is total: rows that tie come oldest insert first.
bool compileOrder(const Model& model, const Entity& entity, const std::vector<SortDescriptor>& sort,
                  std::string_view alias, std::string& out, std::string& error);

// The to-one ends of an entity, which are its foreign-key columns, in model order.
std::vector<const Relationship*> toOneColumns(const Entity& entity);

// DDL for one entity: its table, then its indexes (indexed attributes and every foreign key).
std::vector<std::string> createTableStatements(const Model& model, const Entity& entity);
std::string columnDefinition(const Attribute& attribute);
// A to-one end's column: its row id, with the ON DELETE action of its to-many inverse.
std::string foreignKeyColumn(const Model& model, const Relationship& toOne);
std::string indexStatement(const Entity& entity, std::string_view column);

}  // namespace velmora::platform::store
