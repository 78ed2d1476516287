#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSDateRange.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

inline constexpr double KSSessionScanOnTimeIntervalInSeconds = 3.0;

// An app session: when it ran, when it must end in the background, and the stretches of
// background scanning it did. Stored in user defaults under exactly seven keys; the range
// being extended and the app state of the current scan live only in memory.
//
// Operations that depend on the time take `now`; "today" is in the SDK's calendar.
class KSSession : public KSJSONRecord<KSSession> {
 public:
  enum class AppState { None = 0, Foreground = 1, Background = 2 };

  static const KSJSONModelClass& jsonClass();
  // A new session with a "ks:" identifier, begun at `from`.
  static std::shared_ptr<KSSession> sessionBeganAt(platform::Date from, std::optional<platform::Date> expiresAt);

  const std::optional<std::string>& identifier() const { return identifier_; }
  void setIdentifier(std::optional<std::string> v) { identifier_ = std::move(v); }
  const std::shared_ptr<KSDateRange>& dateRange() const { return dateRange_; }
  void setDateRange(std::shared_ptr<KSDateRange> v) { dateRange_ = std::move(v); }
  const std::optional<platform::Date>& expiresAt() const { return expiresAt_; }
  void setExpiresAt(std::optional<platform::Date> v) { expiresAt_ = v; }
  const std::vector<std::shared_ptr<KSDateRange>>& backgroundScanDateRanges() const { return ranges_; }
  void setBackgroundScanDateRanges(std::vector<std::shared_ptr<KSDateRange>> v) { ranges_ = std::move(v); }
  const std::optional<platform::Date>& startedScanningAt() const { return startedScanningAt_; }
  void setStartedScanningAt(std::optional<platform::Date> v) { startedScanningAt_ = v; }
  const std::optional<platform::Date>& lastScanStartedAt() const { return lastScanStartedAt_; }
  void setLastScanStartedAt(std::optional<platform::Date> v) { lastScanStartedAt_ = v; }
  const std::optional<platform::Date>& lastScanStoppedAt() const { return lastScanStoppedAt_; }
  void setLastScanStoppedAt(std::optional<platform::Date> v) { lastScanStoppedAt_ = v; }
  const std::shared_ptr<KSDateRange>& currentBackgroundScanDateRange() const { return current_; }
  AppState applicationStateWhenCurrentScanStarted() const { return appState_; }

  std::optional<platform::Date> fromDate() const;
  std::optional<platform::Date> throughDate() const;

  bool isExpired(platform::Date now) const;
  bool hasEnded() const;
  bool endedToday(platform::Date now) const;
  bool endedBeforeYesterday(platform::Date now) const;
  bool endedAfterDate(platform::Date date) const;

  void end(platform::Date now);
  void scanManagerStartedScanAt(platform::Date at, bool inBackground);
  void scanManagerStoppedScanAt(platform::Date at, platform::Date now);
  void startTrackingBackgroundScanStartedAt(platform::Date at);
  double backgroundScanTimeIntervalToday(platform::Date now) const;
  double backgroundScanTimeIntervalSinceDate(platform::Date since) const;
  std::optional<platform::Date> lastBackgroundScanStoppedAt() const;
  bool hasScannedInBackground() const { return !ranges_.empty(); }
  // The estimated end of the latest scan: its start plus the on-time once that lies in the
  // past and not before `from`; now otherwise; `from` when no scan started.
  platform::Date lastOrCurrentScanStoppedAtWithFromDate(platform::Date from, platform::Date now) const;

 private:
  std::optional<std::string> identifier_;
  std::shared_ptr<KSDateRange> dateRange_;
  std::optional<platform::Date> expiresAt_;
  std::vector<std::shared_ptr<KSDateRange>> ranges_;  // newest first
  std::optional<platform::Date> startedScanningAt_, lastScanStartedAt_, lastScanStoppedAt_;
  std::shared_ptr<KSDateRange> current_;
  AppState appState_ = AppState::None;
};

}  // namespace velmora::kestrine
