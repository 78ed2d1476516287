#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform::text {

// The device's current time zone: the zone in which dates without an offset are read
// (FixedDateFormat). It starts as the host's zone; a test or a simulation sets another.
class DefaultTimeZone {
 public:
  DefaultTimeZone() = delete;

  // The zone's identifier, such as "Europe/London" or "Etc/UTC".
  static std::string identifier();
  // Makes the zone with this identifier the default. An identifier that names no known
  // zone changes nothing and returns false.
  static bool set(std::string_view identifier);

  // Keeps the default zone as it is when made, and makes it the default again when
  // destroyed: also a host zone that set() could not name again.
  class Restorer {
   public:
    Restorer();
    ~Restorer();
    Restorer(const Restorer&) = delete;
    Restorer& operator=(const Restorer&) = delete;

   private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
  };
};

}  // namespace velmora::platform::text
