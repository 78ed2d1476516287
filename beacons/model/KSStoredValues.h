#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine::stored_values {

// The forms in which the records hand their fields to stored rows, and read them back.
inline platform::Value toValue(const std::optional<std::string>& v) { return v ? platform::Value(*v) : platform::Value(); }
inline platform::Value toValue(const std::optional<platform::Date>& v) { return v ? platform::Value(*v) : platform::Value(); }
inline platform::Value toValue(const platform::Value& v) { return v; }
inline platform::Value toValue(bool v) { return platform::Value(v); }
inline platform::Value toValue(std::int64_t v) { return platform::Value(v); }
inline platform::Value toValue(const std::optional<bool>& v) { return v ? platform::Value(*v) : platform::Value(); }

inline std::optional<std::string> text(const platform::Value& v) {
  if (const std::string* s = v.string()) return *s;
  return std::nullopt;
}
inline std::optional<platform::Date> date(const platform::Value& v) { return v.toDate(); }
// A number as stored; anything else reads as absent.
inline platform::Value number(const platform::Value& v) { return v.isNumber() ? v : platform::Value(); }
// A stored boolean: a boolean, or a number read as its truth; absent otherwise.
inline std::optional<bool> optionalBoolean(const platform::Value& v) {
  if (auto b = v.toBool()) return b;
  if (auto d = v.toDouble()) return *d != 0;
  return std::nullopt;
}
inline bool boolean(const platform::Value& v) { return optionalBoolean(v).value_or(false); }
inline std::int64_t integer(const platform::Value& v) {
  if (auto i = v.toInt64()) return *i;
  if (auto b = v.toBool()) return *b ? 1 : 0;
  return 0;
}

}  // namespace velmora::kestrine::stored_values
