#pragma once

#include <cstdint>
#include <functional>

#include "platform/core/Date.h"
#include "platform/core/Error.h"

namespace velmora::kestrine {

class KSBeacon;
class KSCategory;

// Visit counts over the stored beacon visits: those of one beacon (matched by the serial
// number each visit row keeps), or of every beacon carrying one category (visits whose
// beacon row has a category row with that ID), within a window.
//
// The named periods (today, yesterday, this and last week, this and last month) take their
// bounds from the SDK's calendar at the model clock's now: a visit counts when it began at
// or after the period's first instant and before the next period's first instant, so one
// that began in the period's last fractional second still counts. The since, until and
// from-until windows include both of their ends; "until" starts at the distant past.
//
// The count reaches `success` on the main queue, a store failure `failure` there too; with
// storage off `success` gets 0 at once. Either block may be empty.
namespace analytics {

using CountHandler = std::function<void(std::uint64_t)>;
using FailureHandler = std::function<void(platform::Error)>;

// The earliest date a window can start at.
platform::Date distantPast();

#define KS_ANALYTICS_FOR(Record)                                                                                     \
  void numberOfVisitsToday(const Record& r, CountHandler success, FailureHandler failure = {});                      \
  void numberOfVisitsYesterday(const Record& r, CountHandler success, FailureHandler failure = {});                  \
  void numberOfVisitsThisWeek(const Record& r, CountHandler success, FailureHandler failure = {});                   \
  void numberOfVisitsLastWeek(const Record& r, CountHandler success, FailureHandler failure = {});                   \
  void numberOfVisitsThisMonth(const Record& r, CountHandler success, FailureHandler failure = {});                  \
  void numberOfVisitsLastMonth(const Record& r, CountHandler success, FailureHandler failure = {});                  \
  void numberOfVisitsSinceDate(const Record& r, platform::Date date, CountHandler success,                           \
                               FailureHandler failure = {});                                                         \
  void numberOfVisitsUntilDate(const Record& r, platform::Date date, CountHandler success,                           \
                               FailureHandler failure = {});                                                         \
  void numberOfVisitsFromDate(const Record& r, platform::Date from, platform::Date until, CountHandler success,       \
                              FailureHandler failure = {});

KS_ANALYTICS_FOR(KSBeacon)
KS_ANALYTICS_FOR(KSCategory)
#undef KS_ANALYTICS_FOR

}  // namespace analytics

}  // namespace velmora::kestrine
