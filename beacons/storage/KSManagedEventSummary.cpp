#include "beacons/storage/KSManagedEventSummary.h"

#include "beacons/storage/KSEventSummary.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Dict;
using platform::Value;
using platform::store::ObjectID;
using platform::store::StoreContext;

namespace {
Value orNull(const std::optional<std::string>& v) { return v ? Value(*v) : Value(platform::null); }
Value orNull(const std::optional<platform::Date>& v) { return v ? Value(*v) : Value(platform::null); }
}  // namespace

void KSManagedEventSummary::setValuesWithEventSummary(StoreContext& ctx, ObjectID row, const KSEventSummary& s) {
  platform::Error error;
  if (!ctx.update(row,
                  Dict{{"eventIdentifier", orNull(s.eventIdentifier())},
                       {"eventName", orNull(s.eventName())},
                       {"triggeredCount", Value(s.triggeredCount())},
                       {"firstTriggeredAt", orNull(s.firstTriggeredAt())},
                       {"lastTriggeredAt", orNull(s.lastTriggeredAt())}},
                  &error)) {
    platform::Log::error("local-storage", "writing an event summary failed: {}", error.localizedDescription);
  }
}

std::shared_ptr<KSEventSummary> KSManagedEventSummary::toEventSummary(const platform::store::Row& row) {
  auto out = std::make_shared<KSEventSummary>();
  if (const std::string* s = row["eventIdentifier"].string()) out->setEventIdentifier(*s);
  if (const std::string* s = row["eventName"].string()) out->setEventName(*s);
  out->setTriggeredCount(row["triggeredCount"].toInt64().value_or(0));
  out->setFirstTriggeredAt(row["firstTriggeredAt"].toDate());
  out->setLastTriggeredAt(row["lastTriggeredAt"].toDate());
  return out;
}

std::shared_ptr<KSEventSummary> KSManagedEventSummary::toEventSummary(StoreContext& ctx, ObjectID row) {
  auto values = ctx.values(row);
  if (!values) return nullptr;
  return toEventSummary(platform::store::Row{row, std::move(*values)});
}

}  // namespace velmora::kestrine
