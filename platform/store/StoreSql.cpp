#include "platform/store/StoreSql.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

namespace velmora::platform::store {

std::string quoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

bool isIntegerType(AttributeType t) {
  return t == AttributeType::Int16 || t == AttributeType::UInt16 || t == AttributeType::Int32 ||
         t == AttributeType::Int64;
}
bool isRealType(AttributeType t) {
  return t == AttributeType::Decimal || t == AttributeType::Double || t == AttributeType::Float;
}

double roundForType(AttributeType t, double d) {
  return t == AttributeType::Float ? static_cast<double>(static_cast<float>(d)) : d;
}

}  // namespace

bool toSqlValue(const Attribute& a, const Value& v, bool strictWrite, SqlValue& out, std::string& error) {
  if (v.isAbsent() || v.isNull()) {
    out = std::monostate{};
    return true;
  }
  const auto fail = [&] {
    error = fmt::format("a {} value does not fit attribute '{}' ({})", Value::kindName(v.kind()), a.name,
                        attributeTypeName(a.type));
    return false;
  };
  switch (a.type) {
    case AttributeType::String:
      if (const std::string* s = v.string()) {
        out = *s;
        return true;
      }
      return fail();
    case AttributeType::Date:
      if (auto d = v.toDate()) {
        out = d->unixMicros();
        return true;
      }
      return fail();
    case AttributeType::Boolean:
      if (auto b = v.toBool()) {
        out = std::int64_t{*b ? 1 : 0};
        return true;
      }
      if (auto i = v.toInt64()) {
        out = std::int64_t{*i != 0 ? 1 : 0};
        return true;
      }
      return fail();
    default:
      break;
  }
  if (isIntegerType(a.type)) {
    if (auto i = v.toInt64()) {
      out = *i;
      return true;
    }
    if (!strictWrite) {
      if (auto d = v.toDouble()) {
        out = *d;
        return true;
      }
    }
    return fail();
  }
  if (isRealType(a.type)) {
    if (v.kind() == Value::Kind::Bool) return fail();
    if (auto d = v.toDouble()) {
      if (strictWrite && !std::isfinite(*d)) return fail();
      out = roundForType(a.type, *d);
      return true;
    }
    return fail();
  }
  return fail();
}

Value fromSqlValue(AttributeType type, const SqlValue& sv) {
  if (std::holds_alternative<std::monostate>(sv)) return Value();
  if (const auto* i = std::get_if<std::int64_t>(&sv)) {
    switch (type) {
      case AttributeType::Boolean: return Value(*i != 0);
      case AttributeType::Date: return Value(Date::fromUnixMicros(*i));
      case AttributeType::Decimal:
      case AttributeType::Double:
      case AttributeType::Float: return Value(static_cast<double>(*i));
      case AttributeType::String: return Value(std::to_string(*i));
      default: return Value(*i);
    }
  }
  if (const auto* d = std::get_if<double>(&sv)) {
    if (isIntegerType(type) || type == AttributeType::Date || type == AttributeType::Boolean) {
      // Not written by this store; take the integral part rather than fail.
      if (!std::isfinite(*d) || *d <= -9223372036854775808.0 || *d >= 9223372036854775808.0) return Value();
      std::int64_t i = static_cast<std::int64_t>(*d);
      if (type == AttributeType::Boolean) return Value(i != 0);
      if (type == AttributeType::Date) return Value(Date::fromUnixMicros(i));
      return Value(i);
    }
    if (type == AttributeType::String) return Value(fmt::format("{}", *d));
    return Value(*d);
  }
  const auto& s = std::get<std::string>(sv);
  if (type == AttributeType::String) return Value(s);
  return Value();
}

std::vector<const Relationship*> toOneColumns(const Entity& entity) {
  std::vector<const Relationship*> out;
  for (const auto& r : entity.relationships) {
    if (!r.toMany) out.push_back(&r);
  }
  return out;
}

namespace {

// Resolves a key path to a scalar SQL expression. `attribute` receives the attribute at
// its end, or null when it ends on a to-one relationship (whose value is the row id).
struct PathCompiler {
  const Model& model;
  int& aliasCounter;
  std::string& error;

