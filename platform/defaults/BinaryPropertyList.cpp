#include "platform/defaults/BinaryPropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fmt/format.h>

#include "platform/core/Utf8.h"

namespace velmora::platform::defaults {
namespace {

constexpr std::int64_t kReferenceMicros = Date::kReferenceDateUnixSeconds * 1'000'000;
constexpr std::int64_t kMicrosPerSecond = 1'000'000;

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Text the file can keep: well-formed UTF-8 without a NUL, which the library would cut at.
bool validUtf8(std::string_view s) { return s.find('\0') == std::string_view::npos && platform::isValidUtf8(s); }

// Why a value cannot be stored at the given nesting level (0 for a top-level value).
std::optional<std::string> refusalAt(const Value& value, std::size_t level) {
  switch (value.kind()) {
    case Value::Kind::Absent:
    case Value::Kind::Null:
    case Value::Kind::Object:
      return fmt::format("a {} value cannot be stored", Value::kindName(value.kind()));
    case Value::Kind::UInt:
      if (*value.toUInt64() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::string("an unsigned integer above 2^63-1 cannot be stored");
      }
      return std::nullopt;
    case Value::Kind::String:
      if (!validUtf8(*value.string())) return std::string("text is not valid UTF-8 or holds a NUL");
      return std::nullopt;
    case Value::Kind::Date: {
      const std::int64_t micros = value.toDate()->unixMicros();
      // Overflow-safe: the reference offset is far from the int64 limits.
      if (micros < std::numeric_limits<std::int64_t>::min() + kReferenceMicros) {
        return std::string("the date is outside 1933-12-13 to 2069-01-19");
      }
      const std::int64_t ref = micros - kReferenceMicros;
      std::int64_t sec = ref / kMicrosPerSecond;
      if (ref % kMicrosPerSecond < 0) --sec;
      if (sec < std::numeric_limits<std::int32_t>::min() || sec > std::numeric_limits<std::int32_t>::max()) {
        return std::string("the date is outside 1933-12-13 to 2069-01-19");
      }
      // The library reads a date back as whole seconds truncated toward zero plus the
      // fraction's magnitude, so within the second before 2001 the sign is lost.
      if (sec == -1) return std::string("dates in the last second of 2000 cannot be stored");
      return std::nullopt;
    }
    case Value::Kind::Array:
    case Value::Kind::Dict: {
      if (level >= BinaryPropertyList::kMaxNesting) {
        return fmt::format("nesting deeper than {} levels cannot be stored", BinaryPropertyList::kMaxNesting);
      }
      if (const Array* a = value.array()) {
        for (const Value& v : *a) {
          if (auto why = refusalAt(v, level + 1)) return why;
        }
      } else {
        for (const auto& [k, v] : *value.dict()) {
          if (!validUtf8(k)) return std::string("a key is not valid UTF-8 or holds a NUL");
          if (auto why = refusalAt(v, level + 1)) return why;
        }
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

// Builds the node of a value that refusal() accepted.
plist_t toNode(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Bool:
      return plist_new_bool(*value.toBool() ? 1 : 0);
    case Value::Kind::Int:
      return plist_new_uint(static_cast<std::uint64_t>(*value.toInt64()));
    case Value::Kind::UInt:
      return plist_new_uint(*value.toUInt64());
    case Value::Kind::Double:
      return plist_new_real(*value.toDouble());
    case Value::Kind::String:
      return plist_new_string(value.string()->c_str());
    case Value::Kind::Bytes: {
      const Bytes& b = *value.bytes();
      return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Value::Kind::Date: {
      const std::int64_t ref = value.toDate()->unixMicros() - kReferenceMicros;
      std::int64_t sec = ref / kMicrosPerSecond;
      std::int64_t usec = ref % kMicrosPerSecond;
      if (usec < 0) {
        usec += kMicrosPerSecond;
        --sec;
      }
      return plist_new_date(static_cast<std::int32_t>(sec), static_cast<std::int32_t>(usec));
    }
    case Value::Kind::Array: {
      plist_t node = plist_new_array();
      for (const Value& v : *value.array()) plist_array_append_item(node, toNode(v));
      return node;
    }
    case Value::Kind::Dict: {
      plist_t node = plist_new_dict();
      for (const auto& [k, v] : *value.dict()) plist_dict_set_item(node, k.c_str(), toNode(v));
      return node;
    }
    default:
      return nullptr;  // not reached: refused before
  }
}

// The seconds since 2001 that a date node holds, exactly as stored. The library's own getter
// converts them to 32-bit seconds unchecked (undefined for a date beyond 1901-2038 from
// 2001, or not finite), so the double is taken from the node's binary encoding, which
// holds it as it is: the object marker, then the big-endian double.
std::optional<double> rawDateSeconds(plist_t node) {
  char* out = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &out, &length);
  if (!out) return std::nullopt;
  const std::string bytes(out, length);
  plist_to_bin_free(out);
  constexpr std::size_t kObject = 8;  // after "bplist00"
  if (bytes.size() < kObject + 9 || static_cast<std::uint8_t>(bytes[kObject]) != 0x33) return std::nullopt;
  std::uint64_t bits = 0;
  for (std::size_t i = 1; i <= 8; ++i) bits = (bits << 8) | static_cast<std::uint8_t>(bytes[kObject + i]);
  double seconds = 0;
  std::memcpy(&seconds, &bits, sizeof seconds);
  return seconds;
}

// The date a date node holds, to the microsecond toward 2001, when it is one that can be
// written back: a date read from outside is refused rather than kept in a form no file can
// hold (beyond the writable range, not finite, or in the last second of 2000).
std::optional<Date> dateOf(plist_t node) {
  const auto seconds = rawDateSeconds(node);
  if (!seconds || !std::isfinite(*seconds)) return std::nullopt;
  // Well outside the writable range, and far inside int64 microseconds.
  if (std::fabs(*seconds) > 4e9) return std::nullopt;
  const double whole = std::trunc(*seconds);
  const auto sec = static_cast<std::int64_t>(whole);
  const auto usec = static_cast<std::int64_t>(std::fabs(*seconds - whole) * 1e6);
  const std::int64_t ref = sec * kMicrosPerSecond + (*seconds < 0 ? -usec : usec);
  const Date date = Date::fromUnixMicros(kReferenceMicros + ref);
  if (refusalAt(Value(date), 0)) return std::nullopt;
  return date;
}

// Reads a node back. nullopt for kinds a Value does not hold (UID, a stray key node), and
// for dates that cannot be written back.
std::optional<Value> fromNode(plist_t node, std::size_t level) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* p = plist_get_string_ptr(node, &length);
      std::string s = p ? std::string(p, length) : std::string();
      if (!validUtf8(s)) return std::nullopt;
      return Value(std::move(s));
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const char* p = plist_get_data_ptr(node, &length);
      Bytes b;
      if (p && length) b.assign(reinterpret_cast<const std::uint8_t*>(p), reinterpret_cast<const std::uint8_t*>(p) + length);
      return Value(std::move(b));
    }
    case PLIST_DATE: {
      auto date = dateOf(node);
      if (!date) return std::nullopt;
      return Value(*date);
    }
    case PLIST_ARRAY: {
      if (level >= BinaryPropertyList::kMaxNesting) return std::nullopt;
      Array out;
      const std::uint32_t n = plist_array_get_size(node);
      out.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        auto v = fromNode(plist_array_get_item(node, i), level + 1);
        if (!v) return std::nullopt;
        out.push_back(std::move(*v));
      }
      return Value(std::move(out));
    }
    case PLIST_DICT: {
      if (level >= BinaryPropertyList::kMaxNesting) return std::nullopt;
      Dict out;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        std::string k = key ? key : "";
        std::free(key);
        auto v = fromNode(item, level + 1);
        if (!v || !validUtf8(k)) {
          std::free(it);
          return std::nullopt;
        }
        out.insert_or_assign(std::move(k), std::move(*v));
      }
      std::free(it);
      return Value(std::move(out));
    }
    default:
      return std::nullopt;
  }
}

