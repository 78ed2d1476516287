#include "platform/text/TimeZone.h"

#include <unicode/basictz.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <atomic>
#include <mutex>

namespace velmora::platform::text {

struct TimeZone::Impl {
  std::unique_ptr<icu::TimeZone> zone;
  // Null for a zone without transition data; then the plain offset rules apply.
  const icu::BasicTimeZone* basic = nullptr;
  std::string identifier;
};

namespace {

std::shared_ptr<const TimeZone::Impl> adopt(icu::TimeZone* raw) {
  auto impl = std::make_shared<TimeZone::Impl>();
  impl->zone.reset(raw);
  impl->basic = dynamic_cast<const icu::BasicTimeZone*>(impl->zone.get());
  icu::UnicodeString id;
  impl->zone->getID(id);
  id.toUTF8String(impl->identifier);
  return impl;
}

// The default zone as handed out by current(). Empty until first asked for or set: then it
// is the host's zone as the calendar library found it. The generation counts the changes, so
// that each thread can keep its own copy of the handle and take the lock only after a change.
struct DefaultSlot {
  std::mutex mutex;
  std::shared_ptr<const TimeZone::Impl> zone;
  std::atomic<std::uint64_t> generation{0};  // 0: no zone yet
};

DefaultSlot& defaultSlot() {
  static DefaultSlot& slot = *new DefaultSlot();
  return slot;
}

}  // namespace

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
  const auto id =
      icu::UnicodeString::fromUTF8(icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())));
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
  // An unknown identifier yields the "Etc/Unknown" zone rather than an error.
  if (!zone || *zone == icu::TimeZone::getUnknown()) return std::nullopt;
  return TimeZone(adopt(zone.release()));
}

TimeZone TimeZone::gmt() {
  static const TimeZone& zone = *new TimeZone(adopt(icu::TimeZone::getGMT()->clone()));
  return zone;
}

TimeZone TimeZone::current() {
  thread_local std::uint64_t seen = 0;
  thread_local std::shared_ptr<const Impl> cached;
  DefaultSlot& slot = defaultSlot();
  const std::uint64_t generation = slot.generation.load(std::memory_order_acquire);
  if (generation != 0 && generation == seen) return TimeZone(cached);
  std::lock_guard lock(slot.mutex);
  if (!slot.zone) {
    slot.zone = adopt(icu::TimeZone::createDefault());
    slot.generation.fetch_add(1, std::memory_order_release);
  }
  cached = slot.zone;
  seen = slot.generation.load(std::memory_order_relaxed);
  return TimeZone(cached);
}

void TimeZone::makeDefault() const {
  DefaultSlot& slot = defaultSlot();
  std::lock_guard lock(slot.mutex);
  icu::TimeZone::adoptDefault(impl_->zone->clone());
  slot.zone = impl_;
  slot.generation.fetch_add(1, std::memory_order_release);
}

std::string TimeZone::identifier() const { return impl_->identifier; }

std::int32_t TimeZone::offsetMillisAt(Date instant) const {
  UErrorCode status = U_ZERO_ERROR;
  std::int32_t raw = 0;
  std::int32_t dst = 0;
  const auto millis = static_cast<UDate>(instant.unixMicros() / 1000 - (instant.unixMicros() % 1000 < 0 ? 1 : 0));
  impl_->zone->getOffset(millis, false, raw, dst, status);
  return U_SUCCESS(status) ? raw + dst : 0;
}

std::optional<Date> TimeZone::instantOfWallTime(std::int64_t localMillis) const {
  UErrorCode status = U_ZERO_ERROR;
  std::int32_t raw = 0;
  std::int32_t dst = 0;
  const auto local = static_cast<UDate>(localMillis);
  if (impl_->basic) {
    impl_->basic->getOffsetFromLocal(local, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_LATTER, raw, dst, status);
  } else {
    impl_->zone->getOffset(local, true, raw, dst, status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  const std::int64_t utc = localMillis - raw - dst;
  // A skipped wall time maps to an instant whose own offset does not lead back to it.
  std::int32_t raw2 = 0;
  std::int32_t dst2 = 0;
  impl_->zone->getOffset(static_cast<UDate>(utc), false, raw2, dst2, status);
  if (U_FAILURE(status) || utc + raw2 + dst2 != localMillis) return std::nullopt;
  return Date::fromUnixMicros(utc * 1000);
}

bool operator==(const TimeZone& a, const TimeZone& b) {
  return a.impl_ == b.impl_ || *a.impl_->zone == *b.impl_->zone;
}

}  // namespace velmora::platform::text
