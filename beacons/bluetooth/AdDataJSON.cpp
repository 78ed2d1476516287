#include "beacons/bluetooth/AdDataJSON.h"

#include "beacons/bluetooth/HexText.h"
#include "platform/core/Json.h"

namespace velmora::kestrine::adDataJSON {

platform::Value jsonValueForDictionary(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Bytes: {
      const auto& b = *value.bytes();
      std::string text(2 * b.size(), '\0');
      hextext::write(b, text.data(), false);
      return platform::Value(std::move(text));
    }
    case Kind::Date:
      return platform::Value(value.toDate()->iso8601());
    case Kind::Dict: {
      platform::Dict out;
      for (const auto& [key, item] : *value.dict()) out.emplace(key, jsonValueForDictionary(item));
      return platform::Value(std::move(out));
    }
    case Kind::Array: {
      platform::Array out;
      for (const auto& item : *value.array()) out.push_back(jsonValueForDictionary(item));
      return platform::Value(std::move(out));
    }
    default:
      return value;
  }
}

std::string jsonText(const KSAdData& adData) {
  // Every text the parser stores is ASCII, so the writer cannot refuse it.
  return platform::json::write(jsonValueForDictionary(adData.toDictionary())).value_or("null");
}

}  // namespace velmora::kestrine::adDataJSON
