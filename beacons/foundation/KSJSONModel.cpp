#include "beacons/foundation/KSJSONModel.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>

#include "beacons/foundation/KSJSONKeyMapper.h"
#include "beacons/foundation/KSJSONModelArray.h"
#include "beacons/foundation/KSJSONModelClass.h"
#include "beacons/foundation/KSJSONModelError.h"
#include "beacons/foundation/KSJSONValueTransformer.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Dict;
using platform::Error;
using platform::Value;
using Kind = KSJSONPropertyKind;

namespace {

constexpr std::string_view kLogCategory = "KSJSONModel";

std::mutex& globalMapperMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const KSJSONKeyMapper>& globalMapperSlot() {
  static std::shared_ptr<const KSJSONKeyMapper>& slot = *new std::shared_ptr<const KSJSONKeyMapper>();
  return slot;
}

void setError(Error* out, Error e) {
  if (out) *out = std::move(e);
}

// Property name to JSON key path: the class mapper first; the global one when there is no
// class mapper or the class mapper left the name as it was.
std::string mapName(const std::string& name, const KSJSONKeyMapper* classMapper, const KSJSONKeyMapper* global) {
  if (classMapper) {
    std::string mapped = classMapper->convertValue(name, true);
    if (global && mapped == name) return global->convertValue(name, true);
    return mapped;
  }
  if (global) return global->convertValue(name, true);
  return name;
}

// Reads the input at a dotted key path. When a step meets a value that is not a dictionary,
// the whole path is looked up as one plain key instead.
const Value& readKeyPath(const Value& input, std::string_view path) {
  static const Value& absent = *new Value();
  if (path.find('.') == std::string_view::npos) return input[path];
  const Value* at = &input;
  std::string_view rest = path;
  while (true) {
    const auto dot = rest.find('.');
    const std::string_view head = rest.substr(0, dot);
    if (!at->dict()) return at->isAbsent() ? absent : input[path];
    at = &(*at)[head];
    if (dot == std::string_view::npos) return *at;
    rest = rest.substr(dot + 1);
  }
}

// Makes the intermediate dictionaries of a dotted key path ("a.b.c" makes "a" and "a.b"),
// keeping those already there. A step that holds something other than a dictionary is
// left alone, and nothing is made below it.
void makeIntermediates(Dict& out, std::string_view path) {
  const auto dot = path.find('.');
  if (dot == std::string_view::npos) return;
  Value& head = out[std::string(path.substr(0, dot))];
  if (head.isAbsent()) head = Value(Dict{});
  if (Dict* inner = head.dict()) makeIntermediates(*inner, path.substr(dot + 1));
}

// Stores a value at a dotted key path, making the intermediate dictionaries. A step that
// holds something other than a dictionary is left alone and the value is not stored.
void storeKeyPath(Dict& out, std::string_view path, Value value) {
  const auto dot = path.find('.');
  if (dot == std::string_view::npos) {
    if (value.isAbsent()) {
      out.erase(std::string(path));
    } else {
      out.insert_or_assign(std::string(path), std::move(value));
    }
    return;
  }
  Value& head = out[std::string(path.substr(0, dot))];
  if (head.isAbsent()) head = Value(Dict{});
  if (Dict* inner = head.dict()) storeKeyPath(*inner, path.substr(dot + 1), std::move(value));
}

bool isAllowedJSON(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Bytes:
    case Value::Kind::Date:
    case Value::Kind::Object:
    case Value::Kind::Absent: return false;
    default: return true;
  }
}

std::string_view kindWord(Kind kind) {
  switch (kind) {
    case Kind::Text: return "NSString";
    case Kind::Number: return "NSNumber";
    case Kind::Date: return "NSDate";
    case Kind::Bool: return "BOOL";
    case Kind::Integer: return "integer";
    case Kind::Double: return "double";
    case Kind::Record: return "record";
    case Kind::RecordArray: return "NSArray";
    case Kind::RecordDictionary: return "NSDictionary";
    case Kind::LazyRecordArray: return "NSArray";
    case Kind::Array: return "NSArray";
    case Kind::Dictionary: return "NSDictionary";
    case Kind::Any: return "id";
    case Kind::ReadOnly: return "read-only";
  }
  return "unknown";
}

}  // namespace

