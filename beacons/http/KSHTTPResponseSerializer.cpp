#include "beacons/http/KSHTTPResponseSerializer.h"

#include <fmt/format.h>
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "platform/core/Utf8.h"
#include "beacons/http/KSXMLParser.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Json.h"
#include "platform/defaults/BinaryPropertyList.h"

namespace velmora::kestrine {
namespace {

using platform::net::HTTPURLResponse;

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  const auto e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

// A charset name as a text-encoding table would hold it: letters, digits and "-_.:+()",
// at most 40 of them. Anything else (for example option suffixes after "/") is unknown.
bool plausibleCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
    if (!ok) return false;
  }
  return true;
}

bool isUtf8Name(std::string_view name) { return name == "utf-8" || name == "utf8"; }

// The bytes as UTF-8 text, read in the named charset; nullopt when they are not valid in
// it. An unknown charset reads as UTF-8.
std::optional<std::string> decodeText(const std::string& bytes, const std::optional<std::string>& charset) {
  if (!charset || isUtf8Name(*charset) || !plausibleCharsetName(*charset)) {
    if (!platform::isValidUtf8(bytes)) return std::nullopt;
    return bytes;
  }
  iconv_t cd = iconv_open("UTF-8", charset->c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (!platform::isValidUtf8(bytes)) return std::nullopt;
    return bytes;
  }
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, &iconv_close);
  std::string out;
  std::string in = bytes;
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return std::nullopt;
  }
  char* outPtr = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, sizeof buffer - outLeft);
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

platform::Error responseError(std::int64_t code, std::string description, const HTTPURLResponse& response,
                              const std::optional<std::string>& data) {
  platform::Dict info;
  info.emplace(std::string(KSLocalizedDescriptionErrorKey), description);
  info.emplace(std::string(platform::kFailingURLKey), response.url);
  info.emplace(std::string(KSNetworkingOperationFailingURLResponseErrorKey),
               platform::Value(std::shared_ptr<platform::Object>(std::make_shared<KSHTTPURLResponseBox>(response))));
  if (data) {
    info.emplace(std::string(KSNetworkingOperationFailingURLResponseDataErrorKey),
                 platform::Bytes(data->begin(), data->end()));
  }
  return platform::Error(std::string(KSURLResponseSerializationErrorDomain), code, std::move(description),
                         std::move(info));
}

platform::Value bytesValue(const std::optional<std::string>& data) {
  if (!data) return {};
  return platform::Bytes(data->begin(), data->end());
}

}  // namespace

std::optional<platform::Error> KSUnderlyingError(const platform::Error& error) {
  auto it = error.userInfo.find(platform::kUnderlyingErrorKey);
  if (it == error.userInfo.end() || !it->second.object()) return std::nullopt;
  if (auto* box = dynamic_cast<const KSErrorBox*>(it->second.object()->get())) return box->error;
  return std::nullopt;
}

const HTTPURLResponse* KSFailingResponse(const platform::Error& error) {
  auto it = error.userInfo.find(KSNetworkingOperationFailingURLResponseErrorKey);
  if (it == error.userInfo.end() || !it->second.object()) return nullptr;
  if (auto* box = dynamic_cast<const KSHTTPURLResponseBox*>(it->second.object()->get())) return &box->response;
  return nullptr;
}

std::optional<platform::Error> KSErrorWithUnderlyingError(std::optional<platform::Error> error,
                                                            std::optional<platform::Error> underlying) {
  if (!error) return underlying;
  if (!underlying || error->userInfo.count(platform::kUnderlyingErrorKey)) return error;
  error->userInfo.insert_or_assign(
      std::string(platform::kUnderlyingErrorKey),
      platform::Value(std::shared_ptr<platform::Object>(std::make_shared<KSErrorBox>(std::move(*underlying)))));
  return error;
}

bool KSErrorOrUnderlyingErrorHasCodeInDomain(const std::optional<platform::Error>& error) {
  std::optional<platform::Error> e = error;
  // A chain is finite (each link was built before the one above it), but bound the walk anyway.
  for (int depth = 0; e && depth < 64; ++depth) {
    if (e->code == KSURLErrorCannotDecodeContentData && e->domain == KSURLResponseSerializationErrorDomain) {
      return true;
    }
    e = KSUnderlyingError(*e);
  }
  return false;
}

