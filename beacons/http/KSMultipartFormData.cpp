#include "beacons/http/KSMultipartFormData.h"

#include <curl/curl.h>
#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSQueryStringPair.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/TimerSource.h"

namespace velmora::kestrine {
namespace {

platform::Error requestError(std::string text) {
  platform::Dict info;
  info.emplace(std::string(KSLocalizedFailureReasonErrorKey), text);
  return platform::Error(std::string(KSURLRequestSerializationErrorDomain), KSRequestSerializationErrorCode,
                         std::move(text), std::move(info));
}

bool require(bool holds, std::string_view what, platform::Error* error = nullptr) {
  if (platform::precondition(holds, what)) return true;
  if (error) *error = requestError(fmt::format("Invalid parameter not satisfying: {}", what));
  return false;
}

std::string makeBoundary() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::uint32_t> draw;
  return fmt::format("Boundary+{:08X}{:08X}", draw(generator), draw(generator));
}

// The local path of a "file:" URL (percent-escapes decoded), or nullopt for any other URL.
std::optional<std::filesystem::path> filePath(std::string_view url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
  if (!handle) return std::nullopt;
  const std::string text(url);
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  char* scheme = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return std::nullopt;
  const bool isFile = platform::equalsIgnoringAsciiCase(scheme, "file");
  curl_free(scheme);
  if (!isFile) return std::nullopt;
  char* path = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_PATH, &path, CURLU_URLDECODE) != CURLUE_OK) return std::nullopt;
  std::filesystem::path out(path);
  curl_free(path);
  return out;
}

std::string formDataHeader(std::string_view name) { return fmt::format("form-data; name=\"{}\"", name); }

std::string fileHeader(std::string_view name, std::string_view fileName) {
  return fmt::format("form-data; name=\"{}\"; filename=\"{}\"", name, fileName);
}

platform::Error posixError(const std::error_code& code, const std::filesystem::path& path) {
  return platform::Error(std::string(KSStreamErrorDomain), code.value(), code.message() + ": " + path.string());
}

}  // namespace

std::string KSContentTypeForPathExtension(std::string_view extension) {
  static const std::pair<std::string_view, std::string_view> kTable[] = {
      {"png", "image/png"},        {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},        {"tif", "image/tiff"},       {"tiff", "image/tiff"},
      {"bmp", "image/bmp"},        {"ico", "image/x-icon"},     {"heic", "image/heic"},
      {"txt", "text/plain"},       {"html", "text/html"},       {"htm", "text/html"},
      {"csv", "text/csv"},         {"xml", "application/xml"},  {"json", "application/json"},
      {"pdf", "application/pdf"},  {"zip", "application/zip"},  {"gz", "application/gzip"},
      {"plist", "application/x-plist"}, {"mp3", "audio/mpeg"}, {"m4a", "audio/mp4"},
      {"mp4", "video/mp4"},        {"mov", "video/quicktime"},
  };
  for (const auto& [ext, type] : kTable) {
    if (platform::equalsIgnoringAsciiCase(ext, extension)) return std::string(type);
  }
  return "application/octet-stream";
}

KSStreamingMultipartFormData::KSStreamingMultipartFormData(KSURLRequest request, std::uint64_t stringEncoding)
    : request_(std::move(request)),
      stringEncoding_(stringEncoding),
      boundary_(makeBoundary()),
      bodyStream_(std::make_shared<KSMultipartBodyStream>(stringEncoding)) {}

void KSStreamingMultipartFormData::append(KSHTTPBodyPart::Headers headers, KSHTTPBodyPart::Body body,
                                            std::uint64_t length) {
  bodyStream_->appendHTTPBodyPart(
      std::make_unique<KSHTTPBodyPart>(std::move(headers), boundary_, std::move(body), length));
}

bool KSStreamingMultipartFormData::appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                                                           platform::Error* error) {
  if (!require(!fileURL.empty(), "fileURL", error) || !require(!name.empty(), "name", error)) return false;
  const auto path = filePath(fileURL);
  if (!path) {
    if (error) *error = requestError("Expected URL to be a file URL");
    return false;
  }
  const std::string fileName = path->filename().string();
  const std::string extension = path->has_extension() ? path->extension().string().substr(1) : std::string();
  return appendPartWithFileURL(fileURL, name, fileName, KSContentTypeForPathExtension(extension), error);
}

