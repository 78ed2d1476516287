#pragma once

#include <memory>
#include <string>

#include "platform/core/Value.h"

namespace velmora::platform {

// One notification as posted on a NotificationCenter.
struct Notification {
  std::string name;
  // The sender, or the object the notification is about (a signed-in person, an error);
  // may be null. Observers filter on its address; those that know the name's contract cast
  // it back with std::static_pointer_cast.
  std::shared_ptr<void> object;
  // Extra information; empty when there is none.
  Dict userInfo;

  // An object that owns nothing, for a sender that is not held by a shared_ptr (a class-wide
  // tag, say): only its address matters, for filtering.
  static std::shared_ptr<void> unowned(const void* identity) {
    return std::shared_ptr<void>(std::shared_ptr<void>(), const_cast<void*>(identity));
  }
};

}  // namespace velmora::platform