// The import and export walks over a class's property table.
class KSJSONModelImport {
 public:
  static bool requiredKeysPresent(const KSJSONModelClass& cls, const Value& input, const KSJSONKeyMapper* classMapper,
                                  const KSJSONKeyMapper* global, Error* error) {
    std::vector<std::string> missing;
    for (const auto& name : cls.requiredPropertyNames()) {
      if (readKeyPath(input, mapName(name, classMapper, global)).isAbsent()) missing.push_back(name);
    }
    if (missing.empty()) return true;
    std::string list;
    for (const auto& n : missing) list += (list.empty() ? "" : ", ") + n;
    platform::Log::warning(kLogCategory, "[{}:{}] {}", "KSJSONModel.cpp", __LINE__,
                           fmt::format("Incoming data was invalid [{} initWithDictionary:]. Keys missing: {}",
                                       cls.className(), list));
    setError(error, KSJSONModelError::errorInvalidDataWithMissingKeys(missing));
    return false;
  }

  static bool importDictionary(KSJSONModel& model, const KSJSONModelClass& cls, const Value& input, bool validation,
                               const KSJSONKeyMapper* classMapper, const KSJSONKeyMapper* global, Error* error) {
    for (const auto& p : cls.properties()) {
      if (p.kind == Kind::ReadOnly) continue;
      const Value& value = readKeyPath(input, mapName(p.name, classMapper, global));
      if (value.isAbsent() || value.isNull()) {
        if (!p.isOptional && validation) {
          Error e = KSJSONModelError::errorInvalidDataWithMessage(fmt::format("Value of required model key {} is null", p.name));
          setError(error, KSJSONModelError::errorByPrependingKeyPathComponent(e, p.name));
          return false;
        }
        continue;
      }
      if (!isAllowedJSON(value)) {
        const std::string message = fmt::format("Type {} is not allowed in JSON.", KSJSONValueTransformer::familyName(value));
        platform::Log::warning(kLogCategory, "[{}:{}] {}", "KSJSONModel.cpp", __LINE__, message);
        fail(error, KSJSONModelError::errorInvalidDataWithMessage(message), p.name);
        return false;
      }
      // The custom setter is looked up for this property and this value's family each time,
      // not cached from the first value ever imported: a record may take text and numbers
      // through different setters.
      if (auto custom = p.customSetterFor(KSJSONValueTransformer::familyOf(value))) {
        Error inner;
        if (!(*custom)(model, value, &inner)) {
          fail(error, inner, p.name);
          return false;
        }
        continue;
      }
      if (!importValue(model, cls, p, value, validation, error)) return false;
    }
    return true;
  }

  static Dict exportDictionary(const KSJSONModel& model, const std::optional<std::vector<std::string>>& keys) {
    const KSJSONModelClass& cls = model.jsonModelClass();
    const auto global = KSJSONModel::globalKeyMapper();
    Dict out;
    for (const auto& p : cls.properties()) {
      if (p.kind == Kind::ReadOnly) continue;
      if (keys && std::find(keys->begin(), keys->end(), p.name) == keys->end()) continue;
      const std::string path = mapName(p.name, cls.keyMapper().get(), global.get());
      // A dotted key path has its intermediate dictionaries made before the value is looked
      // at: they are there even when the value is left out.
      makeIntermediates(out, path);
      if (p.customGetter) {
        storeKeyPath(out, path, p.customGetter(model));
        continue;
      }
      Value v = p.get(model);
      if (v.isAbsent() || v.isNull()) {
        if (p.isOptional) {
          // Only the top-level key goes; intermediate dictionaries of a dotted path stay.
          out.erase(path);
        } else {
          storeKeyPath(out, path, Value(platform::null));
        }
        continue;
      }
      storeKeyPath(out, path, toJSON(p, v));
    }
    return out;
  }

 private:
  static void fail(Error* error, const Error& e, std::string_view name) {
    setError(error, KSJSONModelError::errorByPrependingKeyPathComponent(e, name));
  }
  // A value this property cannot take (an array for text, an object for a number, text that
  // is no number for a scalar): a deliberate ordinary type-mismatch error with the
  // property's key path, never an exception out of the import.
  static bool mismatch(Error* error, const KSJSONModelClass& cls, const KSJSONModelClassProperty& p, const Value& v) {
    fail(error,
         KSJSONModelError::errorInvalidDataWithTypeMismatch(fmt::format(
             "{} type not supported for {}.{} (JSON value of type {})", kindWord(p.kind), cls.className(), p.name,
             KSJSONValueTransformer::familyName(v))),
         p.name);
    return false;
  }

