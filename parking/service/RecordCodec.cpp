#include "parking/service/RecordCodec.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "platform/core/Json.h"

namespace velmora {

using platform::Value;

namespace {

// The JSON type name of a value, as decoding errors report it.
std::string_view foundName(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null: return "a null value";
    case Value::Kind::Bool: return "a bool";
    case Value::Kind::Int:
    case Value::Kind::UInt:
    case Value::Kind::Double: return "a number";
    case Value::Kind::String: return "a string";
    case Value::Kind::Array: return "an array";
    case Value::Kind::Dict: return "a dictionary";
    default: return "an unsupported value";
  }
}

// A JSON number read as a signed 64-bit integer: integers that fit, and doubles whose
// fraction is zero and that lie strictly inside the range (5.0 reads as 5). A double of
// exactly -2^63 is refused: it is also what the texts just below the range read as
// (-9223372036854775809, -9223372036854775808.5), which do not fit; the integer -2^63
// itself arrives as an integer, not a double.
std::optional<std::int64_t> asInt64(const Value& v) {
  if (auto i = v.toInt64()) return i;
  if (v.kind() == Value::Kind::Double) {
    const double d = *v.toDouble();
    if (std::trunc(d) == d && d > -9223372036854775808.0 && d < 9223372036854775808.0) {
      return static_cast<std::int64_t>(d);
    }
  }
  return std::nullopt;
}

std::string joinPath(const std::string& base, std::string_view key) {
  if (base.empty()) return std::string(key);
  return base + "." + std::string(key);
}

}  // namespace

RecordDecoder::RecordDecoder(const Value& object, std::string codingPath, const DateRule* dates)
    : object_(object), path_(std::move(codingPath)), dates_(dates) {}

bool RecordDecoder::expectObject() {
  if (object_.dict()) return true;
  fail(platform::coding::readError(
      platform::coding::kReadCorrupt,
      fmt::format("Expected to decode Dictionary but found {} instead.", foundName(object_)), path_));
  return false;
}

void RecordDecoder::fail(platform::Error error) {
  if (!error_) error_ = std::move(error);
}

std::string RecordDecoder::pathFor(std::string_view key) const { return joinPath(path_, key); }

std::string RecordDecoder::pathFor(std::string_view key, std::size_t index) const {
  return fmt::format("{}[{}]", pathFor(key), index);
}

const Value* RecordDecoder::present(std::string_view key) {
  const Value& v = object_[key];
  if (v.isAbsent() || v.isNull()) return nullptr;
  return &v;
}

void RecordDecoder::typeMismatch(std::string_view key, std::string_view expected, const Value& found) {
  fail(platform::coding::readError(
      platform::coding::kReadCorrupt,
      fmt::format("Expected to decode {} but found {} instead.", expected, foundName(found)), pathFor(key)));
}

void RecordDecoder::valueNotFound(std::string_view key, std::string_view expected) {
  fail(platform::coding::readError(
      platform::coding::kValueNotFound,
      fmt::format("No value associated with key \"{}\"; expected {}.", key, expected), pathFor(key)));
}

std::optional<std::string> RecordDecoder::optionalString(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  if (const std::string* s = v->string()) return *s;
  typeMismatch(key, "String", *v);
  return std::nullopt;
}

std::optional<std::int64_t> RecordDecoder::optionalInt64(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  if (auto i = asInt64(*v)) return i;
  if (v->isNumber()) {
    fail(platform::coding::readError(
        platform::coding::kReadCorrupt,
        fmt::format("Parsed JSON number does not fit in Int64."), pathFor(key)));
  } else {
    typeMismatch(key, "Int64", *v);
  }
  return std::nullopt;
}

std::optional<double> RecordDecoder::optionalNumber(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  if (auto d = v->toDouble()) return d;
  typeMismatch(key, "Double", *v);
  return std::nullopt;
}

std::optional<bool> RecordDecoder::optionalBoolean(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  if (auto b = v->toBool()) return b;
  typeMismatch(key, "Bool", *v);
  return std::nullopt;
}

std::optional<platform::Date> RecordDecoder::optionalDate(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  if (dates_ && *dates_) {
    platform::Error error;
    if (auto d = (*dates_)(*v, pathFor(key), &error)) return d;
    fail(std::move(error));
    return std::nullopt;
  }
  if (auto seconds = v->toDouble()) return platform::Date::fromReferenceSeconds(*seconds);
  typeMismatch(key, "Double", *v);
  return std::nullopt;
}

std::optional<std::vector<std::string>> RecordDecoder::readStrings(std::string_view key, const Value& v) {
  const platform::Array* a = v.array();
  if (!a) {
    typeMismatch(key, "Array", v);
    return std::nullopt;
  }
  std::vector<std::string> out;
  out.reserve(a->size());
  for (std::size_t i = 0; i < a->size(); ++i) {
    const std::string* s = (*a)[i].string();
    if (!s) {
      fail(platform::coding::readError(
          platform::coding::kReadCorrupt,
          fmt::format("Expected to decode String but found {} instead.", foundName((*a)[i])), pathFor(key, i)));
      return std::nullopt;
    }
    out.push_back(*s);
  }
  return out;
}

std::optional<std::vector<std::string>> RecordDecoder::optionalStrings(std::string_view key) {
  const Value* v = present(key);
  if (!v) return std::nullopt;
  return readStrings(key, *v);
}

std::string RecordDecoder::string(std::string_view key, std::string fallback) {
  auto v = optionalString(key);
  return v ? std::move(*v) : std::move(fallback);
}