platform::Value KSJSONObjectByRemovingKeysWithNullValues(const platform::Value& object, std::uint64_t readingOptions) {
  if (const platform::Array* array = object.array()) {
    platform::Array out;
    out.reserve(array->size());
    for (const platform::Value& v : *array) out.push_back(KSJSONObjectByRemovingKeysWithNullValues(v, readingOptions));
    return out;
  }
  if (const platform::Dict* dict = object.dict()) {
    platform::Dict out;
    for (const auto& [key, v] : *dict) {
      if (v.isNull() || v.isAbsent()) continue;
      out.emplace(key, KSJSONObjectByRemovingKeysWithNullValues(v, readingOptions));
    }
    return out;
  }
  return object;
}

std::string KSLocalizedStringForStatusCode(int statusCode) {
  switch (statusCode) {
    case 100: return "continue";
    case 101: return "switching protocols";
    case 200: return "no error";
    case 201: return "created";
    case 202: return "accepted";
    case 203: return "non-authoritative information";
    case 204: return "no content";
    case 205: return "reset content";
    case 206: return "partial content";
    case 300: return "multiple choices";
    case 301: return "moved permanently";
    case 302: return "found";
    case 303: return "see other";
    case 304: return "not modified";
    case 305: return "needs proxy";
    case 307: return "redirected";
    case 308: return "permanent redirect";
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 402: return "payment required";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 406: return "unacceptable";
    case 407: return "proxy authentication required";
    case 408: return "request timed out";
    case 409: return "conflict";
    case 410: return "no longer exists";
    case 411: return "length required";
    case 412: return "precondition failed";
    case 413: return "request too large";
    case 414: return "requested URL too long";
    case 415: return "unsupported media type";
    case 416: return "requested range not satisfiable";
    case 417: return "expectation failed";
    case 422: return "unprocessable entity";
    case 429: return "too many requests";
    case 500: return "internal server error";
    case 501: return "unimplemented";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway timed out";
    case 505: return "unsupported version";
    default: break;
  }
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirection";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "unknown";
}

std::optional<std::string> KSResponseMIMEType(const HTTPURLResponse& response) {
  auto header = response.headerValue("Content-Type");
  if (!header) return std::nullopt;
  std::string type = lower(trim(std::string_view(*header).substr(0, header->find(';'))));
  if (type.empty()) return std::nullopt;
  return type;
}

std::optional<std::string> KSResponseTextEncodingName(const HTTPURLResponse& response) {
  auto header = response.headerValue("Content-Type");
  if (!header) return std::nullopt;
  std::string_view rest(*header);
  for (std::size_t semi = rest.find(';'); semi != std::string_view::npos; semi = rest.find(';')) {
    rest = rest.substr(semi + 1);
    const std::string_view param = rest.substr(0, rest.find(';'));
    const std::size_t eq = param.find('=');
    if (eq == std::string_view::npos) continue;
    if (!platform::equalsIgnoringAsciiCase(trim(param.substr(0, eq)), "charset")) continue;
    std::string value = trim(param.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.empty()) return std::nullopt;
    return lower(std::move(value));
  }
  return std::nullopt;
}

// --- base -----------------------------------------------------------------------------------

std::shared_ptr<KSHTTPResponseSerializer> KSHTTPResponseSerializer::serializer() {
  return std::make_shared<KSHTTPResponseSerializer>();
}

KSHTTPResponseSerializer::KSHTTPResponseSerializer() {
  std::set<int> codes;
  for (int c = 200; c < 300; ++c) codes.insert(c);
  acceptableStatusCodes = std::move(codes);
}

