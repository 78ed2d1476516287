#include "beacons/api/KSRecordApi.h"

#include <mutex>

#include <utility>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSCacher.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBeaconVersion.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamInvite.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kLog = "record-api";

template <class P>
std::shared_ptr<P> find(const std::function<std::shared_ptr<P>()>& port) {
  return port ? port() : nullptr;
}

// The record under `key`, or the import's own error (a reply without the key is a nil
// input to the import, one with something else there is invalid data).
template <class T>
std::shared_ptr<T> recordUnder(const platform::Value& reply, std::string_view key, platform::Error& error) {
  return T::initWithDictionary(reply[key], &error);
}

// The records of a page, skipping (and logging) items that do not import.
template <class T>
std::vector<std::shared_ptr<T>> recordsOf(const platform::Value& items) {
  std::vector<std::shared_ptr<T>> out;
  if (const platform::Array* array = items.array()) {
    for (const auto& item : *array) {
      platform::Error error;
      if (auto record = T::initWithDictionary(item, &error)) {
        out.push_back(std::move(record));
      } else {
        platform::Log::warning(kLog, "skipped a list item that does not import: {}", error.localizedDescription);
      }
    }
  }
  return out;
}

}  // namespace

platform::Error beacon_api::errorWithDescription(std::string_view description) {
  return platform::Error(std::string(KSBeaconApiErrorDomain), -1, std::string(description));
}

void beacon_api::copyApiPropertiesFromBeacon(KSBeacon& beacon, const KSBeacon& fetched) {
  beacon.setBeaconID(fetched.beaconID());
  beacon.setSerialNumber(fetched.serialNumber());
  beacon.setBluetoothAddress(fetched.bluetoothAddress());
  beacon.setProximityUUIDString(fetched.proximityUUIDString());
  beacon.setMajor(fetched.major());
  beacon.setMinor(fetched.minor());
  beacon.setSiteID(fetched.siteID());
  beacon.setSiteName(fetched.siteName());
  if (!beacon.siteID()) beacon.setSite(nullptr);
  beacon.setTeamID(fetched.teamID());
  beacon.setFeatureBitmask(fetched.featureBitmask());
  auto eddystone = fetched.eddystone();
  beacon.setEddystone(eddystone ? eddystone->copy() : nullptr);
  beacon.setWireframeURLString(fetched.wireframeURLString());
  if (auto access = fetched.networkAccess()) beacon.setNetworkAccess(access);
  if (!fetched.createdAt()) return;  // a summary, not the full record
  beacon.setName(fetched.name());
  beacon.setPrivacyDuration(fetched.privacyDuration());
  beacon.setSiteName(fetched.siteName());
  beacon.setCreatedAt(fetched.createdAt());
  beacon.setModifiedAt(fetched.modifiedAt());
  beacon.setBatteryStatus(fetched.batteryStatus());
  beacon.setBeaconLoudness(fetched.beaconLoudness());
  beacon.setTargetSpeed(fetched.targetSpeed());
  beacon.setBeaconMode(fetched.beaconMode());
  beacon.setBeaconRegion(fetched.beaconRegion());
  beacon.setCategories(fetched.categories());
  beacon.setCustomValues(fetched.customValues());
  beacon.setMapPoint(fetched.mapPoint());
  beacon.setVersion(fetched.version());
  beacon.setPendingVersion(fetched.pendingVersion());
  beacon.setMeasuredPowerAt1Meter(fetched.measuredPowerAt1Meter());
  beacon.setFirmwareVersion(fetched.firmwareVersion());
  beacon.setFirmwareUID(fetched.firmwareUID());
  beacon.setLatestFirmwareVersion(fetched.latestFirmwareVersion());
  beacon.setLatestFirmwareUID(fetched.latestFirmwareUID());
  beacon.setModelNumber(fetched.modelNumber());
  beacon.setUpgradableOTA(fetched.upgradableOTA());
  beacon.setLastKnownBatteryLevel(fetched.lastKnownBatteryLevel());
}

