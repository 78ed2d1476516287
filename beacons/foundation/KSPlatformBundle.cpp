#include "beacons/foundation/KSPlatformBundle.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace kestrine {
namespace {

// The SDK's data folder: $XDG_DATA_HOME/velmora, else ~/.local/share/velmora, else the
// system temporary folder.
std::filesystem::path dataFolder() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::filesystem::path(xdg) / "velmora";
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local" / "share" / "velmora";
  }
  std::error_code ec;
  return std::filesystem::temp_directory_path(ec) / "velmora";
}

}  // namespace

KSPlatformBundle KSPlatformBundle::system() {
  KSPlatformBundle b;
  b.scheduler = platform::dispatch::Scheduler::shared();
  // The default centre lives for the whole process; the pointer does not own it.
  b.notificationCenter = std::shared_ptr<platform::NotificationCenter>(
      std::shared_ptr<void>(), &platform::NotificationCenter::defaultCenter());
  b.defaults = platform::UserDefaults::open(dataFolder() / "UserDefaults.plist");
  return b;
}

}  // namespace kestrine
