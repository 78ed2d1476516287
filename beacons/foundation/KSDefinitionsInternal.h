#pragma once

namespace velmora::platform::app {
class Application;
}

namespace velmora::kestrine {

// Small tests of the platform's state that several parts of the beacon layer share.
class KSDefinitionsInternal {
 public:
  // Whether the shared registry's app is in the background (state 2). The app's state is
  // an atomic that any thread may read, so the check runs on the calling thread and never
  // waits for the main queue: callers include work the main queue itself may be waiting
  // for. With no app (a host without an app lifecycle) the answer is no.
  static bool isAppInBackground();
  // The same test on one app; nullptr answers no.
  static bool isAppInBackground(const platform::app::Application* app);
};

}  // namespace velmora::kestrine
