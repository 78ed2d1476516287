#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/core/Value.h"

namespace velmora::platform::defaults {

// Encodes and decodes the one dictionary a user-defaults file holds, as a binary property
// list.
//
// A property list keeps fewer kinds than Value, and the format's library keeps fewer still:
// - integers are stored unsigned: a negative Int is written as its two's complement and
//   every stored integer reads back as an Int, so a UInt above 2^63-1 is refused;
// - a date is kept as a double of seconds since 2001 and passed through 32-bit seconds
//   and microseconds, so only 1933-12-13 to 2069-01-19 can be stored, a date may read back
//   one microsecond off (toward 2001), and the last second of 2000 is refused (the
//   library loses its sign);
// - text must be valid UTF-8 without NUL characters;
// - Null, Absent and Object values cannot be stored;
// - a value may hold at most kMaxNesting levels of arrays and dictionaries.
class BinaryPropertyList {
 public:
  static constexpr std::size_t kMaxNesting = 64;
  // Largest file read or written; larger ones are refused rather than loaded.
  static constexpr std::size_t kMaxFileBytes = 64u << 20;
  // Most values (containers and scalars) that one file may expand to. References may be
  // shared in the format, so a small file could otherwise unfold into billions of values.
  static constexpr std::size_t kMaxExpandedValues = 1u << 18;

  // Why a value cannot be stored under a key, or nullopt when it can.
  static std::optional<std::string> refusal(std::string_view key, const Value& value);

  // The file bytes of a dictionary, or nullopt (with the reason in *why) when one of its
  // values cannot be stored.
  static std::optional<std::string> encode(const Dict& dict, std::string* why = nullptr);

  // The dictionary a file holds. A corrupt, cut or empty file, or one whose root is not a
  // dictionary, gives nullopt with the reason in *why. Entries whose value cannot be read
  // back as a Value (too deeply nested, an unsupported kind, a date that could not be
  // written back) are left out and named in *skipped.
  static std::optional<Dict> decode(const char* data, std::size_t size, std::string* why = nullptr,
                                    std::vector<std::string>* skipped = nullptr);

  // Property lists of any root kind, in either of the format's two encodings, for the HTTP
  // layer's property-list bodies. The same limits apply as to a defaults file.
  enum class Format { Xml = 100, Binary = 200 };

  // The bytes of a value in the given encoding, or nullopt (reason in *why) when the value
  // or one it holds cannot be stored.
  static std::optional<std::string> encodeValue(const Value& value, Format format, std::string* why = nullptr);

  // The value that binary or XML property-list bytes hold. Corrupt or cut input, nesting
  // beyond kMaxNesting, kinds a Value cannot hold and values that could not be written back
  // (a date outside the range above, or not finite) give nullopt with the reason in *why:
  // whatever this reads, encodeValue can write.
  static std::optional<Value> decodeValue(const char* data, std::size_t size, std::string* why = nullptr);
};

}  // namespace velmora::platform::defaults