bool KSStreamingMultipartFormData::appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                                                           std::string_view fileName, std::string_view mimeType,
                                                           platform::Error* error) {
  if (!require(!fileURL.empty(), "fileURL", error) || !require(!name.empty(), "name", error) ||
      !require(!fileName.empty(), "fileName", error) || !require(!mimeType.empty(), "mimeType", error)) {
    return false;
  }
  const auto path = filePath(fileURL);
  if (!path) {
    if (error) *error = requestError("Expected URL to be a file URL");
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::exists(*path, ec)) {
    if (error) *error = requestError("File URL not reachable.");
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(*path, ec);
  if (ec) {
    if (error) *error = posixError(ec, *path);
    return false;
  }
  append({{"Content-Disposition", fileHeader(name, fileName)}, {"Content-Type", std::string(mimeType)}}, *path, size);
  return true;
}

void KSStreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<KSInputStream> inputStream,
                                                               std::string_view name, std::string_view fileName,
                                                               std::int64_t length, std::string_view mimeType) {
  if (!require(inputStream != nullptr, "inputStream") || !require(!name.empty(), "name") ||
      !require(!fileName.empty(), "fileName") || !require(!mimeType.empty(), "mimeType") ||
      !require(length >= 0, "length >= 0")) {
    return;
  }
  append({{"Content-Disposition", fileHeader(name, fileName)}, {"Content-Type", std::string(mimeType)}},
         std::move(inputStream), static_cast<std::uint64_t>(length));
}

void KSStreamingMultipartFormData::appendPartWithFileData(std::string data, std::string_view name,
                                                            std::string_view fileName, std::string_view mimeType) {
  if (!require(!name.empty(), "name") || !require(!fileName.empty(), "fileName") ||
      !require(!mimeType.empty(), "mimeType")) {
    return;
  }
  const std::uint64_t length = data.size();
  append({{"Content-Disposition", fileHeader(name, fileName)}, {"Content-Type", std::string(mimeType)}},
         std::move(data), length);
}

void KSStreamingMultipartFormData::appendPartWithFormData(std::string data, std::string_view name) {
  if (!require(!name.empty(), "name")) return;
  const std::uint64_t length = data.size();
  append({{"Content-Disposition", formDataHeader(name)}}, std::move(data), length);
}

void KSStreamingMultipartFormData::appendPartWithHeaders(KSHTTPBodyPart::Headers headers, std::string body) {
  const std::uint64_t length = body.size();
  append(std::move(headers), std::move(body), length);
}

void KSStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) {
  bodyStream_->throttleBandwidthWithPacketSize(numberOfBytes, delay);
}

KSURLRequest KSStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
  if (bodyStream_->empty()) return request_;
  bodyStream_->setInitialAndFinalBoundaries();
  request_.HTTPBodyStream = bodyStream_;
  request_.urlRequest.body.clear();
  request_.setValue(fmt::format("multipart/form-data; boundary={}", boundary_), "Content-Type");
  request_.setValue(fmt::format("{}", bodyStream_->contentLength()), "Content-Length");
  return request_;
}

// --- the serializer's multipart operations ---------------------------------------------------

std::optional<KSURLRequest> KSHTTPRequestSerializer::multipartFormRequestWithMethod(
    std::string_view method, std::string_view URLString, const platform::Value& parameters,
    const std::function<void(KSMultipartFormData&)>& block, platform::Error* error) const {
  const bool bodyMethod = !platform::equalsIgnoringAsciiCase(method, "GET") && !platform::equalsIgnoringAsciiCase(method, "HEAD");
  if (!require(!method.empty(), "method", error)) return std::nullopt;
  if (!require(bodyMethod, "method is neither GET nor HEAD", error)) {
    return std::nullopt;
  }
  auto base = requestWithMethod(method, URLString, platform::Value(), error);
  if (!base) return std::nullopt;

  KSStreamingMultipartFormData formData(std::move(*base), KSStringEncodingUTF8);
  if (!parameters.isAbsent()) {
    for (const KSQueryStringPair& pair : KSQueryStringPairsFromDictionary(parameters)) {
      std::string data;
      if (const platform::Bytes* bytes = pair.value.bytes()) {
        data.assign(bytes->begin(), bytes->end());
      } else if (!pair.value.isNull() && !pair.value.isAbsent()) {
        data = KSQueryStringDescription(pair.value);
      }
      formData.appendPartWithFormData(std::move(data), KSQueryStringDescription(pair.field));
    }
  }
  if (block) block(formData);
  return formData.requestByFinalizingMultipartFormData();
}