// Checks the structure of binary property-list bytes before the library parses them: the
// trailer and offset table lie inside the file, every container's references name real
// objects, no container contains itself, nesting stays within bounds and the expanded
// value count stays small. The library parses containers recursively and unfolds shared
// references, so without this a hostile file could exhaust the stack or the memory.
class StructureCheck {
 public:
  StructureCheck(const std::uint8_t* data, std::size_t size) : d_(data), n_(size) {}

  std::optional<std::string> run() {
    if (n_ < 8 + 32) return std::string("the file is too short");
    if (std::memcmp(d_, "bplist00", 8) != 0) return std::string("the file is not a binary property list");
    const std::uint8_t* t = d_ + n_ - 32;
    offsetSize_ = t[6];
    refSize_ = t[7];
    count_ = be(t + 8, 8);
    const std::uint64_t top = be(t + 16, 8);
    tableOffset_ = be(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return std::string("bad trailer sizes");
    if (count_ == 0 || top >= count_) return std::string("bad object count");
    const std::uint64_t tableEnd = n_ - 32;
    if (tableOffset_ < 8 || tableOffset_ > tableEnd) return std::string("bad offset table");
    if (count_ > (tableEnd - tableOffset_) / offsetSize_) return std::string("the offset table is cut");
    state_.assign(count_, 0);
    size_.assign(count_, 0);
    std::uint64_t expanded = 0;
    if (auto why = visit(top, 0, expanded)) return why;
    return std::nullopt;
  }

 private:
  static std::uint64_t be(const std::uint8_t* p, std::size_t len) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < len; ++i) v = (v << 8) | p[i];
    return v;
  }

  // Whether the object is text the library can hand back as a key: ASCII or UTF-16 text
  // inside the file without a NUL character (the library asserts on both).
  bool isKeyText(std::uint64_t index) const {
    const std::uint64_t offset = be(d_ + tableOffset_ + index * offsetSize_, offsetSize_);
    if (offset < 8 || offset >= tableOffset_) return false;
    const unsigned type = d_[offset] >> 4;
    if (type != 0x5 && type != 0x6) return false;
    std::uint64_t pos = offset + 1;
    std::uint64_t units = d_[offset] & 0x0F;
    if (units == 0x0F) {
      if (pos >= tableOffset_) return false;
      const std::uint8_t intMarker = d_[pos];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      const std::uint64_t len = std::uint64_t{1} << (intMarker & 0x0F);
      if (pos + 1 + len > tableOffset_) return false;
      units = be(d_ + pos + 1, len);
      pos += 1 + len;
    }
    const std::uint64_t unitSize = type == 0x6 ? 2 : 1;
    if (units > (tableOffset_ - pos) / unitSize) return false;
    for (std::uint64_t i = 0; i < units; ++i) {
      if (unitSize == 1 ? d_[pos + i] == 0 : (d_[pos + 2 * i] == 0 && d_[pos + 2 * i + 1] == 0)) return false;
    }
    return true;
  }

  // Visits one object at nesting `level`; sets `expanded` to the number of values it
  // unfolds to.
  std::optional<std::string> visit(std::uint64_t index, std::size_t level, std::uint64_t& expanded) {
    if (state_[index] == 2) {
      expanded = size_[index];
      return std::nullopt;
    }
    if (state_[index] == 1) return std::string("a container holds itself");
    const std::uint64_t offset = be(d_ + tableOffset_ + index * offsetSize_, offsetSize_);
    if (offset < 8 || offset >= tableOffset_) return std::string("an object lies outside the file");
    const std::uint8_t marker = d_[offset];
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) {
      state_[index] = 2;
      size_[index] = expanded = 1;
      return std::nullopt;
    }
    // Root dictionary plus kMaxNesting levels below it.
    if (level > BinaryPropertyList::kMaxNesting) {
      return fmt::format("nesting deeper than {} levels", BinaryPropertyList::kMaxNesting);
    }
    std::uint64_t pos = offset + 1;
    std::uint64_t items = marker & 0x0F;
    if (items == 0x0F) {
      if (pos >= tableOffset_) return std::string("a container's length is cut");
      const std::uint8_t intMarker = d_[pos];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return std::string("a container's length is malformed");
      const std::uint64_t len = std::uint64_t{1} << (intMarker & 0x0F);
      if (pos + 1 + len > tableOffset_) return std::string("a container's length is cut");
      items = be(d_ + pos + 1, len);
      pos += 1 + len;
    }
    const std::uint64_t refs = type == 0xD ? items * 2 : items;
    if (items > count_ * 2 || refs > (tableOffset_ - pos) / refSize_) return std::string("a container is cut");
    state_[index] = 1;
    std::uint64_t total = 1;
    for (std::uint64_t i = 0; i < refs; ++i) {
      const std::uint64_t child = be(d_ + pos + i * refSize_, refSize_);
      if (child >= count_) return std::string("a reference names no object");
      // The library asserts (aborts) on a dictionary key that is not text or holds a NUL.
      if (type == 0xD && i < items && !isKeyText(child)) return std::string("a dictionary key is not text");
      std::uint64_t childSize = 0;
      if (auto why = visit(child, level + 1, childSize)) return why;
      total += childSize;
      if (total > BinaryPropertyList::kMaxExpandedValues) return std::string("the file expands to too many values");
    }
    state_[index] = 2;
    size_[index] = expanded = total;
    return std::nullopt;
  }

  const std::uint8_t* d_;
  std::size_t n_;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t tableOffset_ = 0;
  std::vector<std::uint8_t> state_;  // 0 unvisited, 1 being visited, 2 done
  std::vector<std::uint64_t> size_;
};

