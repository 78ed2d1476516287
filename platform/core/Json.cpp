#include "platform/core/Json.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/core/Utf8.h"

namespace velmora::platform::json {
namespace {

Error parseError(std::string_view why) {
  return coding::readError(coding::kReadCorrupt, fmt::format("The given data was not valid JSON. {}", why));
}

// Reads JSON text (RFC 8259) straight into a Value in one pass over the bytes: no token
// buffer, no intermediate document. Strict: whitespace is space, tab, CR and LF only;
// strings are checked to be UTF-8 and their \u escapes to pair surrogates; numbers follow
// the JSON grammar, and a number too large for a double is refused. An initial UTF-8 byte
// order mark is skipped. Containers nest iteratively on an explicit stack, so a deep
// document costs no native stack, and nesting past kMaxDepth is refused.
class Reader {
 public:
  explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()), begin_(text.data()) {}

  std::optional<Value> document() {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
    skipSpace();
    if (p_ == end_) return fail("unexpected end of input; expected '[' or '{'");
    if (*p_ != '{' && *p_ != '[') return fail("top-level value is not an object or an array");
    std::optional<Value> root = parseContainers();
    if (!root) return std::nullopt;
    skipSpace();
    if (p_ != end_) return fail("trailing data");
    return root;
  }

  std::string failure;

 private:
  struct Frame {
    Value value;
    std::string key;
    bool isArray;
  };

  std::nullopt_t fail(std::string_view why) {
    if (failure.empty()) failure = fmt::format("{} at byte {}", why, p_ - begin_);
    return std::nullopt;
  }

  void skipSpace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  // Opens a container at *p_ ('{' or '['); false when too deep.
  bool open(std::vector<Frame>& stack) {
    if (static_cast<int>(stack.size()) >= kMaxDepth) {
      fail("nesting too deep");
      return false;
    }
    const bool isArray = *p_++ == '[';
    stack.push_back(Frame{isArray ? Value(Array{}) : Value(Dict{}), {}, isArray});
    return true;
  }

  // Reads a key and its colon into the top frame; false on error.
  bool key(Frame& top) {
    skipSpace();
    if (p_ == end_ || *p_ != '"') {
      fail("expected a string key");
      return false;
    }
    top.key.clear();
    if (!string(top.key)) return false;
    skipSpace();
    if (p_ == end_ || *p_ != ':') {
      fail("expected ':'");
      return false;
    }
    ++p_;
    return true;
  }

  static void add(Frame& top, Value v) {
    if (top.isArray) {
      top.value.array()->push_back(std::move(v));
    } else {
      // Duplicate keys: the last one wins, as in most readers.
      top.value.dict()->insert_or_assign(std::move(top.key), std::move(v));
    }
  }

  std::optional<Value> parseContainers() {
    std::vector<Frame> stack;
    if (!open(stack)) return std::nullopt;
    // After an open: the container may close at once, else a member follows.
    bool first = true;
    for (;;) {
      Frame& top = stack.back();
      skipSpace();
      if (p_ == end_) return fail("unexpected end of input");
      const char closer = top.isArray ? ']' : '}';
      if (*p_ == closer && first) {
        ++p_;
      } else {
        if (!first) {
          if (*p_ == closer) {
            ++p_;
          } else if (*p_ == ',') {
            ++p_;
          } else {
            return fail(top.isArray ? "expected ',' or ']'" : "expected ',' or '}'");
          }
        }
        if (first || p_[-1] == ',') {
          if (!top.isArray && !key(top)) return std::nullopt;
          skipSpace();
          if (p_ == end_) return fail("unexpected end of input; expected a value");
          if (*p_ == '{' || *p_ == '[') {
            if (!open(stack)) return std::nullopt;
            first = true;
            continue;
          }
          std::optional<Value> v = scalar();
          if (!v) return std::nullopt;
          add(top, std::move(*v));
          first = false;
          continue;
        }
      }
      // The top container closed.
      Value done = std::move(stack.back().value);
      stack.pop_back();
      if (stack.empty()) return done;
      add(stack.back(), std::move(done));
      first = false;
    }
  }

