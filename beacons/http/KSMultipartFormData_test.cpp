#include "beacons/http/KSMultipartFormData.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "beacons/http/KSHTTPRequestSerializer.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

KSClientEnvironment environment() {
  KSClientEnvironment env;
  env.preferredLanguages = {"en"};
  env.executableName = "ParkApp";
  env.shortVersion = "1";
  return env;
}

std::string boundaryOf(const KSURLRequest& request) {
  const std::string type = request.valueForHTTPHeaderField("Content-Type").value_or("");
  const std::string prefix = "multipart/form-data; boundary=";
  EXPECT_TRUE(type.starts_with(prefix)) << type;
  return type.substr(prefix.size());
}

// Reads a stream to its end in reads of at most `chunk` bytes; throttle pauses are waited
// out on the clock.
std::string drain(KSInputStream& stream, std::size_t chunk = 7, platform::ManualClock* clock = nullptr) {
  stream.open();
  std::string out;
  std::vector<std::uint8_t> buffer(chunk);
  for (int guard = 0; guard < 1'000'000; ++guard) {
    const std::int64_t n = stream.read(buffer.data(), buffer.size());
    if (n == KSInputStream::kPaused) {
      if (!clock) break;
      clock->advance(stream.resumeDelay());
      continue;
    }
    if (n <= 0) break;
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
  }
  return out;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(KSMultipartFormData, OneFieldFixtureAndContentLength) {
  KSHTTPRequestSerializer s(environment());
  auto request = s.multipartFormRequestWithMethod("POST", "http://h/upload", *platform::json::parse(R"({"a": 1})"), nullptr);
  ASSERT_TRUE(request);
  ASSERT_TRUE(request->HTTPBodyStream);
  const std::string b = boundaryOf(*request);
  EXPECT_EQ(b.size(), std::string("Boundary+").size() + 16);
  const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" + b + "--\r\n";
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
  EXPECT_EQ(drain(*request->HTTPBodyStream), expected);
  EXPECT_EQ(request->valueForHTTPHeaderField("Accept-Language"), "en;q=1");
}

TEST(KSMultipartFormData, EveryKindOfPartInOrderAcrossSmallReads) {
  velmora::testing::TempDir dir;
  writeFile(dir.path() / "photo.png", "PNGDATA");
  writeFile(dir.path() / "notes.xyz", "x");
  const std::string photoURL = "file://" + (dir.path() / "photo.png").string();
  const std::string unknownURL = "file://" + (dir.path() / "notes.xyz").string();

  KSJSONRequestSerializer s(environment());
  platform::Dict params;
  params.emplace("blob", platform::Bytes{0x00, 0xff});
  params.emplace("empty", platform::null);
  params.emplace("list", Value::makeArray({Value("x"), Value(2)}));
  // A stream body is read once, so each read pattern gets a request of its own.
  bool appended = false;
  const auto build = [&] {
    return s.multipartFormRequestWithMethod("PUT", "http://h/upload", Value(params), [&](KSMultipartFormData& f) {
      appended = f.appendPartWithFileURL(photoURL, "photo");
      EXPECT_TRUE(f.appendPartWithFileURL(unknownURL, "notes"));
      f.appendPartWithInputStream(KSInputStream::withData("streamed"), "s", "s.bin", 8, "application/x-test");
      f.appendPartWithFileData("DATA", "d", "d.txt", "text/plain");
      f.appendPartWithHeaders({{"X-Custom", "1"}}, "raw");
    });
  };
  auto request = build();
  ASSERT_TRUE(request);
  ASSERT_TRUE(appended);
  const std::string b = boundaryOf(*request);
  const std::string open = "--" + b + "\r\n";
  const std::string next = "\r\n--" + b + "\r\n";
  const std::string expected =
      open + "Content-Disposition: form-data; name=\"blob\"\r\n\r\n" + std::string("\0\xff", 2) +
      next + "Content-Disposition: form-data; name=\"empty\"\r\n\r\n" +
      next + "Content-Disposition: form-data; name=\"list[]\"\r\n\r\nx" +
      next + "Content-Disposition: form-data; name=\"list[]\"\r\n\r\n2" +
      next + "Content-Disposition: form-data; name=\"photo\"; filename=\"photo.png\"\r\nContent-Type: image/png\r\n\r\nPNGDATA" +
      next + "Content-Disposition: form-data; name=\"notes\"; filename=\"notes.xyz\"\r\nContent-Type: application/octet-stream\r\n\r\nx" +
      next + "Content-Disposition: form-data; name=\"s\"; filename=\"s.bin\"\r\nContent-Type: application/x-test\r\n\r\nstreamed" +
      next + "Content-Disposition: form-data; name=\"d\"; filename=\"d.txt\"\r\nContent-Type: text/plain\r\n\r\nDATA" +
      next + "X-Custom: 1\r\n\r\nraw" +
      "\r\n--" + b + "--\r\n";
  EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
  EXPECT_EQ(request->HTTPBodyStream->contentLength(), expected.size());
  EXPECT_EQ(drain(*request->HTTPBodyStream, 1), expected);
  for (std::size_t chunk : {7u, 64u, 100000u}) {
    auto again = build();
    ASSERT_TRUE(again);
    std::string body = drain(*again->HTTPBodyStream, chunk);
    // Each builder draws its own boundary: put the first one's in its place.
    const std::string other = boundaryOf(*again);
    for (std::size_t at = body.find(other); at != std::string::npos; at = body.find(other, at + b.size())) {
      body.replace(at, other.size(), b);
    }
    EXPECT_EQ(body, expected) << chunk;
  }
}

TEST(KSMultipartFormData, FileAndArgumentFailures) {
  velmora::testing::TempDir dir;
  KSStreamingMultipartFormData f(KSURLRequest{}, KSStringEncodingUTF8);
  struct Case {
    std::string url;
    std::string text;
  };
  const Case cases[] = {
      {"http://h/photo.png", "Expected URL to be a file URL"},
      {"file://" + (dir.path() / "missing.png").string(), "File URL not reachable."},
  };
  for (const Case& c : cases) {
    platform::Error error;
    EXPECT_FALSE(f.appendPartWithFileURL(c.url, "n", &error)) << c.url;
    EXPECT_EQ(error.domain, KSURLRequestSerializationErrorDomain);
    EXPECT_EQ(error.code, -1000);
    EXPECT_EQ(error.localizedDescription, c.text);
    EXPECT_EQ(error.userInfo.at(std::string(KSLocalizedFailureReasonErrorKey)), Value(c.text));
  }
  platform::Error error;
  EXPECT_FALSE(f.appendPartWithFileURL("file://" + dir.path().string(), "n", "dir", "text/plain", &error));
  EXPECT_EQ(error.domain, KSStreamErrorDomain);  // a folder has no file size

  platform::LogCapture capture;
  EXPECT_FALSE(f.appendPartWithFileURL("file:///x", "", "x", "text/plain"));
  f.appendPartWithFormData("v", "");
  f.appendPartWithInputStream(nullptr, "n", "f", 1, "text/plain");
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: name"), 2u);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: inputStream"), 1u);
  EXPECT_TRUE(f.bodyStream()->empty());

  KSHTTPRequestSerializer s(environment());
  for (const char* method : {"GET", "head", ""}) {
    platform::Error failed;
    EXPECT_FALSE(s.multipartFormRequestWithMethod(method, "http://h/p", Value(), nullptr, &failed)) << method;
    EXPECT_EQ(failed.code, -1000) << method;
  }
  // No parts: the base request, as the serializer builds it without parameters.
  auto plain = KSJSONRequestSerializer(environment()).multipartFormRequestWithMethod("POST", "http://h/p", Value(), nullptr);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->HTTPBodyStream);
  EXPECT_EQ(plain->valueForHTTPHeaderField("Content-Type"), std::nullopt);
  EXPECT_EQ(KSContentTypeForPathExtension("JPG"), "image/jpeg");
}