  // Whether a number lies in the property's range; a fraction is dropped first.
  static bool inRange(const Value& n, const KSJSONModelClassProperty& p) {
    if (auto b = n.toBool()) return p.minimum <= 0 && p.maximum >= (*b ? 1u : 0u);
    if (auto i = n.toInt64()) return *i >= p.minimum && (*i <= 0 || static_cast<std::uint64_t>(*i) <= p.maximum);
    if (auto u = n.toUInt64()) return *u <= p.maximum;
    if (auto d = n.toDouble()) {
      const double t = std::trunc(*d);
      return std::isfinite(t) && t >= static_cast<double>(p.minimum) && t <= static_cast<double>(p.maximum);
    }
    return false;
  }

  static bool importValue(KSJSONModel& model, const KSJSONModelClass& cls, const KSJSONModelClassProperty& p,
                          const Value& value, bool validation, Error* error) {
    switch (p.kind) {
      case Kind::Text: {
        if (value.string()) return assign(model, p, value);
        if (auto text = KSJSONValueTransformer::NSStringFromNSNumber(value)) return assign(model, p, Value(*text));
        return mismatch(error, cls, p, value);
      }
      case Kind::Number: {
        const auto take = [&](const Value& n) {
          return !p.ranged || inRange(n, p) ? assign(model, p, n) : mismatch(error, cls, p, value);
        };
        if (value.isNumber() || value.toBool()) return take(value);
        if (value.string()) {
          // Numeric text keeps its precision on purpose: integral text becomes a 64-bit
          // integer (a 10-digit id comes back exact), other text a double, never a
          // single-precision float. Text that is not a number is a type mismatch, not 0.
          if (auto n = KSJSONValueTransformer::NSNumberFromNSString(*value.string())) return take(*n);
        }
        return mismatch(error, cls, p, value);
      }
      case Kind::Date: {
        if (value.string()) {
          // Text that is no date leaves the property nil without an error.
          auto d = KSJSONValueTransformer::NSDateFromNSString(*value.string());
          return assign(model, p, d ? Value(*d) : Value());
        }
        if (auto d = KSJSONValueTransformer::NSDateFromNSNumber(value)) return assign(model, p, Value(*d));
        return mismatch(error, cls, p, value);
      }
      case Kind::Bool: {
        if (auto b = value.toBool()) return assign(model, p, Value(*b));
        if (value.isNumber()) return assign(model, p, Value(KSJSONValueTransformer::BOOLFromNSNumber(value)));
        if (value.string()) {
          if (auto b = KSJSONValueTransformer::strictBOOLFromNSString(*value.string())) return assign(model, p, Value(*b));
        }
        return mismatch(error, cls, p, value);
      }
      case Kind::Integer: {
        Value n = value;
        if (value.string()) {
          auto parsed = KSJSONValueTransformer::NSNumberFromNSString(*value.string());
          if (!parsed) return mismatch(error, cls, p, value);
          n = *parsed;
        }
        if (auto b = n.toBool()) n = Value(static_cast<std::int64_t>(*b ? 1 : 0));
        if (n.kind() == Value::Kind::Double) {
          // A fraction is dropped, as a number is read into an integer property.
          const double d = std::trunc(*n.toDouble());
          if (d >= -9.2e18 && d <= 9.2e18) {
            n = Value(static_cast<std::int64_t>(d));
          } else if (d >= 0 && d < 1.8e19) {
            n = Value(static_cast<std::uint64_t>(d));
          } else {
            return mismatch(error, cls, p, value);
          }
        }
        // Out of the property's range is a mismatch, never a wrapped value.
        if (auto i = n.toInt64()) {
          if (*i < p.minimum || (*i > 0 && static_cast<std::uint64_t>(*i) > p.maximum)) return mismatch(error, cls, p, value);
          return assign(model, p, n);
        }
        if (auto u = n.toUInt64()) {
          if (*u > p.maximum) return mismatch(error, cls, p, value);
          return assign(model, p, n);
        }
        return mismatch(error, cls, p, value);
      }
      case Kind::Double: {
        if (auto b = value.toBool()) return assign(model, p, Value(*b ? 1.0 : 0.0));
        if (auto d = value.toDouble()) return assign(model, p, Value(*d));
        if (value.string()) {
          if (auto n = KSJSONValueTransformer::NSNumberFromNSString(*value.string())) return assign(model, p, Value(*n->toDouble()));
        }
        return mismatch(error, cls, p, value);
      }
      case Kind::Record: {
        Error inner;
        auto nested = KSJSONModel::initWithDictionary(p.elementClass(), value, &inner);
        if (!nested) {
          if (!p.isOptional && validation) {
            fail(error, inner, p.name);
            return false;
          }
          return true;  // an optional nested record that does not import stays as it was
        }
        return assign(model, p, Value(std::static_pointer_cast<platform::Object>(nested)));
      }
      case Kind::RecordArray: {
        const KSJSONModelClass& element = p.elementClass();
        if (!value.array()) {
          fail(error,
               KSJSONModelError::errorInvalidDataWithTypeMismatch(fmt::format(
                   "Property '{}' is declared as NSArray<{}>* but the corresponding JSON value is not a JSON Array.", p.name,
                   element.className())),
               p.name);
          return false;
        }
        Error inner;
        auto records = KSJSONModel::arrayOfModelsFromDictionaries(element, value, &inner);
        if (!records) {
          fail(error, inner, p.name);
          return false;
        }
        platform::Array out;
        out.reserve(records->size());
        for (auto& r : *records) out.emplace_back(std::static_pointer_cast<platform::Object>(r));
        return assign(model, p, Value(std::move(out)));
      }
      case Kind::RecordDictionary: {
        const KSJSONModelClass& element = p.elementClass();
        const Dict* entries = value.dict();
        if (!entries) {
          fail(error,
               KSJSONModelError::errorInvalidDataWithTypeMismatch(fmt::format(
                   "Property '{}' is declared as NSDictionary<{}>* but the corresponding JSON value is not a JSON "
                   "Object.",
                   p.name, element.className())),
               p.name);
          return false;
        }
        // Every entry is a record under its own key; the first that does not import fails the
        // whole import, optional or not, with the entry's key and the property's name in front.
        Dict out;
        for (const auto& [key, entry] : *entries) {
          Error inner;
          auto record = KSJSONModel::initWithDictionary(element, entry, &inner);
          if (!record) {
            fail(error, KSJSONModelError::errorByPrependingKeyPathComponent(inner, key), p.name);
            return false;
          }
          out.emplace(key, Value(std::static_pointer_cast<platform::Object>(record)));
        }
        return assign(model, p, Value(std::move(out)));
      }
      case Kind::LazyRecordArray: {
        if (!value.array()) {
          fail(error,
               KSJSONModelError::errorInvalidDataWithTypeMismatch(fmt::format(
                   "Property '{}' is declared as NSArray<{}>* but the corresponding JSON value is not a JSON Array.", p.name,
                   p.elementClass().className())),
               p.name);
          return false;
        }
        auto lazy = std::make_shared<KSJSONModelArray>(*value.array(), p.elementClass());
        return assign(model, p, Value(std::static_pointer_cast<platform::Object>(lazy)));
      }
      case Kind::Array:
        if (value.array()) return assign(model, p, value);
        return mismatch(error, cls, p, value);
      case Kind::Dictionary:
        if (value.dict()) return assign(model, p, value);
        if (auto a = value.array()) {
          // An empty JSON array stands for an empty object. A non-empty one is deliberately
          // a mismatch: passing it through would put an array into a dictionary property.
          if (auto d = KSJSONValueTransformer::NSDictionaryFromNSArray(*a)) return assign(model, p, Value(std::move(*d)));
        }
        return mismatch(error, cls, p, value);
      case Kind::Any: return assign(model, p, value);
      case Kind::ReadOnly: return true;
    }
    return true;
  }

