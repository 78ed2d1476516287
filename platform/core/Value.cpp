#include "platform/core/Value.h"

#include <cmath>
#include <limits>

namespace velmora::platform {
namespace {
// Never destroyed: lookups run in destructors at exit too.
const Value& absent() {
  static const Value& v = *new Value();
  return v;
}
}  // namespace

Value Value::makeDict(std::initializer_list<std::pair<const std::string, Value>> items) {
  return Value(Dict(items));
}

Value Value::makeArray(std::initializer_list<Value> items) { return Value(Array(items)); }

std::optional<bool> Value::toBool() const {
  if (const bool* b = std::get_if<bool>(&v_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> Value::toInt64() const {
  if (const auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&v_)) {
    if (*u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(*u);
    }
  }
  return std::nullopt;
}

std::optional<std::uint64_t> Value::toUInt64() const {
  if (const auto* u = std::get_if<std::uint64_t>(&v_)) return *u;
  if (const auto* i = std::get_if<std::int64_t>(&v_)) {
    if (*i >= 0) return static_cast<std::uint64_t>(*i);
  }
  return std::nullopt;
}

std::optional<double> Value::toDouble() const {
  if (const auto* d = std::get_if<double>(&v_)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
  if (const auto* u = std::get_if<std::uint64_t>(&v_)) return static_cast<double>(*u);
  return std::nullopt;
}

std::optional<Date> Value::toDate() const {
  if (const auto* d = std::get_if<Date>(&v_)) return *d;
  return std::nullopt;
}

const Array* Value::array() const {
  const auto* b = std::get_if<Box<Array>>(&v_);
  return b ? &**b : nullptr;
}

Array* Value::array() {
  auto* b = std::get_if<Box<Array>>(&v_);
  return b ? &**b : nullptr;
}

const Dict* Value::dict() const {
  const auto* b = std::get_if<Box<Dict>>(&v_);
  return b ? &**b : nullptr;
}

Dict* Value::dict() {
  auto* b = std::get_if<Box<Dict>>(&v_);
  return b ? &**b : nullptr;
}

const Value& Value::operator[](std::string_view key) const {
  if (const Dict* d = dict()) {
    if (auto it = d->find(key); it != d->end()) return it->second;
  }
  return absent();
}

const Value& Value::operator[](std::size_t index) const {
  if (const Array* a = array(); a && index < a->size()) return (*a)[index];
  return absent();
}

bool Value::set(std::string_view key, Value value) {
  if (isAbsent() || isNull()) v_ = Box<Dict>(Dict{});
  Dict* d = dict();
  if (!d) return false;
  if (value.isAbsent()) {
    if (auto it = d->find(key); it != d->end()) d->erase(it);
    return true;
  }
  // One search: the position found also serves as the hint for a new key.
  auto it = d->lower_bound(key);
  if (it != d->end() && it->first == key) {
    it->second = std::move(value);
  } else {
    d->emplace_hint(it, std::string(key), std::move(value));
  }
  return true;
}

bool Value::append(Value value) {
  if (isAbsent()) v_ = Box<Array>(Array{});
  Array* a = array();
  if (!a) return false;
  a->push_back(std::move(value));
  return true;
}

std::size_t Value::size() const {
  if (const Array* a = array()) return a->size();
  if (const Dict* d = dict()) return d->size();
  return 0;
}

std::string_view Value::kindName(Kind kind) {
  switch (kind) {
    case Kind::Absent: return "absent";
    case Kind::Null: return "null";
    case Kind::Bool: return "bool";
    case Kind::Int: return "int";
    case Kind::UInt: return "uint";
    case Kind::Double: return "double";
    case Kind::String: return "string";
    case Kind::Bytes: return "bytes";
    case Kind::Date: return "date";
    case Kind::Array: return "array";
    case Kind::Dict: return "dictionary";
    case Kind::Object: return "object";
  }
  return "unknown";
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::Absent:
    case Value::Kind::Null: return true;
    case Value::Kind::Bool: return *a.toBool() == *b.toBool();
    case Value::Kind::Int: return std::get<std::int64_t>(a.v_) == std::get<std::int64_t>(b.v_);
    case Value::Kind::UInt: return std::get<std::uint64_t>(a.v_) == std::get<std::uint64_t>(b.v_);
    case Value::Kind::Double: return std::get<double>(a.v_) == std::get<double>(b.v_);
    case Value::Kind::String: return *a.string() == *b.string();
    case Value::Kind::Bytes: return *a.bytes() == *b.bytes();
    case Value::Kind::Date: return *a.toDate() == *b.toDate();
    case Value::Kind::Array: return *a.array() == *b.array();
    case Value::Kind::Dict: return *a.dict() == *b.dict();
    case Value::Kind::Object: return *a.object() == *b.object();
  }
  return false;
}

}  // namespace velmora::platform
