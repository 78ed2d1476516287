#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/microlocation/KSEventFilterContext.h"
#include "platform/core/Date.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// One event the SDK watches for in the stream of ranged beacons: the identifier and name of
// the event it raises, how often it may fire, when it is live, and the ordered filters that
// narrow the ranged beacons down to those that make it fire.
//
// Hosts may change a trigger while the event manager evaluates it on the hub's queue, so
// every field is read and written under the trigger's lock.
class KSTrigger {
 public:
  using Filter = std::shared_ptr<KSEventFiltering>;
  using Filters = std::vector<Filter>;

  // A fresh upper-case UUID as identifier, no name, repeat count 0 and no filters.
  KSTrigger();
  // Identifier and name both set to the identifier; the filters in the given order.
  KSTrigger(const std::string& identifier, Filters filters);
  virtual ~KSTrigger() = default;

  static std::shared_ptr<KSTrigger> create() { return std::make_shared<KSTrigger>(); }
  static std::shared_ptr<KSTrigger> initWithIdentifier(const std::string& identifier, Filters filters) {
    return std::make_shared<KSTrigger>(identifier, std::move(filters));
  }

  std::string eventIdentifier() const;
  void setEventIdentifier(std::string v);
  std::optional<std::string> eventName() const;
  void setEventName(std::optional<std::string> v);
  // The trigger may fire while its count of firings is at most this: 0 fires once.
  std::int64_t repeatCount() const;
  void setRepeatCount(std::int64_t v);
  std::optional<platform::Date> validFrom() const;
  void setValidFrom(std::optional<platform::Date> v);
  std::optional<platform::Date> expiresAt() const;
  void setExpiresAt(std::optional<platform::Date> v);
  // Carried and copied with the trigger; nothing reads it.
  platform::Value filterDescriptors() const;
  void setFilterDescriptors(platform::Value v);

  Filters filters() const { return allFilters(); }
  void setFilters(Filters v);
  void addFilter(Filter filter);
  void clearFilters();
  // A snapshot: a filter added afterwards takes effect on the next evaluation.
  Filters allFilters() const;

  // Same identifier, name, counts, dates and descriptors, and the same filter objects (so
  // the copy shares their memory) in a list of its own. Subclasses return their own class.
  virtual std::shared_ptr<KSTrigger> copy() const;

 protected:
  // Copies this trigger's fields into another (made fresh by a subclass's copy).
  void copyFieldsInto(KSTrigger& other) const;

 private:
  mutable std::mutex mutex_;
  std::string eventIdentifier_;
  std::optional<std::string> eventName_;
  std::int64_t repeatCount_ = 0;
  std::optional<platform::Date> validFrom_, expiresAt_;
  platform::Value filterDescriptors_;
  Filters filters_;
};

}  // namespace velmora::kestrine
