#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/store/Predicate.h"

namespace velmora::kestrine {

// The running totals of one event trigger, kept in the store under its event identifier by
// the event manager. A plain record: copy() gives a new one with the same five values.
class KSEventSummary {
 public:
  const std::optional<std::string>& eventIdentifier() const { return eventIdentifier_; }
  void setEventIdentifier(std::optional<std::string> v) { eventIdentifier_ = std::move(v); }
  const std::optional<std::string>& eventName() const { return eventName_; }
  void setEventName(std::optional<std::string> v) { eventName_ = std::move(v); }
  std::int64_t triggeredCount() const { return triggeredCount_; }
  void setTriggeredCount(std::int64_t v) { triggeredCount_ = v; }
  const std::optional<platform::Date>& firstTriggeredAt() const { return firstTriggeredAt_; }
  void setFirstTriggeredAt(std::optional<platform::Date> v) { firstTriggeredAt_ = v; }
  const std::optional<platform::Date>& lastTriggeredAt() const { return lastTriggeredAt_; }
  void setLastTriggeredAt(std::optional<platform::Date> v) { lastTriggeredAt_ = v; }

  std::shared_ptr<KSEventSummary> copy() const { return std::make_shared<KSEventSummary>(*this); }

  using SummariesHandler = std::function<void(std::vector<std::shared_ptr<KSEventSummary>>)>;
  using CountHandler = std::function<void(std::uint64_t)>;
  using FailureHandler = std::function<void(platform::Error)>;

  // The stored summaries that match, in the order asked, copied out of their rows. They
  // arrive on the store's queue, a failure too; with storage off at once with none. Either
  // handler may be empty.
  static void storedEventSummariesWithPredicate(const platform::store::Predicate& predicate,
                                                const std::vector<platform::store::SortDescriptor>& sortDescriptors,
                                                SummariesHandler success, FailureHandler failure = {});
  // How many stored summaries match; the answer comes on the main queue (at once, 0, with
  // storage off).
  static void numberOfEventSummariesWithPredicate(const platform::store::Predicate& predicate, CountHandler success,
                                                  FailureHandler failure = {});

  friend bool operator==(const KSEventSummary&, const KSEventSummary&) = default;

 private:
  std::optional<std::string> eventIdentifier_, eventName_;
  std::int64_t triggeredCount_ = 0;
  std::optional<platform::Date> firstTriggeredAt_, lastTriggeredAt_;
};

}  // namespace velmora::kestrine