// Deepest nesting of <array> and <dict> elements in XML property-list text, skipping
// comments, CDATA sections, processing instructions and declarations (whose text could
// otherwise hide closing tags). Stops counting once `limit` is passed.
std::size_t xmlNesting(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  std::size_t i = 0;
  const auto skipPast = [&](std::string_view end) {
    const std::size_t at = text.find(end, i);
    i = at == std::string_view::npos ? text.size() : at + end.size();
  };
  while (i < text.size() && deepest <= limit) {
    const std::size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) break;
    i = lt + 1;
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("!--")) {
      skipPast("-->");
    } else if (rest.starts_with("![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("?") || rest.starts_with("!")) {
      skipPast(">");
    } else {
      const bool closing = rest.starts_with("/");
      const std::string_view name = closing ? rest.substr(1) : rest;
      const bool container = name.starts_with("array") || name.starts_with("dict");
      const std::size_t gt = text.find('>', i);
      const bool selfClosing = gt != std::string_view::npos && gt > i && text[gt - 1] == '/';
      if (container && !selfClosing) {
        if (closing) {
          if (depth > 0) --depth;
        } else {
          deepest = std::max(deepest, ++depth);
        }
      }
      i = gt == std::string_view::npos ? text.size() : gt + 1;
    }
  }
  return deepest;
}

}  // namespace

