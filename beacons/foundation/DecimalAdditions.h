#pragma once

#include <optional>
#include <string>

// Currency text of a decimal amount (the decimal-number additions).
namespace velmora::kestrine::decimal_additions {

// The amount in the currency style of a locale: the process's default locale when none is
// given, else the named one ("de_DE"). A fresh formatter per call, as nothing calls this in
// a loop. Empty when the locale has no currency format.
std::string formatAsCurrency(double amount, const std::optional<std::string>& locale = std::nullopt);

}  // namespace velmora::kestrine::decimal_additions