bool KSHTTPResponseSerializer::validateResponse(const HTTPURLResponse* response, const std::optional<std::string>& data,
                                                  std::optional<platform::Error>* error) const {
  if (!response) return true;
  bool valid = true;
  std::optional<platform::Error> validationError;
  const bool hasURL = !response->url.empty();

  if (acceptableContentTypes) {
    const auto mime = KSResponseMIMEType(*response);
    if (!mime || !acceptableContentTypes->count(*mime)) {
      if (data && !data->empty() && hasURL) {
        validationError = responseError(KSURLErrorCannotDecodeContentData,
                                        fmt::format("Request failed: unacceptable content-type: {}", mime.value_or("(null)")),
                                        *response, data);
      }
      valid = false;
    }
  }
  if (acceptableStatusCodes && !acceptableStatusCodes->count(response->statusCode) && hasURL) {
    platform::Error statusError = responseError(
        KSURLErrorBadServerResponse,
        fmt::format("Request failed: {} ({})", KSLocalizedStringForStatusCode(response->statusCode), response->statusCode),
        *response, data);
    validationError = KSErrorWithUnderlyingError(std::move(statusError), std::move(validationError));
    valid = false;
  }
  if (!valid && error) *error = std::move(validationError);
  return valid;
}

platform::Value KSHTTPResponseSerializer::responseObjectForResponse(const HTTPURLResponse* response,
                                                                     const std::optional<std::string>& data,
                                                                     std::optional<platform::Error>* error) const {
  validateResponse(response, data, error);
  return bytesValue(data);
}

std::shared_ptr<KSHTTPResponseSerializer> KSHTTPResponseSerializer::copy() const {
  auto out = std::make_shared<KSHTTPResponseSerializer>();
  out->acceptableStatusCodes = acceptableStatusCodes;
  out->acceptableContentTypes = acceptableContentTypes;
  return out;
}

bool KSHTTPResponseSerializer::stopsBeforeDecoding(const HTTPURLResponse* response,
                                                     const std::optional<std::string>& data,
                                                     std::optional<platform::Error>* error,
                                                     std::optional<platform::Error>& validation) const {
  if (validateResponse(response, data, &validation)) return false;
  if (!error || KSErrorOrUnderlyingErrorHasCodeInDomain(validation)) {
    if (error) *error = validation;
    return true;
  }
  return false;
}

// --- JSON -----------------------------------------------------------------------------------

std::shared_ptr<KSJSONResponseSerializer> KSJSONResponseSerializer::serializer() {
  return std::make_shared<KSJSONResponseSerializer>();
}

std::shared_ptr<KSJSONResponseSerializer> KSJSONResponseSerializer::serializerWithReadingOptions(
    std::uint64_t options) {
  auto s = serializer();
  s->readingOptions = options;
  return s;
}

KSJSONResponseSerializer::KSJSONResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/json", "text/json", "text/javascript"};
}

platform::Value KSJSONResponseSerializer::responseObjectForResponse(const HTTPURLResponse* response,
                                                                     const std::optional<std::string>& data,
                                                                     std::optional<platform::Error>* error) const {
  std::optional<platform::Error> validation;
  if (stopsBeforeDecoding(response, data, error, validation)) return {};
  if (error) *error = validation;
  if (!data) return {};

  const std::optional<std::string> charset = response ? KSResponseTextEncodingName(*response) : std::nullopt;
  // Decoding yields UTF-8 text or nothing, so the text always re-encodes as UTF-8.
  std::optional<std::string> text = decodeText(*data, charset);
  if (!text || *text == " " || text->empty()) return {};

  platform::Error parseError;
  std::optional<platform::Value> object = platform::json::parse(*text, &parseError);
  text.reset();  // free the intermediate text before the result travels on
  std::optional<platform::Error> decodingError;
  platform::Value result;
  if (object) {
    result = removesKeysWithNullValues ? KSJSONObjectByRemovingKeysWithNullValues(*object, readingOptions)
                                       : std::move(*object);
  } else {
    decodingError = std::move(parseError);
  }
  if (error) *error = KSErrorWithUnderlyingError(std::move(decodingError), std::move(validation));
  return result;
}

std::shared_ptr<KSHTTPResponseSerializer> KSJSONResponseSerializer::copy() const {
  auto out = std::make_shared<KSJSONResponseSerializer>();
  out->readingOptions = readingOptions;
  out->removesKeysWithNullValues = removesKeysWithNullValues;
  return out;
}

// --- XML ------------------------------------------------------------------------------------