KSRecordApi::KSRecordApi(std::shared_ptr<KSApiClient> client, KSApiOperationManagerPorts ports)
    : client_(std::move(client)), ports_(std::move(ports)) {}

void KSRecordApi::send(const std::optional<KSApiRequest>& request, std::string_view what, Reply success,
                       TaskFailure failure) {
  if (!client_) {
    model_services::failForMissingApiClient([failure](const platform::Error& error) {
      if (failure) failure(nullptr, error);
    });
    return;
  }
  if (!request) {
    auto error = beacon_api::errorWithDescription(fmt::format("The record lacks the identifier {} needs", what));
    if (failure) client_->completionQueue()->async([failure, error] { failure(nullptr, error); });
    return;
  }
  auto task = client_->dataTaskWithHTTPMethod(request->method, request->path, request->parameters, std::move(success),
                                              std::move(failure));
  if (task) task->resume();
}

void KSRecordApi::postToMain(std::function<void()> work) {
  if (!client_) return model_services::postToMainQueue(std::move(work));
  client_->scheduler()->mainQueue()->async(std::move(work));
}

template <class T>
void KSRecordApi::walk(const std::optional<KSApiRequest>& request,
                       std::function<void(std::vector<std::shared_ptr<T>>, bool last)> page, Failure failure) {
  if (!client_) return model_services::failForMissingApiClient(failure);
  if (!request) {
    auto error = beacon_api::errorWithDescription("The record lacks the identifier its list needs");
    if (failure) client_->completionQueue()->async([failure, error] { failure(error); });
    return;
  }
  KSPaginator::loadAllPagesForPath(
      request->path, request->parameters,
      [page](const platform::Value& items, const std::shared_ptr<KSPaginator>& paginator) {
        page(recordsOf<T>(items), !paginator->walkContinues());
      },
      [failure](const platform::Error& error) {
        if (failure) failure(error);
      },
      client_);
}

// --- beacons --------------------------------------------------------------------------------

