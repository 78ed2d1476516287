#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/http/KSURLRequest.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSMultipartFormData;

inline constexpr std::string_view KSURLRequestSerializationErrorDomain =
    "com.kestrine.error.serialization.request";
inline constexpr std::string_view KSNetworkingOperationFailingURLRequestErrorKey =
    "com.kestrine.serialization.request.error.response";
// User-info key of the reason text of a request-building failure.
inline constexpr std::string_view KSLocalizedFailureReasonErrorKey = "localizedFailureReason";
// The URL error code request building fails with (bad URL).
inline constexpr std::int64_t KSRequestSerializationErrorCode = -1000;

// UTF-8, the one text encoding the serializers write.
inline constexpr std::uint64_t KSStringEncodingUTF8 = 4;

// What the default headers are made from: the user's languages and the host app.
struct KSClientEnvironment {
  std::vector<std::string> preferredLanguages;
  std::string executableName;    // else bundleIdentifier
  std::string bundleIdentifier;
  std::string shortVersion;      // else bundleVersion
  std::string bundleVersion;
  std::string deviceModel;
  std::string systemVersion;
  double screenScale = 1.0;

  // This process: languages from LANGUAGE or LANG ("de_DE.UTF-8" -> "de-DE", "en" when
  // neither is set), the executable's name, the machine and kernel release.
  static KSClientEnvironment system();
};

// The serializers' names of the six request properties a client may set once for every
// request, in the order they are applied.
const std::vector<std::string>& KSHTTPRequestSerializerObservedKeyPaths();

// Builds requests from a method, a URL string and parameters: default headers, the request
// properties a client has set, and the parameters as a query string ("GET", "HEAD",
// "DELETE") or a form body (other methods). Safe to configure and use from several threads.
class KSHTTPRequestSerializer : public std::enable_shared_from_this<KSHTTPRequestSerializer> {
 public:
  using QueryStringSerialization = std::function<std::string(
      const KSURLRequest& request, const platform::Value& parameters, std::optional<platform::Error>& error)>;

  static std::shared_ptr<KSHTTPRequestSerializer> serializer(
      KSClientEnvironment environment = KSClientEnvironment::system());

  explicit KSHTTPRequestSerializer(KSClientEnvironment environment = KSClientEnvironment::system());
  virtual ~KSHTTPRequestSerializer() = default;
  KSHTTPRequestSerializer(const KSHTTPRequestSerializer&) = delete;
  KSHTTPRequestSerializer& operator=(const KSHTTPRequestSerializer&) = delete;

  // --- default headers ---
  std::vector<std::pair<std::string, std::string>> HTTPRequestHeaders() const;  // a snapshot
  void setValue(std::optional<std::string> value, std::string_view field);
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  void setAuthorizationHeaderFieldWithUsername(std::string_view username, std::string_view password);
  void clearAuthorizationHeader();

  // --- query encoding ---
  void setQueryStringSerializationWithStyle(std::uint64_t style);
  void setQueryStringSerializationWithBlock(QueryStringSerialization block);
  std::uint64_t queryStringSerializationStyle() const;

  // --- request properties: applied to a request only once set ---
  bool allowsCellularAccess() const;
  void setAllowsCellularAccess(bool v);
  std::uint64_t cachePolicy() const;
  void setCachePolicy(std::uint64_t v);
  bool HTTPShouldHandleCookies() const;
  void setHTTPShouldHandleCookies(bool v);
  bool HTTPShouldUsePipelining() const;
  void setHTTPShouldUsePipelining(bool v);
  std::uint64_t networkServiceType() const;
  void setNetworkServiceType(std::uint64_t v);
  double timeoutInterval() const;
  void setTimeoutInterval(double v);
  std::set<std::string> mutableObservedChangedKeyPaths() const;

