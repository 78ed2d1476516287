#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/Date.h"

namespace velmora::platform {

class Value;
using Array = std::vector<Value>;
using Dict = std::map<std::string, Value, std::less<>>;
using Bytes = std::vector<std::uint8_t>;

// The JSON null / "null object", distinct from an absent value.
struct Null {
  friend constexpr bool operator==(Null, Null) { return true; }
};
inline constexpr Null null{};

// An opaque reference to an object of the SDK carried inside a Value (a model object put
// into a user-info dictionary, say). Compared by identity.
class Object {
 public:
  virtual ~Object() = default;
};

// The dynamic value: what a property list, a JSON document or a user-info dictionary holds.
//
// Kinds are kept apart exactly: Absent (no value at all) is not Null, Bool is not a
// number, and signed integers, unsigned integers and doubles stay what they were made as.
// A default-constructed Value is Absent. Looking up a missing key yields Absent.
class Value {
 public:
  // The kinds are named after the types they hold; a scoped enumerator is always written
  // Kind::Bytes, so the names hide nothing, though GCC's -Wshadow says they do.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
  enum class Kind { Absent, Null, Bool, Int, UInt, Double, String, Bytes, Date, Array, Dict, Object };
#pragma GCC diagnostic pop

  Value() = default;
  Value(Null) : v_(Null{}) {}
  Value(bool b) : v_(b) {}
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  Value(T n) {
    if constexpr (std::is_signed_v<T>) {
      v_ = static_cast<std::int64_t>(n);
    } else {
      v_ = static_cast<std::uint64_t>(n);
    }
  }
  Value(double d) : v_(d) {}
  Value(float f) : v_(static_cast<double>(f)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Bytes b) : v_(std::move(b)) {}
  Value(Date d) : v_(d) {}
  Value(Array a) : v_(Box<Array>(std::move(a))) {}
  Value(Dict d) : v_(Box<Dict>(std::move(d))) {}
  Value(std::shared_ptr<Object> o) : v_(std::move(o)) {}

  // Builds a dictionary: Value::makeDict({{"a", 1}, {"b", "x"}}).
  static Value makeDict(std::initializer_list<std::pair<const std::string, Value>> items = {});
  static Value makeArray(std::initializer_list<Value> items = {});

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool isAbsent() const { return kind() == Kind::Absent; }
  bool isNull() const { return kind() == Kind::Null; }
  bool isNumber() const { return kind() == Kind::Int || kind() == Kind::UInt || kind() == Kind::Double; }
  explicit operator bool() const = delete;  // ask isAbsent() or a typed accessor instead

  // Typed access. Each yields a value only for its own kind, with these widenings:
  // toInt64 takes a UInt that fits; toUInt64 takes a non-negative Int; toDouble takes
  // any number (an integer converted to the nearest double).
  std::optional<bool> toBool() const;
  std::optional<std::int64_t> toInt64() const;
  std::optional<std::uint64_t> toUInt64() const;
  std::optional<double> toDouble() const;
  std::optional<Date> toDate() const;
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const Bytes* bytes() const { return std::get_if<Bytes>(&v_); }
  const Array* array() const;
  Array* array();
  const Dict* dict() const;
  Dict* dict();
  const std::shared_ptr<Object>* object() const { return std::get_if<std::shared_ptr<Object>>(&v_); }

  // Dictionary lookup: the value under key, or Absent when this is not a dictionary or
  // has no such key.
  const Value& operator[](std::string_view key) const;
  // Array element, or Absent when out of range or not an array.
  const Value& operator[](std::size_t index) const;
  // Sets key to value, turning an Absent or Null value into a dictionary first.
  // Setting an Absent value removes the key. Returns false when this is another kind.
  bool set(std::string_view key, Value value);
  // Appends to an array, turning an Absent value into an array first.
  bool append(Value value);
  std::size_t size() const;  // elements of an array or dictionary, 0 otherwise

  static std::string_view kindName(Kind kind);

  friend bool operator==(const Value& a, const Value& b);

 private:
  // A deep-copying owner, so Value can hold its own recursive containers.
  template <class T>
  class Box {
   public:
    explicit Box(T t) : p_(std::make_unique<T>(std::move(t))) {}
    Box(const Box& o) : p_(std::make_unique<T>(*o.p_)) {}
    Box(Box&&) noexcept = default;
    Box& operator=(const Box& o) {
      if (this != &o) p_ = std::make_unique<T>(*o.p_);
      return *this;
    }
    Box& operator=(Box&&) noexcept = default;
    T& operator*() { return *p_; }
    const T& operator*() const { return *p_; }

   private:
    std::unique_ptr<T> p_;
  };

  std::variant<std::monostate, Null, bool, std::int64_t, std::uint64_t, double, std::string, Bytes,
               Date, Box<Array>, Box<Dict>, std::shared_ptr<Object>>
      v_;
};

}  // namespace velmora::platform
