#include "platform/text/DefaultTimeZone.h"

#include "platform/text/TimeZone.h"

namespace velmora::platform::text {

struct DefaultTimeZone::Restorer::Saved {
  TimeZone zone;
};

std::string DefaultTimeZone::identifier() { return TimeZone::current().identifier(); }

bool DefaultTimeZone::set(std::string_view identifier) {
  const auto zone = TimeZone::named(identifier);
  if (!zone) return false;
  zone->makeDefault();
  return true;
}

DefaultTimeZone::Restorer::Restorer() : saved_(std::make_unique<Saved>(Saved{TimeZone::current()})) {}

DefaultTimeZone::Restorer::~Restorer() { saved_->zone.makeDefault(); }

}  // namespace velmora::platform::text