  std::uint64_t stringEncoding() const;
  void setStringEncoding(std::uint64_t v);
  std::set<std::string> HTTPMethodsEncodingParametersInURI() const;
  void setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods);

  // A new request for the method and absolute URL with the default headers, the set
  // properties and the parameters (Absent for none). A missing method or a URL string
  // that does not parse as an absolute URL fails (nullopt, error in the request domain,
  // code -1000), as does a query block that reports an error (its error).
  std::optional<KSURLRequest> requestWithMethod(std::string_view method, std::string_view URLString,
                                                  const platform::Value& parameters,
                                                  platform::Error* error = nullptr) const;

  // A copy of the request with the absent default headers added and the parameters
  // applied. A body encoder's failure returns the request without body and fills *error.
  virtual std::optional<KSURLRequest> requestBySerializingRequest(const KSURLRequest& request,
                                                                    const platform::Value& parameters,
                                                                    platform::Error* error = nullptr) const;

  // A streamed multipart/form-data request: the parameters become form fields, then the
  // block adds parts. "GET" and "HEAD" (and every failure of requestWithMethod) fail.
  std::optional<KSURLRequest> multipartFormRequestWithMethod(
      std::string_view method, std::string_view URLString, const platform::Value& parameters,
      const std::function<void(KSMultipartFormData& formData)>& block, platform::Error* error = nullptr) const;

  // Copies the request's body stream into the file (a "file:" URL) on a global queue of
  // the scheduler, honouring the stream's throttle without blocking a thread, and calls
  // the completion on the main queue. Returns the request without its body stream at once;
  // a request without body stream or a URL that is not a file URL fails (nullopt, error).
  std::optional<KSURLRequest> requestWithMultipartFormRequest(
      const KSURLRequest& request, std::string_view fileURL,
      std::function<void(std::optional<platform::Error>)> completionHandler, platform::Error* error = nullptr,
      std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr) const;

  // A fresh serializer of the same class (new language and agent headers) with a copy of
  // the default headers, the query style and block, and the subclass's own options.
  virtual std::shared_ptr<KSHTTPRequestSerializer> copy() const;

  // Keyed archive: "mutableHTTPRequestHeaders", "queryStringSerializationStyle" and the
  // subclass's options under their names. unarchive() fills a fresh serializer.
  virtual platform::Dict archive() const;
  virtual void unarchive(const platform::Dict& archive);

 protected:
  // Step shared by every serializer: a copy of the request with the default headers it
  // does not carry.
  KSURLRequest withDefaultHeaders(const KSURLRequest& request) const;
  // The query string for the parameters, or nullopt when there is none (non-default style
  // without block) or the block failed (then *failed holds its error).
  std::optional<std::string> queryString(const KSURLRequest& request, const platform::Value& parameters,
                                         std::optional<platform::Error>& failed) const;
  virtual std::shared_ptr<KSHTTPRequestSerializer> makeFresh() const;
  void copyBaseInto(KSHTTPRequestSerializer& other) const;
  bool encodesParametersInURI(std::string_view method) const;

  const KSClientEnvironment environment_;

 private:
  void markChanged(const std::string& keyPath);

  mutable std::mutex mutex_;
  std::uint64_t stringEncoding_ = KSStringEncodingUTF8;
  bool allowsCellularAccess_ = false;
  std::uint64_t cachePolicy_ = 0;
  bool HTTPShouldHandleCookies_ = false;
  bool HTTPShouldUsePipelining_ = false;
  std::uint64_t networkServiceType_ = 0;
  double timeoutInterval_ = 0;
  std::set<std::string> HTTPMethodsEncodingParametersInURI_{"GET", "HEAD", "DELETE"};
  std::set<std::string> mutableObservedChangedKeyPaths_;
  std::vector<std::pair<std::string, std::string>> mutableHTTPRequestHeaders_;
  std::uint64_t queryStringSerializationStyle_ = 0;
  QueryStringSerialization queryStringSerialization_;
};

// Writes the parameters of body-carrying methods as a JSON body ("application/json").
class KSJSONRequestSerializer : public KSHTTPRequestSerializer {
 public:
  static std::shared_ptr<KSJSONRequestSerializer> serializer(
      KSClientEnvironment environment = KSClientEnvironment::system());
  static std::shared_ptr<KSJSONRequestSerializer> serializerWithWritingOptions(
      std::uint64_t writingOptions, KSClientEnvironment environment = KSClientEnvironment::system());
  using KSHTTPRequestSerializer::KSHTTPRequestSerializer;

  std::uint64_t writingOptions() const { return writingOptions_; }
  void setWritingOptions(std::uint64_t v) { writingOptions_ = v; }

  std::optional<KSURLRequest> requestBySerializingRequest(const KSURLRequest& request,
                                                            const platform::Value& parameters,
                                                            platform::Error* error = nullptr) const override;
  std::shared_ptr<KSHTTPRequestSerializer> copy() const override;
  platform::Dict archive() const override;
  void unarchive(const platform::Dict& archive) override;

 protected:
  std::shared_ptr<KSHTTPRequestSerializer> makeFresh() const override;

 private:
  std::uint64_t writingOptions_ = 0;
};

// Writes the parameters of body-carrying methods as a property list ("application/x-plist"),
// XML (format 100) by default or binary (200).
class KSPropertyListRequestSerializer : public KSHTTPRequestSerializer {
 public:
  static std::shared_ptr<KSPropertyListRequestSerializer> serializer(
      KSClientEnvironment environment = KSClientEnvironment::system());
  static std::shared_ptr<KSPropertyListRequestSerializer> serializerWithFormat(
      std::uint64_t format, std::uint64_t writeOptions,
      KSClientEnvironment environment = KSClientEnvironment::system());
  using KSHTTPRequestSerializer::KSHTTPRequestSerializer;

  std::uint64_t format() const { return format_; }
  void setFormat(std::uint64_t v) { format_ = v; }
  std::uint64_t writeOptions() const { return writeOptions_; }
  void setWriteOptions(std::uint64_t v) { writeOptions_ = v; }

  std::optional<KSURLRequest> requestBySerializingRequest(const KSURLRequest& request,
                                                            const platform::Value& parameters,
                                                            platform::Error* error = nullptr) const override;
  std::shared_ptr<KSHTTPRequestSerializer> copy() const override;
  platform::Dict archive() const override;
  void unarchive(const platform::Dict& archive) override;

 protected:
  std::shared_ptr<KSHTTPRequestSerializer> makeFresh() const override;

 private:
  std::uint64_t format_ = 100;
  std::uint64_t writeOptions_ = 0;
};

}  // namespace velmora::kestrine
