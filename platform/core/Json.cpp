#include "platform/core/Json.h"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>

namespace platform::json {
namespace {

using nlohmann::json;

// Builds the Value from the SAX events directly, so deep documents never recurse and the
// depth limit is enforced while reading.
class ValueBuilder final : public nlohmann::json_sax<json> {
 public:
  std::optional<Value> root;
  std::string failure;

  bool null() override { return put(Value(platform::null)); }
  bool boolean(bool b) override { return put(Value(b)); }
  bool number_integer(number_integer_t n) override { return put(Value(static_cast<std::int64_t>(n))); }
  bool number_unsigned(number_unsigned_t n) override {
    if (n <= static_cast<std::uint64_t>(INT64_MAX)) return put(Value(static_cast<std::int64_t>(n)));
    return put(Value(static_cast<std::uint64_t>(n)));
  }
  bool number_float(number_float_t d, const string_t&) override { return put(Value(d)); }
  bool string(string_t& s) override { return put(Value(std::move(s))); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }

  bool start_object(std::size_t) override { return open(Value(Dict{})); }
  bool key(string_t& k) override {
    stack_.back().key = std::move(k);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value(Array{})); }
  bool end_array() override { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
    return fail(ex.what());
  }

 private:
  struct Frame {
    Value value;
    std::string key;
  };

  bool fail(std::string why) {
    if (failure.empty()) failure = std::move(why);
    return false;
  }

  bool open(Value container) {
    if (stack_.empty() && root) return fail("trailing data");
    if (static_cast<int>(stack_.size()) >= kMaxDepth) return fail("nesting too deep");
    stack_.push_back(Frame{std::move(container), {}});
    return true;
  }

  bool close() {
    Value done = std::move(stack_.back().value);
    stack_.pop_back();
    if (stack_.empty()) {
      root = std::move(done);
      return true;
    }
    return put(std::move(done));
  }

  bool put(Value v) {
    if (stack_.empty()) return fail("top-level value is not an object or an array");
    Frame& top = stack_.back();
    if (Array* a = top.value.array()) {
      a->push_back(std::move(v));
    } else {
      Dict& d = *top.value.dict();
      // Duplicate keys: the last one wins, as in most readers.
      d.insert_or_assign(std::move(top.key), std::move(v));
    }
    return true;
  }

  std::vector<Frame> stack_;
};

Error parseError(std::string_view why) {
  return coding::readError(coding::kReadCorrupt, fmt::format("The given data was not valid JSON. {}", why));
}

bool toJson(const Value& v, json& out, std::string& why, int depth) {
  if (depth > kMaxDepth) {
    why = "nesting too deep";
    return false;
  }
  switch (v.kind()) {
    case Value::Kind::Null: out = nullptr; return true;
    case Value::Kind::Bool: out = *v.toBool(); return true;
    case Value::Kind::Int: out = *v.toInt64(); return true;
    case Value::Kind::UInt: out = *v.toUInt64(); return true;
    case Value::Kind::Double: {
      const double d = *v.toDouble();
      if (!std::isfinite(d)) {
        why = fmt::format("Invalid number value ({}) in JSON write", d);
        return false;
      }
      out = d;
      return true;
    }
    case Value::Kind::String: out = *v.string(); return true;
    case Value::Kind::Array: {
      out = json::array();
      for (const Value& e : *v.array()) {
        json j;
        if (e.isAbsent()) {
          why = "an array holds an absent value";
          return false;
        }
        if (!toJson(e, j, why, depth + 1)) return false;
        out.push_back(std::move(j));
      }
      return true;
    }
    case Value::Kind::Dict: {
      out = json::object();
      for (const auto& [k, e] : *v.dict()) {
        if (e.isAbsent()) continue;
        json j;
        if (!toJson(e, j, why, depth + 1)) return false;
        out[k] = std::move(j);
      }
      return true;
    }
    case Value::Kind::Absent:
    case Value::Kind::Bytes:
    case Value::Kind::Date:
    case Value::Kind::Object:
      why = fmt::format("Invalid type in JSON write ({})", Value::kindName(v.kind()));
      return false;
  }
  return false;
}

}  // namespace

std::optional<Value> parse(std::string_view text, Error* error) {
  ValueBuilder builder;
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &builder, json::input_format_t::json, true, false);
  } catch (const std::exception& ex) {
    builder.failure = ex.what();
    ok = false;
  }
  if (ok && builder.root) return std::move(builder.root);
  if (error) *error = parseError(builder.failure.empty() ? "No value." : builder.failure);
  return std::nullopt;
}

std::optional<std::string> write(const Value& value, Error* error) {
  json j;
  std::string why;
  if (toJson(value, j, why, 0)) {
    try {
      return j.dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const std::exception& ex) {
      why = ex.what();
    }
  }
  if (error) *error = coding::writeError(why);
  return std::nullopt;
}

}  // namespace platform::json