  bool scalar(const Entity& entity, std::string_view alias, std::string_view path, std::string& expr,
              const Attribute*& attribute) {
    attribute = nullptr;
    const Entity* current = &entity;
    std::string idExpr;  // expression yielding the current row's id, for steps after the first
    std::string_view rest = path;
    bool first = true;
    while (true) {
      auto dot = rest.find('.');
      std::string_view step = rest.substr(0, dot);
      bool last = dot == std::string_view::npos;
      std::string column;
      if (const Attribute* a = current->attribute(step); a != nullptr && last) {
        attribute = a;
        column = quoteIdentifier(a->name);
      } else if (const Relationship* r = current->relationship(step); r != nullptr && !r->toMany) {
        column = quoteIdentifier(r->name);
      } else {
        error = fmt::format("key path '{}' does not resolve on {}", path, entity.name);
        return false;
      }
      std::string here;
      if (first) {
        here = fmt::format("{}.{}", alias, column);
      } else {
        std::string a = fmt::format("k{}", aliasCounter++);
        here = fmt::format("(SELECT {0}.{1} FROM {2} {0} WHERE {0}.id = {3})", a, column,
                           quoteIdentifier(current->name), idExpr);
      }
      if (last) {
        expr = here;
        return true;
      }
      const Relationship* r = current->relationship(step);
      current = model.entity(r->destination);
      idExpr = here;
      first = false;
      rest = rest.substr(dot + 1);
    }
  }
};

std::string_view opText(Predicate::Op op) {
  switch (op) {
    case Predicate::Op::Equal: return "IS";
    case Predicate::Op::NotEqual: return "IS NOT";
    case Predicate::Op::Less: return "<";
    case Predicate::Op::LessOrEqual: return "<=";
    case Predicate::Op::Greater: return ">";
    case Predicate::Op::GreaterOrEqual: return ">=";
  }
  return "IS";
}

bool compileNode(const Model& model, const Entity& entity, const Predicate& p, std::string_view alias,
                 SqlFragment& out, std::string& error, int& aliasCounter) {
  const Predicate::Node* n = p.node();
  if (n == nullptr) {
    out.text += "1";
    return true;
  }
  PathCompiler paths{model, aliasCounter, error};
  switch (n->kind) {
    case Predicate::Kind::False: out.text += "0"; return true;
    case Predicate::Kind::Compare: {
      std::string lhs;
      const Attribute* attribute = nullptr;
      if (!paths.scalar(entity, alias, n->keyPath, lhs, attribute)) return false;
      SqlValue sv;
      if (attribute != nullptr) {
        if (!toSqlValue(*attribute, n->value, false, sv, error)) return false;
      } else if (auto id = n->value.toInt64()) {
        sv = *id;  // a to-one relationship compared with a row id
      } else if (!n->value.isAbsent() && !n->value.isNull()) {
        error = fmt::format("relationship '{}' compares only with nil or a row id", n->keyPath);
        return false;
      }
      const bool isNull = std::holds_alternative<std::monostate>(sv);
      if (isNull && n->op != Predicate::Op::Equal && n->op != Predicate::Op::NotEqual) {
        out.text += "0";  // an ordering against nil holds for no row
        return true;
      }
      out.text += fmt::format("({} {} ?)", lhs, opText(n->op));
      out.binds.push_back(std::move(sv));
      return true;
    }
    case Predicate::Kind::CompareKeyPaths: {
      std::string lhs, rhs;
      const Attribute* a1 = nullptr;
      const Attribute* a2 = nullptr;
      if (!paths.scalar(entity, alias, n->keyPath, lhs, a1)) return false;
      if (!paths.scalar(entity, alias, n->otherKeyPath, rhs, a2)) return false;
      out.text += fmt::format("({} {} {})", lhs, opText(n->op), rhs);
      return true;
    }
    case Predicate::Kind::AnyMember: {
      // Walk the to-one steps, then the final to-many step.
      std::string_view path = n->keyPath;
      auto dot = path.rfind('.');
      std::string_view head = dot == std::string_view::npos ? std::string_view() : path.substr(0, dot);
      std::string_view step = dot == std::string_view::npos ? path : path.substr(dot + 1);
      const Entity* owner = &entity;
      std::string ownerId = fmt::format("{}.id", alias);
      if (!head.empty()) {
        const Attribute* a = nullptr;
        if (!paths.scalar(entity, alias, head, ownerId, a)) return false;
        if (a != nullptr) {
          error = fmt::format("key path '{}' does not lead to a relationship", n->keyPath);
          return false;
        }
        // Follow the to-one steps to find the owner entity.
        std::string_view rest = head;
        while (!rest.empty()) {
          auto d = rest.find('.');
          const Relationship* r = owner->relationship(rest.substr(0, d));
          owner = model.entity(r->destination);
          rest = d == std::string_view::npos ? std::string_view() : rest.substr(d + 1);
        }
      }
      const Relationship* many = owner->relationship(step);
      if (many == nullptr || !many->toMany) {
        error = fmt::format("key path '{}' does not end on a to-many relationship", n->keyPath);
        return false;
      }
      const Entity* member = model.entity(many->destination);
      std::string a = fmt::format("m{}", aliasCounter++);
      out.text += fmt::format("EXISTS (SELECT 1 FROM {0} {1} WHERE {1}.{2} = {3} AND ", quoteIdentifier(member->name), a,
                              quoteIdentifier(many->inverse), ownerId);
      if (!compileNode(model, *member, n->children.front(), a, out, error, aliasCounter)) return false;
      out.text += ")";
      return true;
    }
    case Predicate::Kind::And:
    case Predicate::Kind::Or: {
      out.text += "(";
      for (std::size_t i = 0; i < n->children.size(); ++i) {
        if (i > 0) out.text += n->kind == Predicate::Kind::And ? " AND " : " OR ";
        if (!compileNode(model, entity, n->children[i], alias, out, error, aliasCounter)) return false;
      }
      out.text += ")";
      return true;
    }
    case Predicate::Kind::Not: {
      // NOT over a comparison with an empty side must hold (nothing is not "< 5" but is not
      // ">= 5" either), so the inner result counts as false when it is unknown.
      out.text += "NOT coalesce(";
      if (!compileNode(model, entity, n->children.front(), alias, out, error, aliasCounter)) return false;
      out.text += ", 0)";
      return true;
    }
  }
  return false;
}

}  // namespace

