#include "parking/config/Version.h"

namespace velmora {

std::string_view version() { return kVersionString; }

}  // namespace velmora