std::optional<std::string> BinaryPropertyList::encodeValue(const Value& value, Format format, std::string* why) {
  if (auto r = refusalAt(value, 0)) {
    if (why) *why = *r;
    return std::nullopt;
  }
  PlistPtr root(toNode(value));
  char* out = nullptr;
  std::uint32_t length = 0;
  if (format == Format::Binary) {
    plist_to_bin(root.get(), &out, &length);
  } else {
    plist_to_xml(root.get(), &out, &length);
  }
  if (!out) {
    if (why) *why = "the property list could not be written";
    return std::nullopt;
  }
  std::string bytes(out, length);
  if (format == Format::Binary) {
    plist_to_bin_free(out);
  } else {
    plist_to_xml_free(out);
  }
  if (bytes.size() > kMaxFileBytes) {
    if (why) *why = "the property list is too large";
    return std::nullopt;
  }
  return bytes;
}

std::optional<Value> BinaryPropertyList::decodeValue(const char* data, std::size_t size, std::string* why) {
  const auto fail = [&](std::string reason) -> std::optional<Value> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (size == 0) return fail("the property list is empty");
  if (size > kMaxFileBytes) return fail("the property list is too large");
  plist_t raw = nullptr;
  if (size >= 8 && std::memcmp(data, "bplist00", 8) == 0) {
    if (auto bad = StructureCheck(reinterpret_cast<const std::uint8_t*>(data), size).run()) return fail(*bad);
    plist_from_bin(data, static_cast<std::uint32_t>(size), &raw);
  } else {
    const std::string_view text(data, size);
    if (text.find('\0') != std::string_view::npos) return fail("the property list is not text");
    // The root container is level 0, as in a defaults file.
    if (xmlNesting(text, kMaxNesting + 1) > kMaxNesting + 1) {
      return fail(fmt::format("nesting deeper than {} levels", kMaxNesting));
    }
    plist_from_xml(data, static_cast<std::uint32_t>(size), &raw);
  }
  PlistPtr root(raw);
  if (!root) return fail("the property list is corrupt");
  auto value = fromNode(root.get(), 0);
  if (!value) return fail("the property list holds a value that cannot be read");
  return value;
}