  static bool assign(KSJSONModel& model, const KSJSONModelClassProperty& p, Value v) {
    p.set(model, std::move(v));
    return true;
  }

  static Value recordJSON(const Value& v) {
    if (auto o = v.object()) {
      if (auto r = std::dynamic_pointer_cast<KSJSONModel>(*o)) return Value(r->toDictionary());
    }
    return v;
  }

  static Value toJSON(const KSJSONModelClassProperty& p, const Value& v) {
    switch (p.kind) {
      case Kind::Record: return recordJSON(v);
      case Kind::RecordArray: {
        platform::Array out;
        if (auto a = v.array()) {
          for (const auto& e : *a) out.push_back(recordJSON(e));
        }
        return Value(std::move(out));
      }
      case Kind::RecordDictionary: {
        Dict out;
        if (auto d = v.dict()) {
          for (const auto& [key, e] : *d) out.emplace(key, recordJSON(e));
        }
        return Value(std::move(out));
      }
      case Kind::LazyRecordArray: {
        // Elements already read export as records; the others are still their dictionaries.
        platform::Array out;
        if (auto o = v.object()) {
          if (auto lazy = std::dynamic_pointer_cast<KSJSONModelArray>(*o)) {
            for (const auto& e : lazy->storage()) out.push_back(recordJSON(e));
          }
        }
        return Value(std::move(out));
      }
      case Kind::Date: return Value(KSJSONValueTransformer::JSONObjectFromNSDate(*v.toDate()));
      default: return v;
    }
  }
};

