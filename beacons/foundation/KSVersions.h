#pragma once

#include <string_view>

namespace velmora::kestrine {

// Orders two dotted versions: -1 when a comes first, 0 when they are the same, 1 when b comes
// first. The shorter is padded with "0" parts; parts compare with digit runs by value, so
// "1.10" follows "1.9" and "1.2" equals "1.2.0".
int compareVersions(std::string_view a, std::string_view b);

// The platform's framework version number that the tests below read. This host stands for a
// current platform, newer than every threshold.
double foundationVersionNumber();

bool isIOS7OrHigher();  // the version's floor above 993.0
bool isIOS7OrLower();   // the version's floor at most 1047.25
bool isIOS8OrHigher();  // the version's floor above 1047.25

}  // namespace velmora::kestrine