TEST(KSMultipartFormData, BodiesShorterThanTheirLengthFailAndLongerOnesAreCut) {
  KSStreamingMultipartFormData shortBody(KSURLRequest{}, KSStringEncodingUTF8);
  shortBody.appendPartWithInputStream(KSInputStream::withData("abc"), "s", "s.bin", 10, "application/x-test");
  KSURLRequest request = shortBody.requestByFinalizingMultipartFormData();
  auto& stream = *request.HTTPBodyStream;
  const std::string body = drain(stream);
  EXPECT_TRUE(body.ends_with("abc")) << body;
  EXPECT_EQ(stream.streamStatus(), KSInputStream::Status::Error);
  ASSERT_TRUE(stream.streamError());
  EXPECT_EQ(stream.streamError()->localizedDescription, "A part's body ended after 3 of its 10 bytes.");

  KSStreamingMultipartFormData longBody(KSURLRequest{}, KSStringEncodingUTF8);
  longBody.appendPartWithInputStream(KSInputStream::withData("abcdef"), "s", "s.bin", 2, "application/x-test");
  KSURLRequest cut = longBody.requestByFinalizingMultipartFormData();
  const std::string cutBody = drain(*cut.HTTPBodyStream);
  EXPECT_EQ(cutBody.size(), cut.HTTPBodyStream->contentLength());
  EXPECT_NE(cutBody.find("\r\n\r\nab\r\n--"), std::string::npos);

  // A file that vanishes before it is read.
  velmora::testing::TempDir dir;
  writeFile(dir.path() / "gone.txt", "12345");
  KSStreamingMultipartFormData vanishing(KSURLRequest{}, KSStringEncodingUTF8);
  ASSERT_TRUE(vanishing.appendPartWithFileURL("file://" + (dir.path() / "gone.txt").string(), "f"));
  std::filesystem::remove(dir.path() / "gone.txt");
  KSURLRequest missing = vanishing.requestByFinalizingMultipartFormData();
  drain(*missing.HTTPBodyStream);
  ASSERT_TRUE(missing.HTTPBodyStream->streamError());
  EXPECT_EQ(missing.HTTPBodyStream->streamError()->code, ENOENT);
}

