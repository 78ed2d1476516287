#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/http/KSURLRequest.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPURLResponse.h"

namespace velmora::kestrine {

// What a task notification's object is: a task of the HTTP layer as observers see it.
// Observers cast the notification's object back to this type. Values that other parts of
// the layer attach to a task (the activity logger's start time) live in its associations.
class KSNetworkTask {
 public:
  virtual ~KSNetworkTask() = default;

  // The request the task was created with.
  virtual std::optional<KSURLRequest> originalRequest() const = 0;
  virtual std::optional<platform::net::HTTPURLResponse> response() const = 0;
  virtual std::optional<platform::Error> error() const = 0;

  void setAssociatedValue(std::string_view key, platform::Value value) {
    std::lock_guard lock(associationsMutex_);
    associations_.insert_or_assign(std::string(key), std::move(value));
  }
  platform::Value associatedValue(std::string_view key) const {
    std::lock_guard lock(associationsMutex_);
    auto it = associations_.find(key);
    return it == associations_.end() ? platform::Value() : it->second;
  }

 private:
  mutable std::mutex associationsMutex_;
  std::map<std::string, platform::Value, std::less<>> associations_;
};

}  // namespace velmora::kestrine