void KSRecordApi::updateBeacon(const std::shared_ptr<KSBeacon>& beacon,
                               std::function<void(std::shared_ptr<KSBeacon>)> success, Failure failure) {
  if (!beacon) return;
  std::weak_ptr<KSBeacon> weak = beacon;
  send(record_requests::updateBeacon(*beacon), "updateBeacon",
       [weak, success](const auto&, const platform::Value&) {
         if (success) success(weak.lock());
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::moveBeaconToTeam(const std::shared_ptr<KSBeacon>& beacon, const KSTeam& team, const KSSite& site,
                                   bool keepCategories, std::function<void(std::shared_ptr<KSBeacon>)> success,
                                   Failure failure) {
  if (!beacon) return;
  std::weak_ptr<KSBeacon> weak = beacon;
  send(record_requests::moveBeaconToTeam(*beacon, team, site, keepCategories), "moveBeaconToTeam",
       [this, weak, success, failure](const auto&, const platform::Value&) {
         auto strong = weak.lock();
         if (!strong) {
           if (success) success(nullptr);
           return;
         }
         refreshBeacon(
             strong, [weak, success] { if (success) success(weak.lock()); }, failure);
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getBeaconVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version,
                                   std::function<void(std::shared_ptr<KSBeaconVersion>)> success, Failure failure) {
  if (!beacon) return;
  send(record_requests::beaconVersion(*beacon, version), "getBeaconVersion",
       [beacon, success, failure](const auto&, const platform::Value& reply) {
         platform::Error error;
         auto record = recordUnder<KSBeaconVersion>(reply, "version", error);
         if (!record) {
           if (failure) failure(error);
         } else if (success) {
           success(record);
         }
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getLatestBeaconVersion(const std::shared_ptr<KSBeacon>& beacon,
                                         std::function<void(std::shared_ptr<KSBeaconVersion>)> success,
                                         Failure failure) {
  if (!beacon) return;
  send(record_requests::latestBeaconVersion(*beacon), "getLatestBeaconVersion",
       [beacon, success, failure](const auto&, const platform::Value& reply) {
         platform::Error error;
         auto record = recordUnder<KSBeaconVersion>(reply, "version", error);
         if (!record) {
           if (failure) failure(error);
         } else if (success) {
           success(record);
         }
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::confirmBeaconVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version, Reply success,
                                       TaskFailure failure) {
  if (!beacon) return;
  send(record_requests::confirmBeaconVersion(*beacon, version), "confirmBeaconVersion",
       [beacon, success](const auto& task, const platform::Value& reply) {
         if (success) success(task, reply);
       },
       std::move(failure));
}

void KSRecordApi::refreshBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void()> success,
                                Failure failure) {
  if (!beacon) return;
  auto ports = ports_;
  send(record_requests::refreshBeacon(*beacon), "refreshBeacon",
       [beacon, ports, success, failure](const auto&, const platform::Value& reply) {
         platform::Error error;
         auto fetched = recordUnder<KSBeacon>(reply, "beacon", error);
         if (!fetched) {
           if (failure) failure(error);
           return;
         }
         beacon_api::copyApiPropertiesFromBeacon(*beacon, *fetched);
         if (auto hub = find(ports.beaconCache)) {
           KSBeaconSyncResult result;
           result.beaconIdentifierType = KSBeaconIdentifierTypeBluetoothAddress;
           result.beaconIdentifierString = beacon->bluetoothAddress();
           result.httpStatusCode = 200;
           result.beacons = {beacon};
           hub->cacheBeaconsFromSyncResult(result);
         }
         if (success) success();
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getLatestBeacon(const std::shared_ptr<KSBeacon>& beacon,
                                  std::function<void(std::shared_ptr<KSBeacon>)> success, Failure failure) {
  if (!beacon) return;
  send(record_requests::latestBeacon(*beacon), "getLatestBeacon",
       [beacon, success, failure](const auto&, const platform::Value& reply) {
         platform::Error error;
         auto latest = recordUnder<KSBeacon>(reply, "beacon", error);
         if (!latest) {
           if (failure) failure(error);
         } else if (success) {
           success(latest);
         }
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

namespace {
template <class T>
KSRecordApi::Reply listUnder(std::string key, std::string missing,
                             std::function<void(const std::vector<std::shared_ptr<T>>&)> success,
                             KSRecordApi::Failure failure) {
  return [key, missing, success, failure](const auto&, const platform::Value& reply) {
    const platform::Value& list = reply[key];
    if (list.isAbsent()) {
      if (failure) failure(beacon_api::errorWithDescription(missing));
      return;
    }
    platform::Error error;
    auto records = T::arrayOfModelsFromDictionaries(list, &error);
    if (!records) {
      if (failure) failure(error);
    } else if (success) {
      success(*records);
    }
  };
}
}  // namespace

void KSRecordApi::getTargetSpeeds(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                                  std::function<void(const std::vector<std::shared_ptr<KSTargetSpeed>>&)> success,
                                  Failure failure) {
  if (!beacon) return;
  send(record_requests::beaconTargetSpeeds(*beacon, std::move(parameters)), "getTargetSpeeds",
       listUnder<KSTargetSpeed>("targetSpeeds", "Response Did Not Include Target Speeds", success, failure),
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getBeaconModes(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                                 std::function<void(const std::vector<std::shared_ptr<KSBeaconMode>>&)> success,
                                 Failure failure) {
  if (!beacon) return;
  send(record_requests::beaconModes(*beacon, std::move(parameters)), "getBeaconModes",
       listUnder<KSBeaconMode>("beaconModes", "Response Did Not Include Beacon Modes", success, failure),
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getBeaconLoudnesses(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                                      std::function<void(const std::vector<std::shared_ptr<KSBeaconLoudness>>&)> success,
                                      Failure failure) {
  if (!beacon) return;
  send(record_requests::beaconLoudnesses(*beacon, std::move(parameters)), "getBeaconLoudnesses",
       listUnder<KSBeaconLoudness>("beaconLoudnesses", "Response Did Not Include Beacon Loudnesses", success, failure),
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

// --- sites, apps, categories, teams -----------------------------------------------------------

void KSRecordApi::updateSite(const std::shared_ptr<KSSite>& site, const std::optional<std::string>& teamID,
                             std::function<void(std::shared_ptr<KSSite>, const platform::Value&)> success,
                             Failure failure) {
  if (!site) return;
  send(record_requests::updateSite(*site, teamID), "updateSite",
       [site, success](const auto&, const platform::Value& reply) {
         if (success) success(site, reply);
       },
       [site, failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::updateApp(const std::shared_ptr<KSApp>& app,
                            std::function<void(std::shared_ptr<KSApp>, const platform::Value&)> success,
                            Failure failure) {
  if (!app) return;
  send(record_requests::updateApp(*app), "updateApp",
       [app, success](const auto&, const platform::Value& reply) {
         if (success) success(app, reply);
       },
       [app, failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getAppToken(const std::shared_ptr<KSApp>& app,
                              std::function<void(std::shared_ptr<KSApp>, std::optional<std::string>)> success,
                              std::function<void(std::shared_ptr<KSApp>, const platform::Error&)> failure) {
  if (!app) return;
  send(record_requests::appToken(*app), "getAppToken",
       [app, success](const auto&, const platform::Value& reply) {
         const std::string* token = reply["appToken"].string();
         if (success) success(app, token ? std::optional<std::string>(*token) : std::nullopt);
       },
       [app, failure](const auto&, const platform::Error& e) {
         if (failure) failure(app, e);
       });
}

void KSRecordApi::updateCategory(const std::shared_ptr<KSCategory>& category,
                                 std::function<void(std::shared_ptr<KSCategory>)> success, Failure failure) {
  if (!category) return;
  std::weak_ptr<KSCategory> weak = category;
  send(record_requests::updateCategory(*category), "updateCategory",
       [weak, success](const auto&, const platform::Value&) {
         if (success) success(weak.lock());
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::updateTeam(const std::shared_ptr<KSTeam>& team, std::function<void(std::shared_ptr<KSTeam>)> success,
                             Failure failure) {
  if (!team) return;
  std::weak_ptr<KSTeam> weak = team;
  send(record_requests::updateTeam(*team), "updateTeam",
       [weak, success](const auto&, const platform::Value&) {
         if (success) success(weak.lock());
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::getAlerts(const std::shared_ptr<KSTeam>&, std::function<void()>,
                            std::function<void(std::shared_ptr<KSTeam>, std::optional<platform::Error>)> failure) {
  if (failure) failure(nullptr, std::nullopt);
}

namespace {
platform::Date nowOf(const std::shared_ptr<KSApiClient>& client) { return client->scheduler()->clock()->now(); }
}  // namespace

template <class T>
void KSRecordApi::walkTeamList(
    const std::shared_ptr<KSTeam>& team, const std::optional<KSApiRequest>& request,
    std::function<void(const std::vector<std::shared_ptr<T>>&)> onPage,
    std::function<void(KSTeam&, const std::vector<std::shared_ptr<T>>&, platform::Date)> keep,
    std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<T>>&)> success,
    TeamFailure failure) {
  std::weak_ptr<KSTeam> weak = team;
  auto client = client_;
  // The walk's list starts empty and grows page by page.
  auto gathered = std::make_shared<std::vector<std::shared_ptr<T>>>();
  walk<T>(
      request,
      [weak, client, gathered, onPage, keep, success](std::vector<std::shared_ptr<T>> page, bool) {
        auto strong = weak.lock();
        if (onPage) onPage(page);
        gathered->insert(gathered->end(), page.begin(), page.end());
        if (strong) keep(*strong, *gathered, nowOf(client));
        if (success) success(strong, *gathered);
      },
      [weak, failure](const platform::Error& e) {
        if (failure) failure(weak.lock(), e);
      });
}

void KSRecordApi::getApps(
    const std::shared_ptr<KSTeam>& team,
    std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSApp>>&)> success,
    TeamFailure failure, bool preferCached) {
  if (!team) return;
  if (preferCached && !team->hasAppsCacheExpired()) {
    postToMain([team, success] { if (success) success(team, team->cachedApps()); });
    return;
  }
  walkTeamList<KSApp>(
      team, record_requests::teamApps(*team), nullptr,
      [](KSTeam& t, const std::vector<std::shared_ptr<KSApp>>& apps, platform::Date now) {
        t.setCachedApps(apps);
        t.setCachedAppsAt(now);
      },
      std::move(success), std::move(failure));
}

void KSRecordApi::getTeammates(
    const std::shared_ptr<KSTeam>& team,
    std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSTeammate>>&)> success,
    TeamFailure failure, bool preferCached) {
  if (!team) return;
  if (preferCached && !team->hasTeammatesCacheExpired()) {
    postToMain([team, success] { if (success) success(team, team->cachedTeammates()); });
    return;
  }
  walkTeamList<KSTeammate>(
      team, record_requests::teamTeammates(*team), nullptr,
      [](KSTeam& t, const std::vector<std::shared_ptr<KSTeammate>>& teammates, platform::Date now) {
        t.setCachedTeammates(teammates);
        t.setCachedTeammatesAt(now);
      },
      std::move(success), std::move(failure));
}

void KSRecordApi::getSites(
    const std::shared_ptr<KSTeam>& team,
    std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSSite>>&)> success,
    TeamFailure failure) {
  if (!team) return;
  auto ports = ports_;
  walkTeamList<KSSite>(
      team, record_requests::teamSites(*team),
      [ports](const std::vector<std::shared_ptr<KSSite>>& page) {
        if (auto cache = find(ports.siteCache)) {
          KSSiteSyncResult result;
          result.httpStatusCode = 200;
          result.sites = page;
          cache->cacheSitesFromSyncResult(result);
        }
      },
      [](KSTeam& t, const std::vector<std::shared_ptr<KSSite>>& sites, platform::Date now) {
        t.setNumberOfSitesCached(sites.size());
        t.setCachedSitesAt(now);
      },
      std::move(success), std::move(failure));
}

void KSRecordApi::createSite(const std::shared_ptr<KSTeam>& team, const std::shared_ptr<KSSite>& site,
                             std::function<void(std::shared_ptr<KSTeam>, std::shared_ptr<KSSite>)> success,
                             TeamFailure failure) {
  if (!team || !site) return;
  // The site goes out as the team's: it carries the team's id from here on.
  if (const auto teamID = team->teamID(); teamID && !teamID->empty()) site->setTeamID(teamID);
  std::weak_ptr<KSTeam> weak = team;
  auto ports = ports_;
  send(record_requests::createSite(*team, *site), "createSite",
       [weak, ports, success, failure](const auto&, const platform::Value& reply) {
         auto strong = weak.lock();
         platform::Error error;
         auto created = recordUnder<KSSite>(reply, "site", error);
         if (!created) {
           if (failure) failure(strong, error);
           return;
         }
         if (strong) {
           if (auto cache = find(ports.siteCache)) cache->cacheSite(created, true);
           strong->setSiteCount(strong->siteCount() + 1);
         }
         if (success) success(strong, created);
       },
       [weak, failure](const auto&, const platform::Error& e) {
         if (failure) failure(weak.lock(), e);
       });
}

void KSRecordApi::deleteSite(const std::shared_ptr<KSTeam>& team, const std::shared_ptr<KSSite>& site,
                             std::function<void(std::shared_ptr<KSTeam>)> success, TeamFailure failure) {
  if (!team || !site) return;
  std::weak_ptr<KSTeam> weak = team;
  auto ports = ports_;
  send(record_requests::deleteSite(*site), "deleteSite",
       [weak, site, ports, success](const auto&, const platform::Value&) {
         auto strong = weak.lock();
         if (strong) {
           if (auto cache = find(ports.siteCache)) cache->removeCachedSite(site);
           strong->setSiteCount(strong->siteCount() - 1);
         }
         if (success) success(strong);
       },
       [weak, failure](const auto&, const platform::Error& e) {
         if (failure) failure(weak.lock(), e);
       });
}

void KSRecordApi::createCategories(const std::shared_ptr<KSTeam>& team,
                                   const std::vector<std::shared_ptr<KSCategory>>& categories,
                                   std::function<void(const std::vector<std::shared_ptr<KSCategory>>&)> success,
                                   Failure failure) {
  if (!team) return;
  std::size_t expected = 0;
  for (const auto& category : categories) expected += category ? 1 : 0;
  if (expected == 0) return;
  struct Gathered {
    std::mutex mutex;
    std::vector<std::shared_ptr<KSCategory>> created;
  };
  auto gathered = std::make_shared<Gathered>();
  for (const auto& category : categories) {
    if (!category) continue;
    team->createCategory(
        category,
        [gathered, expected, success](std::shared_ptr<KSCategory> created) {
          std::vector<std::shared_ptr<KSCategory>> all;
          {
            std::lock_guard lock(gathered->mutex);
            gathered->created.push_back(std::move(created));
            if (gathered->created.size() != expected) return;
            all = gathered->created;
          }
          if (success) success(all);
        },
        failure);
  }
}

// --- the signed-in person -------------------------------------------------------------------

void KSRecordApi::getTeams(const std::shared_ptr<KSPerson>& person,
                           std::function<void(const std::vector<std::shared_ptr<KSTeam>>&)> success, Failure failure,
                           bool preferCached) {
  if (!person) return;
  if (preferCached && !person->hasTeamsCacheExpired()) {
    postToMain([person, success] { if (success) success(person->allCachedTeams()); });
    return;
  }
  std::weak_ptr<KSPerson> weak = person;
  auto client = client_;
  walk<KSTeam>(
      record_requests::personTeams(),
      [weak, client, success](std::vector<std::shared_ptr<KSTeam>> page, bool) {
        auto strong = weak.lock();
        if (!strong) return;
        strong->cacheTeamsFromArray(page);
        strong->setCachedTeamsAt(nowOf(client));
        if (success) success(strong->allCachedTeams());
      },
      std::move(failure));
}

void KSRecordApi::createTeam(const std::shared_ptr<KSPerson>& person, const std::shared_ptr<KSTeam>& team,
                             std::function<void(std::shared_ptr<KSTeam>)> success, Failure failure) {
  if (!person || !team) return;
  std::weak_ptr<KSPerson> weak = person;
  send(record_requests::createTeam(*team), "createTeam",
       [weak, success, failure](const auto&, const platform::Value& reply) {
         platform::Error error;
         auto created = recordUnder<KSTeam>(reply, "team", error);
         if (!created) {
           if (failure) failure(error);
           return;
         }
         if (auto strong = weak.lock()) {
           strong->cacheTeam(created);
           strong->setTeamCount(strong->teamCount() + 1);
         }
         if (success) success(created);
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

void KSRecordApi::deleteTeam(const std::shared_ptr<KSPerson>& person, const std::shared_ptr<KSTeam>& team,
                             std::function<void()> success, Failure failure) {
  if (!person || !team) return;
  std::weak_ptr<KSPerson> weak = person;
  send(record_requests::deleteTeam(*team), "deleteTeam",
       [weak, team, success](const auto&, const platform::Value&) {
         if (auto strong = weak.lock()) {
           strong->removeCachedTeam(team);
           strong->setTeamCount(strong->teamCount() - 1);
         }
         if (success) success();
       },
       [failure](const auto&, const platform::Error& e) {
         if (failure) failure(e);
       });
}

}  // namespace velmora::kestrine
