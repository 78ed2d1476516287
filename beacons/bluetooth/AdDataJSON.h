#pragma once

#include <string>

#include "beacons/bluetooth/KSAdData.h"
#include "platform/core/Value.h"

// The JSON form of an advertisement-data dictionary, for logs and capture tools: the same keys,
// integers and strings as they are, byte strings as lower-case hex text and dates as ISO 8601
// text in UTC.
namespace velmora::kestrine::adDataJSON {

// A copy of the dictionary with every byte string and date turned into text, at any depth.
platform::Value jsonValueForDictionary(const platform::Value& dictionary);

// One line of compact JSON, keys in sorted order.
std::string jsonText(const KSAdData& adData);

}  // namespace velmora::kestrine::adDataJSON