KSJSONModel::~KSJSONModel() = default;

Dict KSJSONModel::toDictionary() const {
  const auto& whitelist = jsonModelClass().whitelistJSONKeys();
  return KSJSONModelImport::exportDictionary(*this, whitelist);
}

Dict KSJSONModel::toDictionaryWithKeys(const std::optional<std::vector<std::string>>& keys) const {
  return KSJSONModelImport::exportDictionary(*this, keys);
}

std::optional<std::string> KSJSONModel::toJSONString() const { return toJSONStringWithKeys(std::nullopt); }

std::optional<std::string> KSJSONModel::toJSONStringWithKeys(const std::optional<std::vector<std::string>>& keys) const {
  Error error;
  auto text = platform::json::write(Value(toDictionaryWithKeys(keys)), &error);
  if (!text) platform::Log::error(kLogCategory, "EXCEPTION: {}", error.localizedDescription);
  return text;
}

bool KSJSONModel::mergeFromDictionary(const Value& dictionary, bool useKeyMapping) {
  if (!dictionary.dict()) return false;
  const auto& cls = jsonModelClass();
  const auto global = globalKeyMapper();
  return KSJSONModelImport::importDictionary(*this, cls, dictionary, false, useKeyMapping ? cls.keyMapper().get() : nullptr,
                                             global.get(), nullptr);
}

namespace {
Value copyModelValue(const Value& v) {
  if (auto o = v.object()) {
    if (auto r = std::dynamic_pointer_cast<KSJSONModel>(*o)) return Value(std::static_pointer_cast<platform::Object>(r->copyModel()));
    if (auto lazy = std::dynamic_pointer_cast<KSJSONModelArray>(*o)) return Value(std::static_pointer_cast<platform::Object>(lazy->copy()));
    return v;
  }
  if (auto a = v.array()) {
    platform::Array out;
    out.reserve(a->size());
    for (const auto& e : *a) out.push_back(copyModelValue(e));
    return Value(std::move(out));
  }
  if (auto d = v.dict()) {
    Dict out;
    for (const auto& [key, e] : *d) out.emplace(key, copyModelValue(e));
    return Value(std::move(out));
  }
  return v;
}
}  // namespace

// Copies property by property through the record's own accessors instead of through JSON
// text: the text round trip would cut dates to whole seconds and fail on values the text
// cannot hold.
std::shared_ptr<KSJSONModel> KSJSONModel::copyModel() const {
  const auto& cls = jsonModelClass();
  auto copy = cls.newInstance();
  for (const auto& p : cls.properties()) {
    if (p.kind == Kind::ReadOnly) continue;
    p.set(*copy, copyModelValue(p.get(*this)));
  }
  return copy;
}

void KSJSONModel::encodeWithCoder(Dict& coder) const {
  if (auto text = toJSONString()) coder.insert_or_assign("json", Value(*text));
}

