#include "platform/core/Json.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstring>
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

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not well formed (overlong
// forms, surrogates and code points past U+10FFFF are refused, as the reader refuses them).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// Writes a finite double in the shortest form that reads back to the same bits (std::to_chars
// picks the shortest digits, and of those the closest), laid out so that it always reads back
// as a double: "2.0", "0.001", "1e-05", "1.5e+300", "123456789012345.0", "-0.0". Plain
// notation is used while the decimal point falls within 15 digits of the first one and no
// more than 4 zeros follow the point; an exponent has a sign and at least two digits.
// Returns the length written into out (at most 32 bytes).
std::size_t formatDouble(double d, char* out) {
  char* p = out;
  if (std::signbit(d)) {
    *p++ = '-';
    d = -d;
  }
  if (d == 0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p + 3 - out);
  }
  // Shortest digits in scientific form: "d.ddde+XX" or "de-XX".
  char sci[32];
  const auto result = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific);
  char digits[20];
  int length = 0;
  const char* c = sci;
  for (; c != result.ptr && *c != 'e'; ++c) {
    if (*c != '.') digits[length++] = *c;
  }
  int exponent = 0;
  std::from_chars(c + 1 + (c[1] == '+' ? 1 : 0), result.ptr, exponent);
  // The value is 0.digits times 10 to the power n.
  const int n = exponent + 1;
  constexpr int kMaxPlain = 15;
  constexpr int kMinPlain = -4;
  if (length <= n && n <= kMaxPlain) {
    std::memcpy(p, digits, static_cast<std::size_t>(length));
    p += length;
    std::memset(p, '0', static_cast<std::size_t>(n - length));
    p += n - length;
    *p++ = '.';
    *p++ = '0';
  } else if (0 < n && n <= kMaxPlain) {
    std::memcpy(p, digits, static_cast<std::size_t>(n));
    p += n;
    *p++ = '.';
    std::memcpy(p, digits + n, static_cast<std::size_t>(length - n));
    p += length - n;
  } else if (kMinPlain < n && n <= 0) {
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', static_cast<std::size_t>(-n));
    p += -n;
    std::memcpy(p, digits, static_cast<std::size_t>(length));
    p += length;
  } else {
    *p++ = digits[0];
    if (length > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, static_cast<std::size_t>(length - 1));
      p += length - 1;
    }
    *p++ = 'e';
    int e = n - 1;
    *p++ = e < 0 ? '-' : '+';
    if (e < 0) e = -e;
    if (e < 10) *p++ = '0';
    p = std::to_chars(p, p + 4, e).ptr;
  }
  return static_cast<std::size_t>(p - out);
}

// Writes a Value as compact JSON text straight into one string: object keys in their sorted
// order, strings escaped only where JSON requires it (quote, backslash, control characters),
// non-ASCII text left as UTF-8, and doubles in the shortest form that reads back to the same
// bits, always with a fraction or exponent so that they read back as doubles.
class Writer {
 public:
  std::string out;
  std::string why;

  bool value(const Value& v, int depth) {
    if (depth > kMaxDepth) {
      why = "nesting too deep";
      return false;
    }
    switch (v.kind()) {
      case Value::Kind::Null: out += "null"; return true;
      case Value::Kind::Bool: out += *v.toBool() ? "true" : "false"; return true;
      case Value::Kind::Int: integer(*v.toInt64()); return true;
      case Value::Kind::UInt: integer(*v.toUInt64()); return true;
      case Value::Kind::Double: return number(*v.toDouble());
      case Value::Kind::String: return string(*v.string());
      case Value::Kind::Array: {
        out += '[';
        bool first = true;
        for (const Value& e : *v.array()) {
          if (e.isAbsent()) {
            why = "an array holds an absent value";
            return false;
          }
          if (!first) out += ',';
          first = false;
          if (!value(e, depth + 1)) return false;
        }
        out += ']';
        return true;
      }
      case Value::Kind::Dict: {
        out += '{';
        bool first = true;
        for (const auto& [k, e] : *v.dict()) {
          if (e.isAbsent()) continue;
          if (!first) out += ',';
          first = false;
          if (!string(k)) return false;
          out += ':';
          if (!value(e, depth + 1)) return false;
        }
        out += '}';
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

 private:
  template <class Integer>
  void integer(Integer n) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
  }

  bool number(double d) {
    if (!std::isfinite(d)) {
      why = fmt::format("Invalid number value ({}) in JSON write", d);
      return false;
    }
    char buffer[40];
    const std::size_t length = formatDouble(d, buffer);
    out.append(buffer, length);
    return true;
  }

  // Appends runs of bytes that need no escape in one go; only the bytes that do are written
  // one by one.
  bool string(std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    std::size_t run = 0;  // start of the bytes not yet copied
    while (i < s.size()) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
        ++i;
        continue;
      }
      if (c >= 0x80) {
        const std::size_t length = utf8SequenceLength(s, i);
        if (length == 0) {
          why = fmt::format("invalid UTF-8 byte at index {}: 0x{:02X}", i, c);
          return false;
        }
        i += length;
        continue;
      }
      out.append(s.data() + run, i - run);
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
          const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          out.append(escape, sizeof escape);
        }
      }
      ++i;
      run = i;
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
    return true;
  }
};

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
  Writer writer;
  writer.out.reserve(256);
  if (writer.value(value, 0)) return std::move(writer.out);
  if (error) *error = coding::writeError(writer.why);
  return std::nullopt;
}

}  // namespace platform::json
