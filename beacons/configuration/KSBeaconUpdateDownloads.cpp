#include "beacons/configuration/KSBeaconUpdateDownloads.h"

#include <atomic>
#include <system_error>
#include <unistd.h>
#include <utility>

#include <fmt/format.h>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/http/KSQueryStringPair.h"
#include "beacons/http/KSURLResolution.h"
#include "beacons/http/KSURLSessionManager.h"
#include "beacons/model/KSBeacon.h"
#include "platform/app/Application.h"
#include "platform/core/Log.h"
#include "platform/crypto/Base64.h"
#include "platform/dispatch/Queue.h"

namespace velmora::kestrine::beacon_updates {
namespace {

constexpr std::string_view kLog = "beacon-updates";

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\"'";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string_view field(std::string_view text, char separator, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    const auto at = text.find(separator, start);
    if (at == std::string_view::npos) return {};
    start = at + 1;
  }
  const auto end = text.find(separator, start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

bool hasField(std::string_view text, char separator, std::size_t index) {
  std::size_t count = 0;
  for (char c : text) count += c == separator;
  return count >= index;
}

// The session of one download: the client's configuration and its headers, its completion
// queue, and a plain-data response serializer (which refuses a status outside 200-299).
std::shared_ptr<KSURLSessionManager> downloadManager(const KSApiClient& client) {
  platform::net::URLSessionConfiguration configuration = client.sessionConfiguration();
  auto add = [&configuration](const std::string& name, const std::string& value) {
    std::erase_if(configuration.HTTPAdditionalHeaders, [&](const auto& h) { return h.first == name; });
    configuration.HTTPAdditionalHeaders.emplace_back(name, value);
  };
  for (const auto& [name, value] : client.requestSerializer()->HTTPRequestHeaders()) add(name, value);
  add(std::string(KSApiVersionHeader), std::string(KSApiVersion));
  auto manager = KSURLSessionManager::create(std::move(configuration));
  manager->setResponseSerializer(KSHTTPResponseSerializer::serializer());
  manager->setCompletionQueue(client.completionQueue());
  return manager;
}

std::shared_ptr<KSApiClient> clientOrShared(std::shared_ptr<KSApiClient> client) {
  return client ? std::move(client) : KSApiClient::sharedApiClient();
}

// The absolute GET request of a firmware path, or the error to fail with.
std::optional<KSURLRequest> requestFor(const KSApiClient& client, const KSBeacon& beacon, const std::string& pathTemplate,
                                         const std::string& version, std::string query, platform::Error* error) {
  const auto beaconID = beacon.beaconID();
  if (!beaconID || beaconID->empty()) {
    *error = errorWithDescription("The beacon has no identifier to download firmware for");
    return std::nullopt;
  }
  const std::string path = KSApiPath(pathTemplate, {*beaconID, version}) + query;
  auto absolute = KSResolveURL(path, client.baseURL());
  if (!absolute) {
    *error = errorWithDescription(fmt::format("The download path {} cannot be resolved", path));
    return std::nullopt;
  }
  KSURLRequest request;
  request.urlRequest.url = *absolute;
  request.urlRequest.method = "GET";
  // Not positive: the session's own time-out applies.
  request.urlRequest.timeoutSeconds = 0;
  return request;
}

void failLater(const KSApiClient& client, Failure failure, platform::Error error) {
  client.completionQueue()->async([failure = std::move(failure), error = std::move(error)] {
    if (failure) failure(error);
  });
}

platform::Bytes bytesOf(const platform::Value& object) {
  if (const auto* bytes = object.bytes()) return *bytes;
  return {};
}

// A task that fetches the body of a firmware path into memory.
void fetch(const KSBeacon& beacon, const std::string& pathTemplate, const std::string& version,
           const std::optional<platform::Bytes>& status, DataResponseSuccess success, Failure failure,
           std::shared_ptr<KSApiClient> client) {
  client = clientOrShared(std::move(client));
  platform::Error error;
  auto request = requestFor(*client, beacon, pathTemplate, version, "?status=" + escapedStatusQueryValue(status), &error);
  if (!request) return failLater(*client, std::move(failure), std::move(error));
  auto manager = downloadManager(*client);
  auto task = manager->dataTaskWithRequest(
      *request, [success = std::move(success), failure = std::move(failure)](
                    const std::optional<platform::net::HTTPURLResponse>& response, const platform::Value& object,
                    const std::optional<platform::Error>& failed) {
        if (failed) {
          if (failure) failure(KSApiClientEnrichedError(*failed, response));
          return;
        }
        if (success) success(bytesOf(object), response.value_or(platform::net::HTTPURLResponse{}));
      });
  // The session keeps its manager while the task runs and lets it go, with the session,
  // once the task completed.
  task->resume();
}

std::filesystem::path stagingPath(const std::filesystem::path& folder) {
  static std::atomic<std::uint64_t> counter{0};
  return folder / fmt::format(".firmware-download-{}-{}", ::getpid(), counter.fetch_add(1));
}

}  // namespace

platform::Error errorWithDescription(std::string description) {
  return platform::Error(std::string(KSBeaconUpdatesErrorDomain), -1, std::move(description));
}

std::string escapedStatusQueryValue(const std::optional<platform::Bytes>& status) {
  if (!status) return "";
  return KSPercentEscapedStringFromString(
      platform::crypto::base64Encode(*status, platform::crypto::Base64Lines::Length64));
}

std::string hexFileName(const std::optional<std::string>& modelNumber, const std::optional<std::string>& contentDisposition,
                        const std::string& version) {
  std::string name;
  if (contentDisposition && hasField(*contentDisposition, ';', 1)) {
    const std::string_view part = field(*contentDisposition, ';', 1);
    if (hasField(part, '=', 1)) name = std::string(trimmed(field(part, '=', 1)));
  }
  // Only the last path component: the file stays in the documents folder.
  if (const auto slash = name.find_last_of("/\\"); slash != std::string::npos) name = name.substr(slash + 1);
  name = std::string(trimmed(name));
  std::erase(name, '\0');
  if (name.empty() || name == "." || name == "..") name = version + ".hex";
  std::string file = modelNumber.value_or("(null)") + "_" + name;
  // A model number is the cloud's text too: keep it from adding a folder.
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  return file;
}

void downloadOTAVersion(const KSBeacon& beacon, const std::string& version, const std::optional<platform::Bytes>& status,
                        DataSuccess success, Failure failure, std::shared_ptr<KSApiClient> client) {
  fetch(
      beacon, "beacons/%@/firmware/%@/ota", version, status,
      [success = std::move(success)](const platform::Bytes& data, const platform::net::HTTPURLResponse&) {
        if (success) success(data);
      },
      std::move(failure), std::move(client));
}

void downloadHEXVersion(const KSBeacon& beacon, const std::string& version, const std::optional<platform::Bytes>& status,
                        DataResponseSuccess success, Failure failure, std::shared_ptr<KSApiClient> client) {
  fetch(beacon, "beacons/%@/firmware/%@/hex", version, status, std::move(success), std::move(failure),
        std::move(client));
}

void downloadHexFileVersion(const KSBeacon& beacon, const std::string& version, FileSuccess success, Failure failure,
                            std::shared_ptr<KSApiClient> client, std::shared_ptr<platform::app::Application> app) {
  client = clientOrShared(std::move(client));
  if (!app) app = KSInstanceProvider::sharedProvider()->platform().app;
  platform::Error error;
  auto request = requestFor(*client, beacon, "beacons/%@/firmware/%@/hex", version, "", &error);
  if (!request) return failLater(*client, std::move(failure), std::move(error));
  if (!app) return failLater(*client, std::move(failure), errorWithDescription("No documents folder to download to"));

  const std::filesystem::path folder = app->documentsDirectory();
  const std::filesystem::path staging = stagingPath(folder);
  const auto modelNumber = beacon.modelNumber();
  auto manager = downloadManager(*client);
  // The body lands beside its destination first; only a reply the serializer accepted is
  // given the name the cloud chose.
  auto task = manager->downloadTaskWithRequest(
      *request, nullptr,
      [staging](const std::string&, const std::optional<platform::net::HTTPURLResponse>&) -> std::optional<std::string> {
        return staging.string();
      },
      [folder, staging, modelNumber, version, success = std::move(success), failure = std::move(failure)](
          const std::optional<platform::net::HTTPURLResponse>& response, const std::optional<std::string>&,
          const std::optional<platform::Error>& failed) {
        std::error_code ec;
        if (failed) {
          std::filesystem::remove(staging, ec);
          if (failure) failure(KSApiClientEnrichedError(*failed, response));
          return;
        }
        const auto header = response ? response->headerValue("Content-Disposition") : std::nullopt;
        platform::Log::info(kLog, "filenameHeader {}", header.value_or("(null)"));
        const std::filesystem::path destination = folder / hexFileName(modelNumber, header, version);
        auto fileError = [&](const std::error_code& code) {
          return platform::Error("NSCocoaErrorDomain", code.value(), code.message(),
                                 {{"NSFilePath", platform::Value(destination.string())}});
        };
        if (!std::filesystem::exists(staging, ec)) {
          if (failure) failure(fileError(std::make_error_code(std::errc::no_such_file_or_directory)));
          return;
        }
        if (std::filesystem::exists(destination, ec) && !std::filesystem::remove(destination, ec) && ec) {
          std::filesystem::remove(staging, ec);
          if (failure) failure(fileError(ec));
          return;
        }
        std::filesystem::rename(staging, destination, ec);
        if (ec) {
          std::error_code ignored;
          std::filesystem::remove(staging, ignored);
          if (failure) failure(fileError(ec));
          return;
        }
        if (success) success(destination.string());
      });
  task->resume();
}

}  // namespace velmora::kestrine::beacon_updates
