#pragma once

#include <fmt/format.h>

#include <optional>
#include <string_view>
#include <utility>

#include "parking/service/RecordCodec.h"
#include "platform/core/Error.h"

namespace velmora::detail {

// Turns an optional read of a required key into a required one: a key that is missing or
// null becomes a value-not-found error at the key's coding path. A wrong type has already
// been recorded by the read itself, so nothing is added then.
template <class T>
T requireKey(RecordDecoder& d, std::optional<T> read, std::string_view key, std::string_view expected) {
  if (read) return std::move(*read);
  if (!d.failed()) {
    d.fail(platform::coding::readError(platform::coding::kValueNotFound,
                                       fmt::format("No value associated with key \"{}\"; expected {}.", key, expected),
                                       d.pathFor(key)));
  }
  return T{};
}

}  // namespace velmora::detail
