#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Value.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::testing {

// A loopback stand-in for the beacon cloud API, served under a base URL with a path
// ("http://127.0.0.1:PORT/api/"), as the SDK's client is configured in production.
//
// It knows the routes the SDK calls: the account calls (two of them absolute, "/apps/<token>"
// and "/account/verifycredentials", outside "/api/"), the sync lists, the posts and the record
// calls. Requests are matched on their decoded path, one segment at a time, so an identifier
// with an escaped "/" or ":" still counts as one segment. Tests put data in place with
// putRecord (a GET of one object) and putList (a paged or plain list), and script faults per
// route. A route without data answers 404; a path of no known route answers 404 too.
//
// Paged lists answer the page asked for by the "page" and "perPage" query values (1 and 100
// when absent) with {"pagination": {"pageCount", "objectCount", "perPage"}, <key>: [items]};
// an empty list is one page with "pageCount" 0 and []. setServerPerPage makes the server
// choose its own page size, as a real one may.
//
// Writes (POST, PUT, DELETE) answer 200 with a reply set by setWriteReply, else the request
// body echoed (DELETE: {}).
//
// The beacon login's calls: GET "beacons/{id}/milk" answers {"milk": base64} with the cloud's
// answer (SimLoginResponder::cloudAnswer) over the base64 "water" value under the secret
// shared with the simulated beacon (setLoginSecret; 400 for a "water" that is not base64,
// 404 without a secret); PUT "beacons/{id}/versions/confirm?status=" records the status bytes
// (statusReports) and answers as a write. setWriteReply on the milk route replaces its answer.
//
// Every request is logged, decoded. The fake never rejects a request on its headers; tests
// read them from the log.
class BeaconCloudFake {
 public:
  struct Fault {
    // A status other than 0 replaces the route's answer (with an {"error": ...} body).
    int status = 0;
    std::optional<std::string> retryAfter;
    std::chrono::milliseconds delay{0};
    enum class Kind {
      None,
      Stall,             // never answer
      Close,             // close without a byte
      Reset,             // abort the connection with RST
      Truncate,          // promise more body than is sent, then close
      WrongContentType,  // the right body sent as "text/html"
      Garbage,           // a 200 whose body is not JSON
      NoPagination,      // a list page without its "pagination" object
      BadItem,           // the first item of the page replaced by a malformed one
      Hold,              // answer only once releaseHeld() is called (or the fake goes)
    } kind = Kind::None;
    // How many matching requests the fault hits before the route answers normally again
    // (negative: all of them).
    int times = -1;
    // Only requests for this page of a list (any page when unset).
    std::optional<std::uint64_t> page;
  };

  struct LoggedRequest {
    std::string method;
    std::string path;  // decoded, from the root: "/api/beacons/AB:CD"
    std::vector<std::string> segments;  // decoded, below "/api/" for API routes
    std::string rawTarget;
    std::map<std::string, std::string> query;  // decoded names and values
    std::string body;
    platform::Value json;  // the body parsed, Absent when empty or not JSON
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> header(std::string_view name) const;
  };

  BeaconCloudFake();
  ~BeaconCloudFake();
  BeaconCloudFake(const BeaconCloudFake&) = delete;
  BeaconCloudFake& operator=(const BeaconCloudFake&) = delete;

  // "http://127.0.0.1:PORT/api/"
  std::string baseUrl() const;
  // "http://127.0.0.1:PORT"
  std::string rootUrl() const;
  LoopbackHttpServer& server() { return *server_; }

  // `path` as the client writes it: relative to "/api/" ("beacons/X"), or from the root with
  // a leading "/" ("/apps/TOKEN"), escaped as on the wire: each segment is decoded, so
  // "beacons/a%2Fb" names the one identifier "a/b". Throws std::invalid_argument
  // for a path of no known route, so a test cannot set up data the SDK never asks for.
  void putRecord(std::string_view path, std::string key, platform::Value object);
  // A list route's items under `key`. Paged routes page them; the lookup lists answer the
  // whole list under the key.
  void putList(std::string_view path, std::string key, platform::Array items);
  void removeData(std::string_view path);
  void setServerPerPage(std::optional<std::uint64_t> perPage);
  void setWriteReply(std::string_view method, std::string_view path, int status, platform::Value body);

