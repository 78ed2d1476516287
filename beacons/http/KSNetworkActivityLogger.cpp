#include "beacons/http/KSNetworkActivityLogger.h"

#include <fmt/format.h>

#include "beacons/http/KSNetworkTask.h"
#include "platform/core/Utf8.h"
#include "beacons/http/KSNetworkingNotifications.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

constexpr std::string_view kCategory = "network";

std::string headerText(const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string out = "{";
  for (const auto& [field, value] : headers) {
    if (out.size() > 1) out += ", ";
    out += fmt::format("{}: {}", field, value);
  }
  return out + "}";
}

std::string objectText(const platform::Value& value) {
  if (value.isAbsent()) return "(null)";
  if (const std::string* s = value.string()) return *s;
  if (auto json = platform::json::write(value)) return *json;
  return fmt::format("<{}>", platform::Value::kindName(value.kind()));
}

std::string errorText(const platform::Error& error) {
  return fmt::format("Error Domain={} Code={} \"{}\"", error.domain, error.code, error.localizedDescription);
}

// Body text only when it reads as UTF-8; binary bodies are not written to the log.
std::string bodyText(const KSURLRequest& request) {
  if (request.HTTPBody().empty()) return "(null)";
  return platform::isValidUtf8(request.HTTPBody()) ? request.HTTPBody() : "(binary)";
}

}  // namespace

struct KSNetworkActivityLogger::State {
  std::shared_ptr<platform::Clock> clock;
  mutable std::mutex mutex;
  std::uint64_t level = 2;
  FilterPredicate filter;

  std::uint64_t currentLevel() const {
    std::lock_guard lock(mutex);
    return level;
  }
  bool filtered(const KSURLRequest& request) const {
    FilterPredicate f;
    {
      std::lock_guard lock(mutex);
      f = filter;
    }
    return f && f(request);
  }

  void didStart(const platform::Notification& notification) const {
    auto request = KSNetworkRequestFromNotification(notification);
    if (!request || filtered(*request)) return;
    auto task = std::static_pointer_cast<KSNetworkTask>(notification.object);
    task->setAssociatedValue(KSNetworkRequestStartDate, clock->now());
    switch (currentLevel()) {
      case 1:
        platform::Log::info(kCategory, "{} '{}': {} {}", request->HTTPMethod(), request->url(),
                            headerText(request->urlRequest.headers), bodyText(*request));
        break;
      case 2:
        platform::Log::info(kCategory, "{} '{}'", request->HTTPMethod(), request->url());
        break;
      default:
        break;
    }
  }

  void didFinish(const platform::Notification& notification) const {
    if (!notification.object) return;
    auto task = std::static_pointer_cast<KSNetworkTask>(notification.object);
    auto request = task->originalRequest();
    auto response = task->response();
    if (!request && !response) return;
    if (request && filtered(*request)) return;

    const int status = response ? response->statusCode : 0;
    const std::vector<std::pair<std::string, std::string>> noHeaders;
    const auto& headers = response ? response->headers : noHeaders;
    // A reply without a response (refused, timed out) still names what was asked for.
    const std::string url = response ? response->url : request->url();
    platform::Value object;
    if (auto it = notification.userInfo.find(KSNetworkingTaskDidCompleteSerializedResponseKey);
        it != notification.userInfo.end()) {
      object = it->second;
    }
    // A task resumed before logging started has no start time: its duration is unknown.
    const platform::Value started = task->associatedValue(KSNetworkRequestStartDate);
    const std::string elapsed = started.toDate()
                                    ? fmt::format("{:.4f} s", clock->now().timeIntervalSince(*started.toDate()))
                                    : std::string("? s");
    const std::uint64_t level = currentLevel();
    if (auto error = task->error()) {
      if (level >= 1 && level <= 4) {
        platform::Log::error(kCategory, "[Error] {} '{}' ({}) [{}]: {}", request ? request->HTTPMethod() : "(null)", url,
                             status, elapsed, errorText(*error));
      }
      return;
    }
    if (level == 2) {
      platform::Log::info(kCategory, "{} '{}' [{}]", status, url, elapsed);
    } else if (level == 1) {
      platform::Log::info(kCategory, "{} '{}' [{}]: {} {}", status, url, elapsed, headerText(headers), objectText(object));
    }
  }
};

std::optional<KSURLRequest> KSNetworkRequestFromNotification(const platform::Notification& notification) {
  if (!notification.object) return std::nullopt;
  return std::static_pointer_cast<KSNetworkTask>(notification.object)->originalRequest();
}

KSNetworkActivityLogger& KSNetworkActivityLogger::sharedLogger() {
  static KSNetworkActivityLogger* logger = new KSNetworkActivityLogger();  // lives for the process
  return *logger;
}

KSNetworkActivityLogger::KSNetworkActivityLogger(platform::NotificationCenter& center,
                                                     std::shared_ptr<platform::Clock> clock)
    : center_(center), state_(std::make_shared<State>()) {
  state_->clock = std::move(clock);
}

KSNetworkActivityLogger::~KSNetworkActivityLogger() { stopLogging(); }

std::uint64_t KSNetworkActivityLogger::level() const { return state_->currentLevel(); }

void KSNetworkActivityLogger::setLevel(std::uint64_t level) {
  std::lock_guard lock(state_->mutex);
  state_->level = level;
}

void KSNetworkActivityLogger::setFilterPredicate(FilterPredicate predicate) {
  std::lock_guard lock(state_->mutex);
  state_->filter = std::move(predicate);
}

void KSNetworkActivityLogger::startLogging() {
  stopLogging();
  std::weak_ptr<State> weak = state_;
  std::lock_guard lock(tokensMutex_);
  resumeToken_ = center_.addObserver(std::string(KSNetworkingTaskDidResumeNotification), nullptr, nullptr,
                                     [weak](const platform::Notification& n) {
                                       if (auto state = weak.lock()) state->didStart(n);
                                     });
  completeToken_ = center_.addObserver(std::string(KSNetworkingTaskDidCompleteNotification), nullptr, nullptr,
                                       [weak](const platform::Notification& n) {
                                         if (auto state = weak.lock()) state->didFinish(n);
                                       });
}

void KSNetworkActivityLogger::stopLogging() {
  std::lock_guard lock(tokensMutex_);
  center_.removeObserver(resumeToken_);
  center_.removeObserver(completeToken_);
  resumeToken_.reset();
  completeToken_.reset();
}

}  // namespace velmora::kestrine
