#include "beacons/http/KSQueryStringPair.h"

#include <fmt/format.h>


namespace velmora::kestrine {
namespace {

bool staysUnescaped(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/' || c == '?';
}

void flatten(const std::optional<std::string>& key, const platform::Value& value, std::size_t depth,
             std::vector<KSQueryStringPair>& out) {
  if (const platform::Dict* dict = value.dict()) {
    if (depth >= kKSQueryStringMaxDepth) return;
    for (const auto& [inner, nested] : *dict) {  // std::map: ascending byte order
      if (nested.isAbsent()) continue;
      flatten(key ? fmt::format("{}[{}]", *key, inner) : inner, nested, depth + 1, out);
    }
  } else if (const platform::Array* array = value.array()) {
    if (depth >= kKSQueryStringMaxDepth) return;
    const std::string nestedKey = fmt::format("{}[]", key.value_or(""));
    for (const platform::Value& element : *array) flatten(nestedKey, element, depth + 1, out);
  } else {
    out.push_back({key ? platform::Value(*key) : platform::Value(), value});
  }
}

}  // namespace

std::string KSPercentEscapedStringFromString(std::string_view string) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(string.size());
  for (const char ch : string) {
    const auto c = static_cast<unsigned char>(ch);
    if (staysUnescaped(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string KSQueryStringDescription(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Absent:
      return "";
    case Kind::Null:
      return "<null>";
    case Kind::Bool:
      return *value.toBool() ? "1" : "0";
    case Kind::Int:
      return fmt::format("{}", *value.toInt64());
    case Kind::UInt:
      return fmt::format("{}", *value.toUInt64());
    case Kind::Double:
      // fmt writes the shortest text that reads back to the same double, with "." in
      // every locale.
      return fmt::format("{}", *value.toDouble());
    case Kind::String:
      return *value.string();
    case Kind::Bytes: {
      std::string out = "<";
      const platform::Bytes& bytes = *value.bytes();
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += fmt::format("{:02x}", bytes[i]);
      }
      return out + ">";
    }
    case Kind::Date: {
      // "2024-05-01T12:30:00.000000Z" -> "2024-05-01 12:30:00 +0000"
      const std::string iso = value.toDate()->iso8601();
      const std::size_t t = iso.find('T');
      return fmt::format("{} {} +0000", iso.substr(0, t), iso.substr(t + 1, 8));
    }
    default:
      return fmt::format("<{}>", platform::Value::kindName(value.kind()));
  }
}

std::string KSQueryStringPair::URLEncodedStringValue() const {
  const std::string escapedField = KSPercentEscapedStringFromString(KSQueryStringDescription(field));
  if (value.isAbsent() || value.isNull()) return escapedField;
  return fmt::format("{}={}", escapedField, KSPercentEscapedStringFromString(KSQueryStringDescription(value)));
}

std::vector<KSQueryStringPair> KSQueryStringPairsFromDictionary(const platform::Value& dictionary) {
  return KSQueryStringPairsFromKeyAndValue(std::nullopt, dictionary);
}

std::vector<KSQueryStringPair> KSQueryStringPairsFromKeyAndValue(const std::optional<std::string>& key,
                                                                     const platform::Value& value) {
  std::vector<KSQueryStringPair> out;
  flatten(key, value, 0, out);
  return out;
}

std::string KSQueryStringFromParameters(const platform::Value& parameters) {
  std::string out;
  for (const KSQueryStringPair& pair : KSQueryStringPairsFromDictionary(parameters)) {
    if (!out.empty()) out += '&';
    out += pair.URLEncodedStringValue();
  }
  return out;
}

}  // namespace velmora::kestrine
