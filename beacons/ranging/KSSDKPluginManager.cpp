#include "beacons/ranging/KSSDKPluginManager.h"

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace {

// The processor the plug-in is, or nullptr after reporting the caller's error.
std::shared_ptr<KSPluginAdDataProcessable> processorOf(const std::shared_ptr<KSSDKPlugin>& plugin) {
  auto processor = std::dynamic_pointer_cast<KSPluginAdDataProcessable>(plugin);
  if (!processor) platform::reportProgrammingError("");
  return processor;
}

std::shared_ptr<KSCentralManagerClient> sharedCentralClient(KSInstanceProvider& provider) {
  auto hub = KSBeaconManagerInternal::sharedInternal(provider);
  return hub ? hub->centralManagerClient() : nullptr;
}

}  // namespace

const std::vector<KSSDKPluginManager::Entry>& KSSDKPluginManager::pluginMapper() {
  static const std::vector<Entry>& mapper = *new std::vector<Entry>{
      {"KSPluginAdDataProcessable",
       [](const KSSDKPlugin& plugin) { return dynamic_cast<const KSPluginAdDataProcessable*>(&plugin) != nullptr; },
       &KSPluginAdDataProcessorManager::addPlugin, &KSPluginAdDataProcessorManager::removePlugin},
  };
  return mapper;
}

void KSSDKPluginManager::addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin) {
  addPlugin(plugin, *KSInstanceProvider::sharedProvider());
}

void KSSDKPluginManager::addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider) {
  if (!plugin) return;
  for (const auto& entry : pluginMapper()) {
    if (entry.conformsTo(*plugin)) entry.addPlugin(plugin, provider);
  }
}

void KSSDKPluginManager::removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin) {
  removePlugin(plugin, *KSInstanceProvider::sharedProvider());
}

void KSSDKPluginManager::removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin, KSInstanceProvider& provider) {
  if (!plugin) return;
  for (const auto& entry : pluginMapper()) {
    if (entry.conformsTo(*plugin)) entry.removePlugin(plugin, provider);
  }
}

void KSPluginAdDataProcessorManager::addPlugin(const std::shared_ptr<KSSDKPlugin>& plugin,
                                               KSInstanceProvider& provider) {
  auto processor = processorOf(plugin);
  if (!processor) return;
  if (auto central = sharedCentralClient(provider)) central->addAdDataProcessor(processor);
}

void KSPluginAdDataProcessorManager::removePlugin(const std::shared_ptr<KSSDKPlugin>& plugin,
                                                  KSInstanceProvider& provider) {
  auto processor = processorOf(plugin);
  if (!processor) return;
  if (auto central = sharedCentralClient(provider)) central->removeAdDataProcessor(processor);
}

}  // namespace velmora::kestrine
