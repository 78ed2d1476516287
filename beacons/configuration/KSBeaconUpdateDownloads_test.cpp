#include "beacons/configuration/KSBeaconUpdateDownloads.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "beacons/foundation/KSConstants.h"
#include "beacons/model/KSBeacon.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimApp.h"
#include "testing/ApiTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using velmora::testing::ApiTestWorld;
using velmora::testing::TempDir;

struct DownloadWorld {
  ApiTestWorld api;
  TempDir documents;
  platform::NotificationCenter center;
  std::shared_ptr<platform::sim::SimApp> app = platform::sim::SimApp::create(api.scheduler, center, documents.path());
  std::shared_ptr<KSBeacon> beacon = std::make_shared<KSBeacon>();

  DownloadWorld() {
    api.client->setAuthorizationHeaderWithAppToken("tok");
    api.client->setValueForHTTPHeaderField("install-1", std::string(KSInstallationIDHeader));
    api.client->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));
    beacon->setBeaconID("b-1");
    beacon->setModelNumber("M");
  }

  void expectPlatformHeaders(const velmora::testing::BeaconCloudFake::LoggedRequest& r) {
    EXPECT_EQ(r.header("X-Api-Version"), "3");
    EXPECT_EQ(r.header("Authorization"), "Kestrine dG9r");
    EXPECT_EQ(r.header("X-KS-InstallationID"), "install-1");
    EXPECT_EQ(r.header("X-KS-SDKVersion"), "2.1.0");
  }
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(FirmwareDownloads, OTAImageComesWithTheEscapedStatusAndThePlatformHeaders) {
  DownloadWorld w;
  w.api.cloud.putDownload("beacons/b-1/firmware/2.0.0/ota", std::string("\x00\x01\xFFimage", 8));
  struct Row {
    const char* name;
    std::optional<Bytes> status;
    std::string target;
  };
  Bytes status{0xFB, 0xFF, 0xBF};
  status.resize(20, 0x00);
  Bytes longStatus(49, 0x00);
  const Row rows[] = {
      {"short status", status, "/api/beacons/b-1/firmware/2.0.0/ota?status=%2B/%2B/AAAAAAAAAAAAAAAAAAAAAAA%3D"},
      {"no status", std::nullopt, "/api/beacons/b-1/firmware/2.0.0/ota?status="},
      {"status over two lines", longStatus,
       "/api/beacons/b-1/firmware/2.0.0/ota?status=" + std::string(64, 'A') + "%0D%0A" + std::string(2, 'A') + "%3D%3D"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    w.api.cloud.clearLog();
    std::optional<Bytes> got;
    bool onQueue = false;
    beacon_updates::downloadOTAVersion(
        *w.beacon, "2.0.0", row.status,
        [&](const Bytes& data) {
          onQueue = w.api.client->completionQueue()->isCurrent();
          got = data;
        },
        [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription; }, w.api.client);
    ASSERT_TRUE(w.api.drainUntil([&] { return got.has_value(); }));
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(*got, (Bytes{0x00, 0x01, 0xFF, 'i', 'm', 'a', 'g', 'e'}));
    auto log = w.api.cloud.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].rawTarget, row.target);
    w.expectPlatformHeaders(log[0]);
  }
}

TEST(FirmwareDownloads, HEXImageHandsOnTheResponseHeaders) {
  DownloadWorld w;
  w.api.cloud.putDownload("beacons/b-1/firmware/2.0.0/hex", "HEADERbody", {{"Firmware-Header-Length", "6"}});
  std::optional<std::string> headerLength;
  Bytes body;
  beacon_updates::downloadHEXVersion(
      *w.beacon, "2.0.0", Bytes{1, 2, 3},
      [&](const Bytes& data, const platform::net::HTTPURLResponse& response) {
        body = data;
        headerLength = response.headerValue("Firmware-Header-Length").value_or("missing");
      },
      [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription; }, w.api.client);
  ASSERT_TRUE(w.api.drainUntil([&] { return headerLength.has_value(); }));
  EXPECT_EQ(*headerLength, "6");
  EXPECT_EQ(std::string(body.begin(), body.end()), "HEADERbody");
  EXPECT_EQ(w.api.cloud.log().at(0).rawTarget, "/api/beacons/b-1/firmware/2.0.0/hex?status=AQID");
}

