#pragma once

#include <optional>
#include <string>

#include "platform/core/Value.h"

namespace velmora::platform {

// Bytes as messages and logs show them: "<00010203 04>" (lower-case hex, a blank after each
// group of four bytes), "<>" when empty, "(null)" when there are none at all.
std::string describeBytes(const Bytes& bytes);
std::string describeBytes(const std::optional<Bytes>& bytes);

}  // namespace velmora::platform
