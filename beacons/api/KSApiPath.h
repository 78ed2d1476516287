#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace velmora::kestrine {

// Percent-escapes text for one path segment: unreserved characters (letters, digits,
// "-._~"), the sub-delimiters "!$&'()*+,;=", ":" and "@" stay; every other byte of the UTF-8
// text, "/", "?", "#" and "%" included, becomes "%XX". An identifier put into a path so stays
// one segment and cannot add a query or a fragment.
std::string KSApiEscapePathSegment(std::string_view segment);

// A path template with each "%@" replaced, in order, by the next value escaped as one
// segment. A template with more "%@" than values keeps the rest as they stand; extra values
// are ignored. Text after a "?" in the template is the caller's, already escaped, and is
// never touched.
std::string KSApiPath(std::string_view pathTemplate, std::initializer_list<std::string_view> values);

}  // namespace velmora::kestrine