bool compilePredicate(const Model& model, const Entity& entity, const Predicate& predicate, std::string_view alias,
                      SqlFragment& out, std::string& error) {
  int counter = 0;
  return compileNode(model, entity, predicate, alias, out, error, counter);
}

bool compileOrder(const Model& model, const Entity& entity, const std::vector<SortDescriptor>& sort,
                  std::string_view alias, std::string& out, std::string& error) {
  int counter = 0;
  PathCompiler paths{model, counter, error};
  for (const auto& s : sort) {
    std::string expr;
    const Attribute* a = nullptr;
    if (!paths.scalar(entity, alias, s.keyPath, expr, a)) return false;
    out += fmt::format("{} {}, ", expr, s.ascending ? "ASC" : "DESC");
  }
  out += fmt::format("{}.id ASC", alias);
  return true;
}

std::string columnDefinition(const Attribute& a) {
  return fmt::format("{} {}", quoteIdentifier(a.name), attributeTypeName(a.type));
}

std::string foreignKeyColumn(const Model& model, const Relationship& toOne) {
  const Entity* dest = model.entity(toOne.destination);
  const Relationship* inv = dest != nullptr ? dest->relationship(toOne.inverse) : nullptr;
  const bool cascade = inv != nullptr && inv->deleteRule == DeleteRule::Cascade;
  return fmt::format("{} INTEGER REFERENCES {}(id) ON DELETE {}", quoteIdentifier(toOne.name),
                     quoteIdentifier(toOne.destination), cascade ? "CASCADE" : "SET NULL");
}

std::string indexStatement(const Entity& entity, std::string_view column) {
  return fmt::format("CREATE INDEX IF NOT EXISTS {} ON {} ({})", quoteIdentifier(entity.name + "_" + std::string(column)),
                     quoteIdentifier(entity.name), quoteIdentifier(column));
}

std::vector<std::string> createTableStatements(const Model& model, const Entity& entity) {
  std::string cols = "id INTEGER PRIMARY KEY";
  for (const auto& a : entity.attributes) cols += ", " + columnDefinition(a);
  for (const Relationship* r : toOneColumns(entity)) {
    cols += ", " + foreignKeyColumn(model, *r);
  }
  std::vector<std::string> out{fmt::format("CREATE TABLE {} ({})", quoteIdentifier(entity.name), cols)};
  for (const auto& a : entity.attributes) {
    if (a.indexed) out.push_back(indexStatement(entity, a.name));
  }
  for (const Relationship* r : toOneColumns(entity)) out.push_back(indexStatement(entity, r->name));
  return out;
}

}  // namespace velmora::platform::store