TEST(KSMultipartFormData, ThrottledReadsPauseInsteadOfSleeping) {
  auto clock = std::make_shared<platform::ManualClock>();
  KSStreamingMultipartFormData f(KSURLRequest{}, KSStringEncodingUTF8);
  const std::string big(40000, 'z');
  f.appendPartWithFileData(big, "a", "a.bin", "application/octet-stream");
  f.appendPartWithFormData("tail", "b");
  f.throttleBandwidthWithPacketSize(kKSUploadStream3GSuggestedPacketSize, kKSUploadStream3GSuggestedDelay);
  KSURLRequest request = f.requestByFinalizingMultipartFormData();
  auto& stream = *request.HTTPBodyStream;
  stream.setClock(clock);
  stream.open();

  std::vector<std::uint8_t> buffer(100000);
  std::vector<std::int64_t> reads;
  std::string body;
  for (int i = 0; i < 100; ++i) {
    const std::int64_t n = stream.read(buffer.data(), buffer.size());
    if (n == KSInputStream::kPaused) {
      EXPECT_EQ(stream.resumeDelay(), std::chrono::milliseconds(200));
      // Asked again before the delay is over: still paused, nothing read.
      clock->advance(0.1);
      EXPECT_EQ(stream.read(buffer.data(), buffer.size()), KSInputStream::kPaused);
      clock->advance(0.1);
      continue;
    }
    if (n <= 0) break;
    reads.push_back(n);
    body.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
  }
  EXPECT_EQ(body.size(), stream.contentLength());
  ASSERT_GE(reads.size(), 3u);
  for (std::int64_t n : reads) EXPECT_LE(n, 16384);
  EXPECT_NE(body.find(big), std::string::npos);
  EXPECT_TRUE(body.ends_with("tail\r\n--" + f.boundary() + "--\r\n"));
}

TEST(KSMultipartFormData, WritesTheBodyToAFileOffTheCallersThread) {
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  velmora::testing::TempDir dir;
  KSHTTPRequestSerializer s(environment());
  const std::string big(5000, 'q');
  auto request = s.multipartFormRequestWithMethod("POST", "http://h/p", Value(), [&](KSMultipartFormData& f) {
    f.appendPartWithFileData(big, "a", "a.bin", "application/octet-stream");
    f.throttleBandwidthWithPacketSize(1000, 0.5);
  });
  ASSERT_TRUE(request);
  auto manual = std::make_shared<platform::ManualClock>();
  auto copy = request->HTTPBodyStream->copy();
  copy->setClock(manual);
  const std::string expected = drain(*copy, 1024, manual.get());
  ASSERT_EQ(expected.size(), request->HTTPBodyStream->contentLength());

  std::optional<std::optional<platform::Error>> result;
  const auto file = dir.path() / "body.bin";
  auto stripped = s.requestWithMultipartFormRequest(
      *request, "file://" + file.string(), [&](std::optional<platform::Error> e) { result = e; }, nullptr, scheduler);
  ASSERT_TRUE(stripped);
  EXPECT_FALSE(stripped->HTTPBodyStream);
  EXPECT_EQ(stripped->valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
  scheduler->runUntilIdle();
  EXPECT_FALSE(result) << "throttled: the copy waits on virtual time";
  scheduler->advanceBy(10);
  ASSERT_TRUE(result);
  EXPECT_FALSE(*result);
  std::ifstream in(file, std::ios::binary);
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), expected);

  platform::Error error;
  KSURLRequest noStream;
  EXPECT_FALSE(s.requestWithMultipartFormRequest(noStream, "file:///tmp/x", nullptr, &error, scheduler));
  EXPECT_EQ(error.code, -1000);
  EXPECT_FALSE(s.requestWithMultipartFormRequest(*request, "http://h/x", nullptr, &error, scheduler));

  // A folder that does not exist: the completion reports the file error.
  result.reset();
  s.requestWithMultipartFormRequest(*request, "file://" + (dir.path() / "no" / "x").string(),
                                    [&](std::optional<platform::Error> e) { result = e; }, nullptr, scheduler);
  scheduler->runUntilIdle();
  ASSERT_TRUE(result);
  ASSERT_TRUE(*result);
  EXPECT_EQ((*result)->code, ENOENT);
}

}  // namespace
}  // namespace velmora::kestrine