std::optional<std::string> BinaryPropertyList::refusal(std::string_view key, const Value& value) {
  if (!validUtf8(key)) return std::string("the key is not valid UTF-8 or holds a NUL");
  return refusalAt(value, 0);
}

std::optional<std::string> BinaryPropertyList::encode(const Dict& dict, std::string* why) {
  for (const auto& [k, v] : dict) {
    if (auto r = refusal(k, v)) {
      if (why) *why = fmt::format("{}: {}", k, *r);
      return std::nullopt;
    }
  }
  PlistPtr root(plist_new_dict());
  for (const auto& [k, v] : dict) plist_dict_set_item(root.get(), k.c_str(), toNode(v));
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root.get(), &bin, &length);
  if (!bin) {
    if (why) *why = "the property list could not be written";
    return std::nullopt;
  }
  std::string out(bin, length);
  plist_to_bin_free(bin);
  if (out.size() > kMaxFileBytes) {
    if (why) *why = "the property list is too large";
    return std::nullopt;
  }
  return out;
}

std::optional<Dict> BinaryPropertyList::decode(const char* data, std::size_t size, std::string* why,
                                               std::vector<std::string>* skipped) {
  const auto fail = [&](std::string reason) -> std::optional<Dict> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (size == 0) return fail("the file is empty");
  if (size > kMaxFileBytes) return fail("the file is too large");
  if (auto bad = StructureCheck(reinterpret_cast<const std::uint8_t*>(data), size).run()) return fail(*bad);
  plist_t raw = nullptr;
  plist_from_bin(data, static_cast<std::uint32_t>(size), &raw);
  PlistPtr root(raw);
  if (!root) return fail("the property list is corrupt");
  if (plist_get_node_type(root.get()) != PLIST_DICT) return fail("the root is not a dictionary");

  Dict out;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(root.get(), &it);
  for (;;) {
    char* key = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(root.get(), it, &key, &item);
    if (!item) {
      std::free(key);
      break;
    }
    std::string k = key ? key : "";
    std::free(key);
    std::optional<Value> v = validUtf8(k) ? fromNode(item, 0) : std::nullopt;
    if (v) {
      out.insert_or_assign(std::move(k), std::move(*v));
    } else if (skipped) {
      skipped->push_back(std::move(k));
    }
  }
  std::free(it);
  return out;
}

}  // namespace velmora::platform::defaults
