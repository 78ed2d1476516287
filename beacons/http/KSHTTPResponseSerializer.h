#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPURLResponse.h"

namespace velmora::kestrine {

inline constexpr std::string_view KSURLResponseSerializationErrorDomain =
    "com.kestrine.error.serialization.response";
inline constexpr std::string_view KSNetworkingOperationFailingURLResponseErrorKey =
    "com.kestrine.serialization.response.error.response";
inline constexpr std::string_view KSNetworkingOperationFailingURLResponseDataErrorKey =
    "com.kestrine.serialization.response.error.data";
// User-info key that repeats an error's description.
inline constexpr std::string_view KSLocalizedDescriptionErrorKey = "localizedDescription";

// URL error codes the response serializers report.
inline constexpr std::int64_t KSURLErrorCannotDecodeContentData = -1016;
inline constexpr std::int64_t KSURLErrorBadServerResponse = -1011;

// How an HTTP response and an error travel inside a user-info dictionary.
struct KSHTTPURLResponseBox : platform::Object {
  explicit KSHTTPURLResponseBox(platform::net::HTTPURLResponse r) : response(std::move(r)) {}
  platform::net::HTTPURLResponse response;
};
struct KSErrorBox : platform::Object {
  explicit KSErrorBox(platform::Error e) : error(std::move(e)) {}
  platform::Error error;
};

// The error under the underlying-error key, if any.
std::optional<platform::Error> KSUnderlyingError(const platform::Error& error);
// The failing response an error of this layer carries, or nullptr.
const platform::net::HTTPURLResponse* KSFailingResponse(const platform::Error& error);

// The error with `underlying` added as its underlying error, unless it has one already;
// without an error, the underlying one.
std::optional<platform::Error> KSErrorWithUnderlyingError(std::optional<platform::Error> error,
                                                            std::optional<platform::Error> underlying);
// Whether the error, or one down its chain of underlying errors, is -1016 of this domain.
bool KSErrorOrUnderlyingErrorHasCodeInDomain(const std::optional<platform::Error>& error);

// The value without dictionary entries whose value is null or absent, at every depth.
// Null array elements stay. (Containers here are values, so the mutable-containers
// reading option changes nothing.)
platform::Value KSJSONObjectByRemovingKeysWithNullValues(const platform::Value& object, std::uint64_t readingOptions = 0);

// The short text of an HTTP status code ("not found" for 404).
std::string KSLocalizedStringForStatusCode(int statusCode);

// The lower-cased MIME type and charset of a response's Content-Type, if present.
std::optional<std::string> KSResponseMIMEType(const platform::net::HTTPURLResponse& response);
std::optional<std::string> KSResponseTextEncodingName(const platform::net::HTTPURLResponse& response);

// Checks a finished response's status code and content type, and turns its body into an
// object. This base class passes the body through as bytes. Serializers hold no state that
// changes while serializing: one may be used from several threads at once.
class KSHTTPResponseSerializer {
 public:
  static std::shared_ptr<KSHTTPResponseSerializer> serializer();
  KSHTTPResponseSerializer();
  virtual ~KSHTTPResponseSerializer() = default;

  std::uint64_t stringEncoding = 4;  // UTF-8
  // Empty optional: any status code / any content type.
  std::optional<std::set<int>> acceptableStatusCodes;
  std::optional<std::set<std::string>> acceptableContentTypes;

  // True when acceptable. Otherwise *error (when given) receives the validation error, which
  // may be none (a wrong content type with an empty body). A missing response is valid.
  bool validateResponse(const platform::net::HTTPURLResponse* response, const std::optional<std::string>& data,
                        std::optional<platform::Error>* error) const;

  // The decoded object (Absent for none); *error receives the validation or decoding error.
  virtual platform::Value responseObjectForResponse(const platform::net::HTTPURLResponse* response,
                                                    const std::optional<std::string>& data,
                                                    std::optional<platform::Error>* error) const;

  // A fresh serializer of the same class with this one's settings (as each class copies
  // them: the base its status codes and content types, the subclasses their own options).
  virtual std::shared_ptr<KSHTTPResponseSerializer> copy() const;

 protected:
  // Validation as the decoding serializers begin with: true when decoding stops here (no
  // object: a wrong content type, or a failure without an out-argument). The validation
  // error is left in `validation` and, on a stop, in *error.
  bool stopsBeforeDecoding(const platform::net::HTTPURLResponse* response, const std::optional<std::string>& data,
                           std::optional<platform::Error>* error, std::optional<platform::Error>& validation) const;
};

// JSON bodies ("application/json", "text/json", "text/javascript"). The body is decoded
// after a status-code failure too, so a caller gets the server's error body.
class KSJSONResponseSerializer : public KSHTTPResponseSerializer {
 public:
  static std::shared_ptr<KSJSONResponseSerializer> serializer();
  static std::shared_ptr<KSJSONResponseSerializer> serializerWithReadingOptions(std::uint64_t readingOptions);
  KSJSONResponseSerializer();

  std::uint64_t readingOptions = 0;
  bool removesKeysWithNullValues = false;

  platform::Value responseObjectForResponse(const platform::net::HTTPURLResponse* response,
                                            const std::optional<std::string>& data,
                                            std::optional<platform::Error>* error) const override;
  std::shared_ptr<KSHTTPResponseSerializer> copy() const override;
};

// XML bodies ("application/xml", "text/xml"): the object is a KSXMLParser over the body,
// not yet run.
class KSXMLParserResponseSerializer : public KSHTTPResponseSerializer {
 public:
  static std::shared_ptr<KSXMLParserResponseSerializer> serializer();
  KSXMLParserResponseSerializer();

  platform::Value responseObjectForResponse(const platform::net::HTTPURLResponse* response,
                                            const std::optional<std::string>& data,
                                            std::optional<platform::Error>* error) const override;
  std::shared_ptr<KSHTTPResponseSerializer> copy() const override;
};

// Property-list bodies ("application/x-plist"), XML or binary whatever `format` says.
class KSPropertyListResponseSerializer : public KSHTTPResponseSerializer {
 public:
  static std::shared_ptr<KSPropertyListResponseSerializer> serializer();
  static std::shared_ptr<KSPropertyListResponseSerializer> serializerWithFormat(std::uint64_t format,
                                                                                  std::uint64_t readOptions);
  KSPropertyListResponseSerializer();

  std::uint64_t format = 100;
  std::uint64_t readOptions = 0;

  platform::Value responseObjectForResponse(const platform::net::HTTPURLResponse* response,
                                            const std::optional<std::string>& data,
                                            std::optional<platform::Error>* error) const override;
  std::shared_ptr<KSHTTPResponseSerializer> copy() const override;
};

// Tries its serializers in order; the first that returns an object wins. When none does,
// it validates with its own settings and returns the bytes, as the base class.
class KSCompoundResponseSerializer : public KSHTTPResponseSerializer {
 public:
  static std::shared_ptr<KSCompoundResponseSerializer> compoundSerializerWithResponseSerializers(
      std::vector<std::shared_ptr<KSHTTPResponseSerializer>> responseSerializers);

  std::vector<std::shared_ptr<KSHTTPResponseSerializer>> responseSerializers;

  platform::Value responseObjectForResponse(const platform::net::HTTPURLResponse* response,
                                            const std::optional<std::string>& data,
                                            std::optional<platform::Error>* error) const override;
  std::shared_ptr<KSHTTPResponseSerializer> copy() const override;
};

}  // namespace velmora::kestrine
