#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Date.h"

namespace kestrine {

// The running totals of one trigger: how often and when it fired. The event manager keeps
// one beside each monitored trigger and saves it to the local store under eventIdentifier.
struct KSEventSummary {
  std::optional<std::string> eventIdentifier;
  std::optional<std::string> eventName;
  std::int64_t triggeredCount = 0;
  std::optional<platform::Date> firstTriggeredAt;
  std::optional<platform::Date> lastTriggeredAt;

  std::shared_ptr<KSEventSummary> copy() const { return std::make_shared<KSEventSummary>(*this); }
};

}  // namespace kestrine
