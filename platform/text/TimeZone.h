#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"

namespace velmora::platform::text {

// A time zone of the calendar library's zone database: the offsets from UTC it has had and
// will have. A value is a cheap, shareable handle; every member is safe to call from any
// number of threads at once.
class TimeZone {
 public:
  // The zone with this identifier ("Europe/Berlin", "GMT", "Etc/UTC"), or nullopt when the
  // database knows no such zone.
  static std::optional<TimeZone> named(std::string_view identifier);
  // Greenwich Mean Time: offset 0 at every instant.
  static TimeZone gmt();
  // The device's default zone at this moment (DefaultTimeZone). Takes no copy of the zone
  // data: a snapshot shared with every other caller until the default changes.
  static TimeZone current();

  std::string identifier() const;

  // Milliseconds to add to UTC to get this zone's wall clock at the instant.
  std::int32_t offsetMillisAt(Date instant) const;

  // The instant at which this zone's wall clock reads localMillis (milliseconds of a
  // wall-clock time on the Unix epoch, as if that time were UTC). A wall time that occurs
  // twice (the hour when the clocks go back) is read as the later one, in standard time; a
  // wall time that never occurs (skipped when the clocks go forward) gives nullopt.
  std::optional<Date> instantOfWallTime(std::int64_t localMillis) const;

  friend bool operator==(const TimeZone& a, const TimeZone& b);

  struct Impl;  // the zone data, defined where the calendar library is

 private:
  friend class DefaultTimeZone;
  explicit TimeZone(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  // Makes this zone the process default: for current() and for the calendar library's own
  // default zone.
  void makeDefault() const;

  std::shared_ptr<const Impl> impl_;
};

}  // namespace velmora::platform::text
