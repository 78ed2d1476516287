#include "beacons/microlocation/KSTrigger.h"

#include "platform/core/Uuid.h"

namespace velmora::kestrine {

KSTrigger::KSTrigger() : eventIdentifier_(platform::Uuid::random().string()) {}

KSTrigger::KSTrigger(const std::string& identifier, Filters filters)
    : eventIdentifier_(identifier), eventName_(identifier), filters_(std::move(filters)) {}

std::string KSTrigger::eventIdentifier() const {
  std::lock_guard lock(mutex_);
  return eventIdentifier_;
}
void KSTrigger::setEventIdentifier(std::string v) {
  std::lock_guard lock(mutex_);
  eventIdentifier_ = std::move(v);
}
std::optional<std::string> KSTrigger::eventName() const {
  std::lock_guard lock(mutex_);
  return eventName_;
}
void KSTrigger::setEventName(std::optional<std::string> v) {
  std::lock_guard lock(mutex_);
  eventName_ = std::move(v);
}
std::int64_t KSTrigger::repeatCount() const {
  std::lock_guard lock(mutex_);
  return repeatCount_;
}
void KSTrigger::setRepeatCount(std::int64_t v) {
  std::lock_guard lock(mutex_);
  repeatCount_ = v;
}
std::optional<platform::Date> KSTrigger::validFrom() const {
  std::lock_guard lock(mutex_);
  return validFrom_;
}
void KSTrigger::setValidFrom(std::optional<platform::Date> v) {
  std::lock_guard lock(mutex_);
  validFrom_ = v;
}
std::optional<platform::Date> KSTrigger::expiresAt() const {
  std::lock_guard lock(mutex_);
  return expiresAt_;
}
void KSTrigger::setExpiresAt(std::optional<platform::Date> v) {
  std::lock_guard lock(mutex_);
  expiresAt_ = v;
}
platform::Value KSTrigger::filterDescriptors() const {
  std::lock_guard lock(mutex_);
  return filterDescriptors_;
}
void KSTrigger::setFilterDescriptors(platform::Value v) {
  std::lock_guard lock(mutex_);
  filterDescriptors_ = std::move(v);
}
void KSTrigger::setFilters(Filters v) {
  std::lock_guard lock(mutex_);
  filters_ = std::move(v);
}
void KSTrigger::addFilter(Filter filter) {
  std::lock_guard lock(mutex_);
  filters_.push_back(std::move(filter));
}
void KSTrigger::clearFilters() {
  std::lock_guard lock(mutex_);
  filters_.clear();
}
KSTrigger::Filters KSTrigger::allFilters() const {
  std::lock_guard lock(mutex_);
  return filters_;
}

void KSTrigger::copyFieldsInto(KSTrigger& other) const {
  std::scoped_lock lock(mutex_, other.mutex_);
  other.eventIdentifier_ = eventIdentifier_;
  other.eventName_ = eventName_;
  other.repeatCount_ = repeatCount_;
  other.validFrom_ = validFrom_;
  other.expiresAt_ = expiresAt_;
  other.filterDescriptors_ = filterDescriptors_;  // a Value is a deep copy
  other.filters_ = filters_;
}

std::shared_ptr<KSTrigger> KSTrigger::copy() const {
  auto other = std::make_shared<KSTrigger>();
  copyFieldsInto(*other);
  return other;
}

}  // namespace velmora::kestrine
