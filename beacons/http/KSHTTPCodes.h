#pragma once

#include <cstdint>
#include <string>

namespace velmora::kestrine {

// Long English descriptions of HTTP status codes, for developers reading logs. The keys 1
// to 5 hold the fallback texts of the status classes; a code with two meanings keeps its
// second one under the code times ten (4200, 4240, 4510).
class KSHTTPCodes {
 public:
  // The table's text for the code, or "Unknown status code: N" with the code rendered
  // unsigned (so -1 reads as 18446744073709551615).
  static std::string descriptionForCode(std::int64_t code);
  // Number of entries in the table.
  static std::size_t tableSize();
};

}  // namespace velmora::kestrine