bool KSJSONModel::isEqual(const KSJSONModel& other) const {
  if (&other.jsonModelClass() != &jsonModelClass()) return false;
  if (auto index = jsonModelClass().indexPropertyName()) return valueForKey(*index) == other.valueForKey(*index);
  return this == &other;
}

std::size_t KSJSONModel::hash() const {
  if (auto index = jsonModelClass().indexPropertyName()) return std::hash<std::string>{}(*index);
  return std::hash<const void*>{}(this);
}

int KSJSONModel::compare(const KSJSONModel& other) const {
  const auto& index = jsonModelClass().indexPropertyName();
  if (!index) {
    platform::reportProgrammingError("Can't compare models with no <Index> property");
    return 0;
  }
  const Value a = valueForKey(*index);
  const Value b = other.valueForKey(*index);
  if (a.string() && b.string()) return a.string()->compare(*b.string()) < 0 ? -1 : (*a.string() == *b.string() ? 0 : 1);
  if (a.isNumber() && b.isNumber()) {
    const double x = *a.toDouble(), y = *b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.toDate() && b.toDate()) return *a.toDate() < *b.toDate() ? -1 : (*a.toDate() > *b.toDate() ? 1 : 0);
  platform::reportProgrammingError(fmt::format("The <Index> property of {} is not comparable class.", jsonModelClass().className()));
  return 0;
}

std::optional<std::string> KSJSONModel::indexPropertyName() const { return jsonModelClass().indexPropertyName(); }

namespace {

std::string indent(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out += "   ";
  }
  return out;
}

std::string describe(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Absent: return "<nil>";
    case Value::Kind::Null: return "<null>";
    case Value::Kind::String: return *v.string();
    case Value::Kind::Date: return v.toDate()->iso8601();
    case Value::Kind::Bytes: return fmt::format("<{} bytes>", v.bytes()->size());
    case Value::Kind::Object: {
      if (auto r = std::dynamic_pointer_cast<KSJSONModel>(*v.object())) return r->description();
      if (auto lazy = std::dynamic_pointer_cast<KSJSONModelArray>(*v.object())) return lazy->description();
      return "<object>";
    }
    case Value::Kind::Array: {
      std::string out = "(\n";
      bool first = true;
      for (const auto& e : *v.array()) {
        out += (first ? "    " : ",\n    ") + describe(e);
        first = false;
      }
      return out + "\n)";
    }
    case Value::Kind::Dict: {
      std::string out = "{\n";
      for (const auto& [k, e] : *v.dict()) out += "    " + k + " = " + describe(e) + ";\n";
      return out + "}";
    }
    default: return KSJSONValueTransformer::NSStringFromNSNumber(v).value_or("");
  }
}

// The first `count` characters of UTF-8 text, never splitting a character.
std::string_view utf8Prefix(std::string_view text, std::size_t count, std::size_t* total) {
  std::size_t chars = 0, cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars == count) cut = i;
    ++chars;
  }
  *total = chars;
  return text.substr(0, std::min(cut, text.size()));
}

}  // namespace

std::string KSJSONModel::description() const {
  const auto& cls = jsonModelClass();
  std::string out = fmt::format("<{}> \n", cls.className());
  for (const auto& p : cls.properties()) {
    if (p.kind == Kind::ReadOnly) continue;
    const Value v = p.get(*this);
    std::string text = describe(v);
    if (!v.array() && !v.dict() && !v.object() && !v.isAbsent()) {
      std::size_t chars = 0;
      const std::string_view head = utf8Prefix(text, 59, &chars);
      if (chars >= 61) text = std::string(head) + "...";
    }
    out += fmt::format("   [{}]: {}\n", p.name, indent(text));
  }
  return out + fmt::format("</{}>", cls.className());
}

Value KSJSONModel::valueForKey(std::string_view name) const {
  const auto* p = jsonModelClass().property(name);
  return p ? p->get(*this) : Value();
}

bool KSJSONModel::setValueForKey(std::string_view name, Value value) {
  const auto* p = jsonModelClass().property(name);
  if (!p || !p->set) return false;
  p->set(*this, std::move(value));
  return true;
}

bool KSJSONModel::validate(Error*) { return true; }