// An error page must never reach the beacon as firmware: every download fails on a status
// outside 200-299 and hands no body on.
TEST(FirmwareDownloads, AStatusOutside2xxFailsWithBadServerResponse) {
  DownloadWorld w;
  w.api.cloud.putDownload("beacons/b-1/firmware/2.0.0/ota", "image");
  w.api.cloud.putDownload("beacons/b-1/firmware/2.0.0/hex", "image", {{"Content-Disposition", "attachment; filename=a.hex"}});
  w.api.cloud.setFault("GET", "beacons/b-1/firmware/2.0.0/ota", {.status = 500});
  w.api.cloud.setFault("GET", "beacons/b-1/firmware/2.0.0/hex", {.status = 503});
  // The three run on sessions of their own: they may end in any order.
  std::map<std::string, platform::Error> errors;
  int successes = 0;
  auto fail = [&](std::string name) { return [&, name](const platform::Error& e) { errors.emplace(name, e); }; };
  beacon_updates::downloadOTAVersion(*w.beacon, "2.0.0", std::nullopt, [&](const Bytes&) { ++successes; }, fail("ota"),
                                     w.api.client);
  beacon_updates::downloadHEXVersion(
      *w.beacon, "2.0.0", std::nullopt, [&](const Bytes&, const platform::net::HTTPURLResponse&) { ++successes; },
      fail("hex"), w.api.client);
  beacon_updates::downloadHexFileVersion(*w.beacon, "2.0.0", [&](const std::string&) { ++successes; }, fail("file"),
                                         w.api.client, w.app);
  ASSERT_TRUE(w.api.drainUntil([&] { return errors.size() + successes == 3; }));
  EXPECT_EQ(successes, 0);
  const std::map<std::string, std::int64_t> statuses = {{"ota", 500}, {"hex", 503}, {"file", 503}};
  ASSERT_EQ(errors.size(), 3u);
  for (const auto& [name, status] : statuses) {
    const auto& error = errors.at(name);
    EXPECT_EQ(error.code, -1011) << name;
    EXPECT_NE(error.localizedDescription.find(fmt::format("({})", status)), std::string::npos)
        << error.localizedDescription;
    EXPECT_EQ(error.userInfo.at(std::string(KSNetworkingTaskResponseStatusCodeKey)).toInt64(), status) << name;
  }
  // Nothing of the error page was left in the documents folder.
  EXPECT_TRUE(std::filesystem::is_empty(w.documents.path()));
}

TEST(FirmwareDownloads, HexFileNameFromContentDisposition) {
  struct Row {
    std::optional<std::string> header;
    std::string expected;
  };
  const Row rows[] = {
      {"attachment; filename=abc.hex", "M_abc.hex"},
      {std::nullopt, "M_1.2.0.hex"},
      {"attachment", "M_1.2.0.hex"},
      {"attachment; filename", "M_1.2.0.hex"},
      {"attachment; filename=", "M_1.2.0.hex"},
      {"attachment; filename=\"a b.hex\"", "M_a b.hex"},
      {"attachment; filename= \"c.hex\" ", "M_c.hex"},
      {"attachment; filename=../../x.hex", "M_x.hex"},
      {"attachment; filename=..\\..\\y.hex", "M_y.hex"},
      {"attachment; filename=/etc/", "M_1.2.0.hex"},
      {"attachment; filename=..", "M_1.2.0.hex"},
      {"attachment; filename=.", "M_1.2.0.hex"},
      {"attachment; filename=a.hex; size=3", "M_a.hex"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(beacon_updates::hexFileName("M", row.header, "1.2.0"), row.expected) << row.header.value_or("(none)");
  }
  EXPECT_EQ(beacon_updates::hexFileName("../M", "attachment; filename=a.hex", "1"), ".._M_a.hex");
}

TEST(FirmwareDownloads, HexFileLandsInTheDocumentsFolderReplacingAnOlderOne) {
  DownloadWorld w;
  const auto target = w.documents.path() / "M_x.hex";
  std::ofstream(target) << "older";
  w.api.cloud.putDownload("beacons/b-1/firmware/1.2.0/hex", ":10000000\n",
                          {{"Content-Disposition", "attachment; filename=../../x.hex"}});
  std::optional<std::string> path;
  beacon_updates::downloadHexFileVersion(
      *w.beacon, "1.2.0", [&](const std::string& p) { path = p; },
      [](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription; }, w.api.client, w.app);
  ASSERT_TRUE(w.api.drainUntil([&] { return path.has_value(); }));
  EXPECT_EQ(std::filesystem::path(*path), target);
  EXPECT_EQ(readFile(target), ":10000000\n");
  // Only the file itself is left: no staging copy, nothing outside.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(w.documents.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1u);
  auto log = w.api.cloud.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rawTarget, "/api/beacons/b-1/firmware/1.2.0/hex");
  w.expectPlatformHeaders(log[0]);
}

TEST(FirmwareDownloads, ABeaconWithoutIdentifierFailsWithoutARequest) {
  DownloadWorld w;
  w.beacon->setBeaconID(std::nullopt);
  std::optional<platform::Error> error;
  beacon_updates::downloadOTAVersion(*w.beacon, "2.0.0", std::nullopt, [](const Bytes&) { ADD_FAILURE(); },
                                     [&](const platform::Error& e) { error = e; }, w.api.client);
  ASSERT_TRUE(w.api.drainUntil([&] { return error.has_value(); }));
  EXPECT_EQ(error->domain, "com.kestrine.KSBeacon+Updates");
  EXPECT_EQ(error->code, -1);
  EXPECT_TRUE(w.api.cloud.log().empty());
}

}  // namespace
}  // namespace velmora::kestrine
