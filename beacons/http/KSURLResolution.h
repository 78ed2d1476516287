#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::kestrine {

// A base URL as a session manager keeps it: one with a non-empty path that does not end in
// "/" gets a "/" appended, so relative strings resolve below its last segment instead of
// replacing it. nullopt when the text is not an absolute URL.
std::optional<std::string> KSNormalizedBaseURL(std::string_view baseURL);

// `urlString` resolved against `baseURL` (when given) by the usual reference rules, as an
// absolute URL. Text the caller already escaped is kept as it is, never escaped again.
// nullopt when either part cannot be parsed.
std::optional<std::string> KSResolveURL(std::string_view urlString, const std::optional<std::string>& baseURL);

}  // namespace velmora::kestrine