void KSJSONModel::setGlobalKeyMapper(std::shared_ptr<const KSJSONKeyMapper> mapper) {
  std::lock_guard lock(globalMapperMutex());
  globalMapperSlot() = std::move(mapper);
}

std::shared_ptr<const KSJSONKeyMapper> KSJSONModel::globalKeyMapper() {
  std::lock_guard lock(globalMapperMutex());
  return globalMapperSlot();
}

std::shared_ptr<KSJSONModel> KSJSONModel::initWithDictionary(const KSJSONModelClass& cls, const Value& dictionary, Error* error) {
  if (dictionary.isAbsent()) {
    setError(error, KSJSONModelError::errorInputIsNil());
    return nullptr;
  }
  if (!dictionary.dict()) {
    setError(error, KSJSONModelError::errorInvalidDataWithMessage(
                        "Attempt to initialize KSJSONModel object using initWithDictionary:error: but the dictionary "
                        "parameter was not an 'NSDictionary'."));
    return nullptr;
  }
  auto model = cls.newInstance();
  if (!model) {
    setError(error, KSJSONModelError::errorModelIsInvalid());
    return nullptr;
  }
  const auto global = globalKeyMapper();
  if (!KSJSONModelImport::requiredKeysPresent(cls, dictionary, cls.keyMapper().get(), global.get(), error)) return nullptr;
  if (!KSJSONModelImport::importDictionary(*model, cls, dictionary, true, cls.keyMapper().get(), global.get(), error)) {
    return nullptr;
  }
  if (!model->validate(error)) return nullptr;
  return model;
}

std::shared_ptr<KSJSONModel> KSJSONModel::initWithString(const KSJSONModelClass& cls, std::optional<std::string_view> text,
                                                         Error* error) {
  if (!text) {
    setError(error, KSJSONModelError::errorInputIsNil());
    return nullptr;
  }
  // The reader refuses fragments such as `123`, invalid UTF-8 and trailing text.
  auto parsed = platform::json::parse(*text);
  if (!parsed) {
    setError(error, KSJSONModelError::errorBadJSON());
    return nullptr;
  }
  return initWithDictionary(cls, *parsed, error);
}

std::shared_ptr<KSJSONModel> KSJSONModel::initWithData(const KSJSONModelClass& cls, std::span<const std::uint8_t> data,
                                                       Error* error) {
  // Bytes that are not UTF-8 fail as malformed JSON with code 3, rather than giving nil
  // with no error at all.
  return initWithString(cls, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
}

std::shared_ptr<KSJSONModel> KSJSONModel::initWithCoder(const KSJSONModelClass& cls, const Dict& coder) {
  auto it = coder.find("json");
  if (it == coder.end() || !it->second.string()) return nullptr;
  return initWithString(cls, std::string_view(*it->second.string()), nullptr);
}

std::optional<std::vector<std::shared_ptr<KSJSONModel>>> KSJSONModel::arrayOfModelsFromDictionaries(
    const KSJSONModelClass& cls, const Value& array, Error* error) {
  if (array.isAbsent() || array.isNull()) return std::nullopt;
  const auto* elements = array.array();
  if (!elements) {
    setError(error, KSJSONModelError::errorInvalidDataWithTypeMismatch("The JSON value is not a JSON Array."));
    return std::nullopt;
  }
  std::vector<std::shared_ptr<KSJSONModel>> out;
  out.reserve(elements->size());
  for (std::size_t i = 0; i < elements->size(); ++i) {
    Error inner;
    auto model = initWithDictionary(cls, (*elements)[i], &inner);
    if (!model) {
      setError(error, KSJSONModelError::errorByPrependingKeyPathComponent(inner, fmt::format("[{}]", i)));
      return std::nullopt;
    }
    out.push_back(std::move(model));
  }
  return out;
}

std::optional<std::vector<std::shared_ptr<KSJSONModel>>> KSJSONModel::arrayOfModelsFromData(
    const KSJSONModelClass& cls, std::span<const std::uint8_t> data, Error* error) {
  auto parsed = platform::json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
  if (!parsed || !parsed->array()) return std::nullopt;
  return arrayOfModelsFromDictionaries(cls, *parsed, error);
}

const KSJSONModelClassProperty* KSJSONModelClass::property(std::string_view name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &properties_[it->second];
}

}  // namespace velmora::kestrine
