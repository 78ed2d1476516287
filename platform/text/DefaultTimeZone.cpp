#include "platform/text/DefaultTimeZone.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace platform::text {

struct DefaultTimeZone::Restorer::Saved {
  std::unique_ptr<icu::TimeZone> zone;
};

std::string DefaultTimeZone::identifier() {
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  icu::UnicodeString id;
  zone->getID(id);
  std::string out;
  id.toUTF8String(out);
  return out;
}

bool DefaultTimeZone::set(std::string_view identifier) {
  const auto id =
      icu::UnicodeString::fromUTF8(icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())));
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
  // An unknown identifier yields the "Etc/Unknown" zone rather than an error.
  if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
  icu::TimeZone::adoptDefault(zone.release());
  return true;
}

DefaultTimeZone::Restorer::Restorer() : saved_(std::make_unique<Saved>()) {
  saved_->zone.reset(icu::TimeZone::createDefault());
}

DefaultTimeZone::Restorer::~Restorer() {
  if (saved_->zone) icu::TimeZone::adoptDefault(saved_->zone.release());
}

}  // namespace platform::text
