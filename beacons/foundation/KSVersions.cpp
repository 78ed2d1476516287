#include "beacons/foundation/KSVersions.h"

#include <cmath>
#include <string>
#include <vector>

namespace velmora::kestrine {

namespace {

std::vector<std::string_view> parts(std::string_view v) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = v.find('.', start);
    out.push_back(v.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) return out;
    start = dot + 1;
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digit runs compare by value (leading zeros aside), everything else byte by byte.
int compareNumeric(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ei = i;
      std::size_t ej = j;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      std::string_view x = a.substr(i, ei - i);
      std::string_view y = b.substr(j, ej - j);
      while (x.size() > 1 && x[0] == '0') x.remove_prefix(1);
      while (y.size() > 1 && y[0] == '0') y.remove_prefix(1);
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (const int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  auto x = parts(a);
  auto y = parts(b);
  while (x.size() < y.size()) x.push_back("0");
  while (y.size() < x.size()) y.push_back("0");
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (const int c = compareNumeric(x[i], y[i]); c != 0) return c;
  }
  return 0;
}

double foundationVersionNumber() { return 1953.1; }

bool isIOS7OrHigher() { return std::floor(static_cast<float>(foundationVersionNumber())) > 993.0f; }
bool isIOS7OrLower() { return std::floor(static_cast<float>(foundationVersionNumber())) <= 1047.25f; }
bool isIOS8OrHigher() { return std::floor(static_cast<float>(foundationVersionNumber())) > 1047.25f; }

}  // namespace velmora::kestrine
