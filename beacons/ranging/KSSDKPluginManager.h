#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"

namespace velmora::kestrine {

class KSInstanceProvider;

// Installs and removes SDK plug-ins. Each plug-in interface the SDK knows has one manager;
// a plug-in goes to every manager whose interface it implements. The one interface today is
// the ad-data processor, whose manager adds the plug-in to the central client of the shared
// beacon hub (found through the registry, made there if it does not exist yet).
class KSSDKPluginManager {
 public:
  // One row of the plug-in map: the interface's name, whether a plug-in implements it, and
  // that interface's manager.
  struct Entry {
    std::string protocolName;
    std::function<bool(const KSSDKPlugin&)> conformsTo;
    std::function<void(const std::shared_ptr<KSSDKPlugin>&, KSInstanceProvider&)> addPlugin;
    std::function<void(const std::shared_ptr<KSSDKPlugin>&, KSInstanceProvider&)> removePlugin;
  };

  // The process-wide map, made once: "KSPluginAdDataProcessable" → KSPluginAdDataProcessorManager.
  static const std::vector<Entry>& pluginMapper();

  // nullptr does nothing. Without a registry argument, the shared registry.
  static void addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin);
  static void addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider);
  static void removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin);
  static void removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider);
};

// The manager of ad-data processor plug-ins. A plug-in that is not a processor is a caller
// error: it is reported as a programming error (with an empty description) and ignored.
class KSPluginAdDataProcessorManager {
 public:
  static void addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider);
  static void removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider);
};

}  // namespace velmora::kestrine