  // A fault for one method and path (a known route's path, written as for putRecord).
  void setFault(std::string_view method, std::string_view path, Fault fault);
  void clearFaults();

  // The firmware downloads ("beacons/{id}/firmware/{version}/ota" and ".../hex", any query)
  // answer 200 with these bytes and headers ("Firmware-Header-Length", "Content-Disposition")
  // as "application/octet-stream"; without a body put in place they answer 404. A fault's
  // status replaces the answer as on every route.
  void putDownload(std::string_view path, std::string body,
                   std::vector<std::pair<std::string, std::string>> headers = {});

  void setLoginSecret(platform::Bytes secret);
  // The base64 "status" of each confirmation PUT, line breaks dropped and decoded (empty
  // when it does not decode), in arrival order.
  std::vector<platform::Bytes> statusReports() const;
  // The settings call: GET "beacons/{id}/versions/latest/settings?status=" answers data put
  // there with putRecord when there is some (a scripted reply); otherwise, with a settings
  // secret, {"settings": base64 of IV ‖ AES-128-CBC(payload) ‖ AES-CMAC(IV ‖ ciphertext)}
  // under the secret, the IV the MD5 of the status text; else 404. The payload is
  // setSettingsPayload's, zero-padded to whole blocks. A confirmation PUT of a 16-byte status
  // for a beacon that was given a blob must carry the beacon's result for its MAC
  // (SimEncryptedSettingsSink::resultFor), else it is answered 400.
  void setSettingsSecret(platform::Bytes secret);
  void setSettingsPayload(platform::Bytes payload);
  // The MAC of the last blob given to each beacon id.
  std::optional<platform::Bytes> issuedSettingsMac(const std::string& beaconID) const;
  // Lets every request held by a Hold fault so far answer.
  void releaseHeld();

  std::vector<LoggedRequest> log() const;
  // Requests logged for this method and path.
  std::size_t hits(std::string_view method, std::string_view path) const;
  void clearLog();

  // Known route shapes (segments, "{}" for any one segment) for tests that walk them.
  enum class RouteKind { Record, PagedList, PlainList, Write, Milk, Settings, Download };
  struct Route {
    std::string method;
    bool absolute;  // from the root rather than below "/api/"
    std::vector<std::string> pattern;
    RouteKind kind;
  };
  static const std::vector<Route>& routes();

 private:
  struct Data {
    std::string key;
    platform::Value object;  // Record
    platform::Array items;   // lists
  };
  struct DownloadBody {
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
  };
  struct WriteReply {
    int status;
    platform::Value body;
  };

  LoopbackHttpServer::Reply handle(const LoopbackHttpServer::RecordedRequest& request);
  // The canonical text of a path: "/" + decoded segments joined, with "api/" for API routes.
  static std::string keyFor(bool absolute, const std::vector<std::string>& segments);
  static const Route* match(std::string_view method, bool absolute, const std::vector<std::string>& segments);
  static std::pair<bool, std::vector<std::string>> split(std::string_view clientPath);

  std::unique_ptr<LoopbackHttpServer> server_;
  mutable std::mutex mutex_;
  std::map<std::string, Data> data_;
  std::map<std::string, WriteReply> writeReplies_;
  std::map<std::string, DownloadBody> downloads_;
  std::map<std::string, Fault> faults_;
  std::optional<std::uint64_t> serverPerPage_;
  std::vector<LoggedRequest> log_;
  platform::Bytes loginSecret_;
  std::vector<platform::Bytes> statusReports_;
  platform::Bytes settingsSecret_;
  platform::Bytes settingsPayload_ = platform::Bytes(16, 0x00);
  std::map<std::string, platform::Bytes> issuedMacs_;
  std::condition_variable released_;
  std::uint64_t releases_ = 0;
  bool closing_ = false;
};

}  // namespace velmora::testing