std::shared_ptr<KSXMLParserResponseSerializer> KSXMLParserResponseSerializer::serializer() {
  return std::make_shared<KSXMLParserResponseSerializer>();
}

KSXMLParserResponseSerializer::KSXMLParserResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/xml", "text/xml"};
}

platform::Value KSXMLParserResponseSerializer::responseObjectForResponse(const HTTPURLResponse* response,
                                                                          const std::optional<std::string>& data,
                                                                          std::optional<platform::Error>* error) const {
  std::optional<platform::Error> validation;
  if (stopsBeforeDecoding(response, data, error, validation)) return {};
  if (error) *error = validation;
  return platform::Value(std::shared_ptr<platform::Object>(std::make_shared<KSXMLParser>(data.value_or(""))));
}

std::shared_ptr<KSHTTPResponseSerializer> KSXMLParserResponseSerializer::copy() const {
  auto out = std::make_shared<KSXMLParserResponseSerializer>();
  out->acceptableStatusCodes = acceptableStatusCodes;
  out->acceptableContentTypes = acceptableContentTypes;
  return out;
}

// --- property list --------------------------------------------------------------------------

std::shared_ptr<KSPropertyListResponseSerializer> KSPropertyListResponseSerializer::serializer() {
  return std::make_shared<KSPropertyListResponseSerializer>();
}

std::shared_ptr<KSPropertyListResponseSerializer> KSPropertyListResponseSerializer::serializerWithFormat(
    std::uint64_t f, std::uint64_t options) {
  auto s = serializer();
  s->format = f;
  s->readOptions = options;
  return s;
}

KSPropertyListResponseSerializer::KSPropertyListResponseSerializer() {
  acceptableContentTypes = std::set<std::string>{"application/x-plist"};
}

platform::Value KSPropertyListResponseSerializer::responseObjectForResponse(const HTTPURLResponse* response,
                                                                             const std::optional<std::string>& data,
                                                                             std::optional<platform::Error>* error) const {
  std::optional<platform::Error> validation;
  if (stopsBeforeDecoding(response, data, error, validation)) return {};
  if (error) *error = validation;
  if (!data || data->empty()) return {};
  std::string why;
  // Either encoding is read, whatever `format` says.
  auto value = platform::defaults::BinaryPropertyList::decodeValue(data->data(), data->size(), &why);
  std::optional<platform::Error> decodingError;
  if (!value) decodingError = platform::coding::readError(platform::coding::kReadCorrupt, why);
  if (error) *error = KSErrorWithUnderlyingError(std::move(decodingError), std::move(validation));
  return value ? std::move(*value) : platform::Value();
}

std::shared_ptr<KSHTTPResponseSerializer> KSPropertyListResponseSerializer::copy() const {
  auto out = std::make_shared<KSPropertyListResponseSerializer>();
  out->format = format;
  out->readOptions = readOptions;
  return out;
}

// --- compound -------------------------------------------------------------------------------

std::shared_ptr<KSCompoundResponseSerializer> KSCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<std::shared_ptr<KSHTTPResponseSerializer>> serializers) {
  auto s = std::make_shared<KSCompoundResponseSerializer>();
  s->responseSerializers = std::move(serializers);
  return s;
}

platform::Value KSCompoundResponseSerializer::responseObjectForResponse(const HTTPURLResponse* response,
                                                                         const std::optional<std::string>& data,
                                                                         std::optional<platform::Error>* error) const {
  for (const auto& serializer : responseSerializers) {
    if (!serializer) continue;
    std::optional<platform::Error> own;
    platform::Value object = serializer->responseObjectForResponse(response, data, &own);
    if (!object.isAbsent()) {
      if (error) *error = KSErrorWithUnderlyingError(std::move(own), *error);
      return object;
    }
  }
  return KSHTTPResponseSerializer::responseObjectForResponse(response, data, error);
}

std::shared_ptr<KSHTTPResponseSerializer> KSCompoundResponseSerializer::copy() const {
  auto out = std::make_shared<KSCompoundResponseSerializer>();
  out->acceptableStatusCodes = acceptableStatusCodes;
  out->acceptableContentTypes = acceptableContentTypes;
  out->responseSerializers = responseSerializers;
  return out;
}

}  // namespace velmora::kestrine
