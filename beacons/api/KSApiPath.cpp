#include "beacons/api/KSApiPath.h"

#include <array>

namespace velmora::kestrine {

namespace {

bool staysInSegment(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-': case '.': case '_': case '~':
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
    case ':': case '@':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string KSApiEscapePathSegment(std::string_view segment) {
  static constexpr std::array<char, 16> hex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  std::string out;
  out.reserve(segment.size());
  for (char ch : segment) {
    auto c = static_cast<unsigned char>(ch);
    if (staysInSegment(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 0x0F]);
    }
  }
  return out;
}

std::string KSApiPath(std::string_view pathTemplate, std::initializer_list<std::string_view> values) {
  const auto query = pathTemplate.find('?');
  std::string_view path = pathTemplate.substr(0, query);
  std::string out;
  auto next = values.begin();
  std::size_t i = 0;
  while (i < path.size()) {
    if (path.compare(i, 2, "%@") == 0 && next != values.end()) {
      out += KSApiEscapePathSegment(*next++);
      i += 2;
    } else {
      out.push_back(path[i++]);
    }
  }
  if (query != std::string_view::npos) out += pathTemplate.substr(query);
  return out;
}

}  // namespace velmora::kestrine
