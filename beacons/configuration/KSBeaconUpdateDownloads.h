#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPURLResponse.h"

namespace velmora::platform::app {
class Application;
}  // namespace velmora::platform::app

namespace velmora::kestrine {

class KSApiClient;
class KSBeacon;

namespace beacon_updates {

inline constexpr std::string_view KSBeaconUpdatesErrorDomain = "com.kestrine.KSBeacon+Updates";

// An error of the updates' domain, code -1, with the text as its description.
platform::Error errorWithDescription(std::string description);

// The status text the firmware downloads put into their query: base64 in 64-character lines
// ("" without status data), percent-escaped so that "+", "=" and the line breaks survive.
std::string escapedStatusQueryValue(const std::optional<platform::Bytes>& status);

// The name the HEX file is saved under in the documents folder: the beacon's model number,
// "_", and the name the cloud gives in "Content-Disposition" (the value after "=" of its
// second ";" part), without surrounding quotes and blanks and without any folder part. A
// missing, empty, "." or ".." name falls back to "<version>.hex". Never a path.
std::string hexFileName(const std::optional<std::string>& modelNumber, const std::optional<std::string>& contentDisposition,
                        const std::string& version);

using DataSuccess = std::function<void(const platform::Bytes& data)>;
using DataResponseSuccess =
    std::function<void(const platform::Bytes& data, const platform::net::HTTPURLResponse& response)>;
using FileSuccess = std::function<void(const std::string& filePath)>;
using Failure = std::function<void(const platform::Error& error)>;

// The firmware downloads from the beacon cloud, each on a session of its own made from the
// client's configuration with the client's headers (authorisation, installation id, SDK and
// API version). A reply outside 200-299 fails with the HTTP layer's -1011 error carrying the
// status; its body is never handed on. Success and failure blocks run on the client's
// completion queue. Without a client, the shared one; a beacon without an id fails at once.

// GET "beacons/{id}/firmware/{version}/ota?status=<status>": the OTA image.
void downloadOTAVersion(const KSBeacon& beacon, const std::string& version, const std::optional<platform::Bytes>& status,
                        DataSuccess success, Failure failure, std::shared_ptr<KSApiClient> client = nullptr);
// GET "beacons/{id}/firmware/{version}/hex?status=<status>": the HEX image and the response
// (its "Firmware-Header-Length" tells the header's size).
void downloadHEXVersion(const KSBeacon& beacon, const std::string& version, const std::optional<platform::Bytes>& status,
                        DataResponseSuccess success, Failure failure, std::shared_ptr<KSApiClient> client = nullptr);
// GET "beacons/{id}/firmware/{version}/hex" to a file in the app's documents folder, named
// by hexFileName; an existing file of that name is replaced. Without an app, the registry's.
void downloadHexFileVersion(const KSBeacon& beacon, const std::string& version, FileSuccess success, Failure failure,
                            std::shared_ptr<KSApiClient> client = nullptr,
                            std::shared_ptr<platform::app::Application> app = nullptr);

}  // namespace beacon_updates
}  // namespace velmora::kestrine