std::int64_t RecordDecoder::int64(std::string_view key, std::int64_t fallback) {
  return optionalInt64(key).value_or(fallback);
}

double RecordDecoder::number(std::string_view key, double fallback) {
  return optionalNumber(key).value_or(fallback);
}

bool RecordDecoder::boolean(std::string_view key, bool fallback) {
  return optionalBoolean(key).value_or(fallback);
}

std::vector<std::string> RecordDecoder::strings(std::string_view key) {
  auto v = optionalStrings(key);
  return v ? std::move(*v) : std::vector<std::string>{};
}

std::string RecordDecoder::requiredString(std::string_view key) {
  if (!present(key)) {
    valueNotFound(key, "String");
    return {};
  }
  return string(key);
}

std::int64_t RecordDecoder::requiredInt64(std::string_view key) {
  if (!present(key)) {
    valueNotFound(key, "Int64");
    return 0;
  }
  return int64(key, 0);
}

double RecordDecoder::requiredNumber(std::string_view key) {
  if (!present(key)) {
    valueNotFound(key, "Double");
    return 0;
  }
  return number(key, 0);
}

bool RecordDecoder::requiredBoolean(std::string_view key) {
  if (!present(key)) {
    valueNotFound(key, "Bool");
    return false;
  }
  return boolean(key);
}

platform::Date RecordDecoder::requiredDate(std::string_view key) {
  if (!present(key)) {
    valueNotFound(key, "Date");
    return {};
  }
  return optionalDate(key).value_or(platform::Date());
}

std::string RecordEncoder::codingPath() const {
  if (!parent_) return path_;
  std::string path = parent_->pathFor(key_);
  if (index_) path += fmt::format("[{}]", *index_);
  return path;
}

std::string RecordEncoder::pathFor(std::string_view key) const { return joinPath(codingPath(), key); }

RecordKeyOrder& RecordEncoder::noteKey(std::string_view key) {
  for (auto& k : order_.keys) {
    if (k.name == key) return k.value;
  }
  order_.keys.push_back({std::string(key), {}});
  return order_.keys.back().value;
}

void RecordEncoder::put(std::string_view key, const std::string& value) {
  object_.set(key, Value(value));
  noteKey(key);
}

void RecordEncoder::put(std::string_view key, std::int64_t value) {
  object_.set(key, Value(value));
  noteKey(key);
}

void RecordEncoder::put(std::string_view key, double value) {
  if (!std::isfinite(value)) {
    if (!error_) {
      error_ = platform::coding::writeError(
          fmt::format("Unable to encode Double.{} directly in JSON.",
                      std::isnan(value) ? "nan" : (value > 0 ? "infinity" : "-infinity")),
          pathFor(key));
    }
    return;
  }
  object_.set(key, Value(value));
  noteKey(key);
}

void RecordEncoder::put(std::string_view key, bool value) {
  object_.set(key, Value(value));
  noteKey(key);
}

void RecordEncoder::put(std::string_view key, platform::Date value) {
  put(key, value.timeIntervalSinceReferenceDate());
}

void RecordEncoder::put(std::string_view key, const std::vector<std::string>& values) {
  platform::Array list;
  list.reserve(values.size());
  for (const auto& s : values) list.emplace_back(s);
  object_.set(key, Value(std::move(list)));
  noteKey(key);
}

std::optional<Value> parseRecordText(std::string_view text, platform::Error* error) {
  return platform::json::parse(text, error);
}

std::optional<std::string> writeRecordText(const Value& value, platform::Error* error) {
  return platform::json::write(value, error);
}

namespace {

// Appends the value's JSON text, objects' keys in the order given (then any others, sorted);
// what has no order of its own (text, numbers, lists of text) is written as usual.
bool writeOrdered(const Value& value, const RecordKeyOrder* order, std::string& out, platform::Error* error) {
  const auto append = [&](const Value& v) {
    auto text = platform::json::write(v, error);
    if (!text) return false;
    out += *text;
    return true;
  };
  if (const platform::Dict* dict = value.dict(); dict && order) {
    out += '{';
    bool first = true;
    const auto member = [&](const std::string& key, const Value& v, const RecordKeyOrder* inner) {
      if (v.isAbsent()) return true;
      if (!first) out += ',';
      first = false;
      if (!append(Value(key))) return false;
      out += ':';
      return writeOrdered(v, inner, out, error);
    };
    for (const auto& key : order->keys) {
      auto it = dict->find(key.name);
      if (it != dict->end() && !member(key.name, it->second, &key.value)) return false;
    }
    for (const auto& entry : *dict) {
      const auto& name = entry.first;
      const bool ordered = std::any_of(order->keys.begin(), order->keys.end(),
                                       [&](const RecordKeyOrder::Key& k) { return k.name == name; });
      if (!ordered && !member(name, entry.second, nullptr)) return false;
    }
    out += '}';
    return true;
  }
  if (const platform::Array* array = value.array(); array && order && !order->elements.empty()) {
    out += '[';
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (i > 0) out += ',';
      if (!writeOrdered((*array)[i], i < order->elements.size() ? &order->elements[i] : nullptr, out, error)) {
        return false;
      }
    }
    out += ']';
    return true;
  }
  return append(value);
}

}  // namespace

std::optional<std::string> writeRecordText(const Value& value, const RecordKeyOrder& order, platform::Error* error) {
  std::string out;
  out.reserve(256);
  if (!writeOrdered(value, &order, out, error)) return std::nullopt;
  return out;
}

}  // namespace velmora