  bool literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) >= word.size() && std::memcmp(p_, word.data(), word.size()) == 0) {
      p_ += word.size();
      return true;
    }
    fail("invalid literal");
    return false;
  }

  std::optional<Value> scalar() {
    switch (*p_) {
      case '"': {
        std::string s;
        if (!string(s)) return std::nullopt;
        return Value(std::move(s));
      }
      case 't': return literal("true") ? std::optional<Value>(Value(true)) : std::nullopt;
      case 'f': return literal("false") ? std::optional<Value>(Value(false)) : std::nullopt;
      case 'n': return literal("null") ? std::optional<Value>(Value(platform::null)) : std::nullopt;
      default: return number();
    }
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  std::optional<Value> number() {
    const char* start = p_;
    const bool negative = p_ != end_ && *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_ || !digit(*p_)) return fail("invalid number or value");
    if (*p_ == '0') {
      ++p_;
    } else {
      while (p_ != end_ && digit(*p_)) ++p_;
    }
    bool integral = true;
    if (p_ != end_ && *p_ == '.') {
      integral = false;
      ++p_;
      if (p_ == end_ || !digit(*p_)) return fail("invalid number: expected a digit after '.'");
      while (p_ != end_ && digit(*p_)) ++p_;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      integral = false;
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !digit(*p_)) return fail("invalid number: expected a digit in the exponent");
      while (p_ != end_ && digit(*p_)) ++p_;
    }
    if (integral) {
      // Integers keep their kind: Int when they fit in int64, else UInt when they fit in
      // uint64; larger ones become doubles.
      if (negative) {
        std::int64_t n = 0;
        const auto r = std::from_chars(start, p_, n);
        if (r.ec == std::errc() && r.ptr == p_) return Value(n);
      } else {
        std::uint64_t n = 0;
        const auto r = std::from_chars(start, p_, n);
        if (r.ec == std::errc() && r.ptr == p_) {
          if (n <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<std::int64_t>(n));
          return Value(n);
        }
      }
    }
    double d = 0;
    const auto r = std::from_chars(start, p_, d);
    if (r.ptr != p_) return fail("invalid number");
    if (r.ec == std::errc::result_out_of_range) {
      // Underflow reads as the nearest double (zero or a subnormal), as strtod gives it;
      // overflow is refused.
      if (!std::isfinite(std::strtod(std::string(start, p_).c_str(), nullptr))) return fail("number overflow");
      d = std::strtod(std::string(start, p_).c_str(), nullptr);
    }
    return Value(d);
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Four hex digits after "\u"; -1 when they are not.
  int hex4() {
    if (end_ - p_ < 4) return -1;
    int v = 0;
    for (int k = 0; k < 4; ++k) {
      const int h = hexDigit(p_[k]);
      if (h < 0) return -1;
      v = v * 16 + h;
    }
    p_ += 4;
    return v;
  }

  static void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // Reads a string at *p_ == '"' into out; copies runs of plain bytes whole.
  bool string(std::string& out) {
    ++p_;
    const std::string_view rest(p_, static_cast<std::size_t>(end_ - p_));
    std::size_t i = 0;
    std::size_t run = 0;
    while (i < rest.size()) {
      const auto c = static_cast<unsigned char>(rest[i]);
      if (c == '"') {
        out.append(rest.data() + run, i - run);
        p_ = rest.data() + i + 1;
        return true;
      }
      if (c < 0x20) {
        p_ = rest.data() + i;
        fail("control character in a string must be escaped");
        return false;
      }
      if (c >= 0x80) {
        const std::size_t length = utf8SequenceLength(rest, i);
        if (length == 0) {
          p_ = rest.data() + i;
          fail("invalid UTF-8 in a string");
          return false;
        }
        i += length;
        continue;
      }
      if (c != '\\') {
        ++i;
        continue;
      }
      out.append(rest.data() + run, i - run);
      if (i + 1 >= rest.size()) break;
      const char e = rest[i + 1];
      i += 2;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          p_ = rest.data() + i;
          const int high = hex4();
          if (high < 0) {
            fail("'\\u' must be followed by 4 hex digits");
            return false;
          }
          std::uint32_t cp = static_cast<std::uint32_t>(high);
          if (cp >= 0xDC00 && cp <= 0xDFFF) {
            fail("a low surrogate without a high one");
            return false;
          }
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
              fail("a high surrogate must be followed by a low one");
              return false;
            }
            p_ += 2;
            const int low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) {
              fail("a high surrogate must be followed by a low one");
              return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
          }
          appendUtf8(out, cp);
          i = static_cast<std::size_t>(p_ - rest.data());
          break;
        }
        default:
          p_ = rest.data() + i - 1;
          fail("invalid escape in a string");
          return false;
      }
      run = i;
    }
    p_ = end_;
    fail("unexpected end of input in a string");
    return false;
  }

  const char* p_;
  const char* end_;
  const char* begin_;
};

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
  Reader reader(text);
  if (auto value = reader.document()) return value;
  if (error) *error = parseError(reader.failure);
  return std::nullopt;
}

std::optional<std::string> write(const Value& value, Error* error) {
  Writer writer;
  writer.out.reserve(256);
  if (writer.value(value, 0)) return std::move(writer.out);
  if (error) *error = coding::writeError(writer.why);
  return std::nullopt;
}

}  // namespace velmora::platform::json