namespace {

// Copies a body stream into a file in chunks on one queue. A paused stream is resumed by a
// one-shot timer, so no thread waits out a throttle delay.
class StreamFileCopy : public std::enable_shared_from_this<StreamFileCopy> {
 public:
  StreamFileCopy(std::shared_ptr<KSMultipartBodyStream> stream, std::filesystem::path path,
                 std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                 std::function<void(std::optional<platform::Error>)> completion)
      : stream_(std::move(stream)),
        path_(std::move(path)),
        scheduler_(std::move(scheduler)),
        queue_(scheduler_->globalQueue(platform::dispatch::QoS::Background)),
        completion_(std::move(completion)) {}

  ~StreamFileCopy() {
    if (file_) std::fclose(file_);
  }

  void start() {
    auto self = shared_from_this();
    queue_->async([self] {
      self->stream_->setClock(self->scheduler_->clock());
      self->stream_->open();
      self->file_ = std::fopen(self->path_.c_str(), "wb");
      if (!self->file_) {
        self->finish(posixError(std::error_code(errno, std::generic_category()), self->path_));
        return;
      }
      self->pump();
    });
  }

 private:
  void pump() {
    std::uint8_t buffer[1024];
    for (;;) {
      const std::int64_t n = stream_->read(buffer, sizeof buffer);
      if (n == KSInputStream::kPaused) {
        const double wait = std::chrono::duration<double>(stream_->resumeDelay()).count();
        timer_ = scheduler_->makeTimer(queue_);
        auto self = shared_from_this();
        // Hop off the timer's handler before reading on: the next pause replaces this timer.
        timer_->setEventHandler([self] { self->queue_->async([self] { self->pump(); }); });
        timer_->schedule(wait, 0);
        timer_->resume();
        return;
      }
      if (n < 0) {
        finish(stream_->streamError().value_or(platform::Error(std::string(KSStreamErrorDomain), EIO,
                                                               "The body stream could not be read.")));
        return;
      }
      if (n == 0) {
        finish(std::nullopt);
        return;
      }
      // Every chunk reaches the file whole: fwrite is repeated until all of it is written.
      std::size_t written = 0;
      while (written < static_cast<std::size_t>(n)) {
        const std::size_t w = std::fwrite(buffer + written, 1, static_cast<std::size_t>(n) - written, file_);
        if (w == 0) {
          finish(posixError(std::error_code(errno ? errno : EIO, std::generic_category()), path_));
          return;
        }
        written += w;
      }
    }
  }

  void finish(std::optional<platform::Error> error) {
    stream_->close();
    if (file_ && std::fclose(file_) != 0 && !error) {
      error = posixError(std::error_code(errno, std::generic_category()), path_);
    }
    file_ = nullptr;
    auto completion = std::move(completion_);
    timer_.reset();
    if (completion) {
      scheduler_->mainQueue()->async([completion, error] { completion(error); });
    }
  }

  std::shared_ptr<KSMultipartBodyStream> stream_;
  std::filesystem::path path_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::function<void(std::optional<platform::Error>)> completion_;
  std::FILE* file_ = nullptr;
  std::shared_ptr<platform::dispatch::TimerSource> timer_;
};

}  // namespace

std::optional<KSURLRequest> KSHTTPRequestSerializer::requestWithMultipartFormRequest(
    const KSURLRequest& request, std::string_view fileURL,
    std::function<void(std::optional<platform::Error>)> completionHandler, platform::Error* error,
    std::shared_ptr<platform::dispatch::Scheduler> scheduler) const {
  if (!require(request.HTTPBodyStream != nullptr, "request.HTTPBodyStream", error)) return std::nullopt;
  const auto path = filePath(fileURL);
  if (!require(path.has_value(), "[fileURL isFileURL]", error)) return std::nullopt;
  if (!scheduler) scheduler = platform::dispatch::Scheduler::shared();

  std::make_shared<StreamFileCopy>(request.HTTPBodyStream, *path, std::move(scheduler), std::move(completionHandler))
      ->start();
  KSURLRequest out = request;
  out.HTTPBodyStream.reset();
  return out;
}

}  // namespace velmora::kestrine
