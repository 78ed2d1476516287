#include "beacons/http/KSHTTPRequestSerializer.h"

#include <curl/curl.h>
#include <errno.h>
#include <fmt/format.h>
#include <sys/utsname.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "beacons/http/KSQueryStringPair.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/defaults/BinaryPropertyList.h"

namespace velmora::kestrine {
namespace {

platform::Error requestError(std::string text) {
  platform::Dict info;
  info.emplace(std::string(KSLocalizedFailureReasonErrorKey), text);
  return platform::Error(std::string(KSURLRequestSerializationErrorDomain), KSRequestSerializationErrorCode,
                         std::move(text), std::move(info));
}

// Reports a violated precondition as a programming error and as the failed build the
// caller sees.
bool require(bool holds, std::string_view what, platform::Error* error) {
  if (platform::precondition(holds, what)) return true;
  if (error) *error = requestError(fmt::format("Invalid parameter not satisfying: {}", what));
  return false;
}

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Whether the text parses as an absolute URL (a scheme and what that scheme needs).
bool parsesAsURL(std::string_view url) {
  if (url.empty() || url.find('\0') != std::string_view::npos) return false;
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
  if (!handle) return false;
  const std::string text(url);
  return curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
}

// Adds the query to the URL: after "&" when the URL already has a query, after "?"
// otherwise, and before a fragment (text after "#" is never sent, so a query put there
// would be lost).
std::string appendingQuery(const std::string& url, const std::string& query) {
  const std::size_t hash = url.find('#');
  const std::string head = url.substr(0, hash);
  const std::string fragment = hash == std::string::npos ? std::string() : url.substr(hash);
  const char joint = head.find('?') == std::string::npos ? '?' : '&';
  return head + joint + query + fragment;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string acceptLanguage(const std::vector<std::string>& languages) {
  std::string out;
  for (std::size_t i = 0; i < languages.size(); ++i) {
    const float q = 1.0f - 0.1f * static_cast<float>(i);
    char rendered[32];
    std::snprintf(rendered, sizeof rendered, "%0.1g", static_cast<double>(q));
    if (!out.empty()) out += ", ";
    out += fmt::format("{};q={}", languages[i], rendered);
    if (q <= 0.5f) break;
  }
  return out;
}

// The text with letters of other scripts written in Latin, accents dropped and anything
// left outside ASCII removed; nullopt when the transform is not available.
std::optional<std::string> asciiTransliteration(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Transliterator> transform(icu::Transliterator::createInstance(
      icu::UnicodeString::fromUTF8("Any-Latin; Latin-ASCII; [:^ASCII:] Remove"), UTRANS_FORWARD, status));
  if (U_FAILURE(status) || !transform) return std::nullopt;
  icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
  transform->transliterate(s);
  std::string out;
  s.toUTF8String(out);
  return out;
}

std::string userAgent(const KSClientEnvironment& env) {
  const std::string& name = env.executableName.empty() ? env.bundleIdentifier : env.executableName;
  const std::string& version = env.shortVersion.empty() ? env.bundleVersion : env.shortVersion;
  std::string agent = fmt::format("{}/{} ({}; iOS {}; Scale/{:0.2f})", name, version, env.deviceModel,
                                  env.systemVersion, env.screenScale);
  if (!isAscii(agent)) {
    if (auto ascii = asciiTransliteration(agent)) agent = std::move(*ascii);
  }
  return agent;
}

std::string languageTag(std::string locale) {
  locale = locale.substr(0, locale.find_first_of(".@"));
  std::replace(locale.begin(), locale.end(), '_', '-');
  return locale;
}

}  // namespace

KSClientEnvironment KSClientEnvironment::system() {
  KSClientEnvironment env;
  const auto addLanguage = [&](std::string tag) {
    tag = languageTag(std::move(tag));
    if (!tag.empty() && tag != "C" && tag != "POSIX" &&
        std::find(env.preferredLanguages.begin(), env.preferredLanguages.end(), tag) == env.preferredLanguages.end()) {
      env.preferredLanguages.push_back(std::move(tag));
    }
  };
  if (const char* list = std::getenv("LANGUAGE"); list && *list) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const std::size_t colon = rest.find(':');
      addLanguage(std::string(rest.substr(0, colon)));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  if (env.preferredLanguages.empty()) {
    if (const char* lang = std::getenv("LANG"); lang && *lang) addLanguage(lang);
  }
  if (env.preferredLanguages.empty()) env.preferredLanguages.push_back("en");
  env.executableName = program_invocation_short_name ? program_invocation_short_name : "";
  struct utsname uts {};
  if (uname(&uts) == 0) {
    env.deviceModel = uts.machine;
    env.systemVersion = uts.release;
  }
  return env;
}

const std::vector<std::string>& KSHTTPRequestSerializerObservedKeyPaths() {
  static const std::vector<std::string>& keyPaths =
      *new std::vector<std::string>{"allowsCellularAccess",    "cachePolicy",        "HTTPShouldHandleCookies",
                                    "HTTPShouldUsePipelining", "networkServiceType", "timeoutInterval"};
  return keyPaths;
}

std::shared_ptr<KSHTTPRequestSerializer> KSHTTPRequestSerializer::serializer(KSClientEnvironment environment) {
  return std::make_shared<KSHTTPRequestSerializer>(std::move(environment));
}

KSHTTPRequestSerializer::KSHTTPRequestSerializer(KSClientEnvironment environment)
    : environment_(std::move(environment)) {
  mutableHTTPRequestHeaders_.emplace_back("Accept-Language", acceptLanguage(environment_.preferredLanguages));
  mutableHTTPRequestHeaders_.emplace_back("User-Agent", userAgent(environment_));
}

std::vector<std::pair<std::string, std::string>> KSHTTPRequestSerializer::HTTPRequestHeaders() const {
  std::lock_guard lock(mutex_);
  return mutableHTTPRequestHeaders_;
}

void KSHTTPRequestSerializer::setValue(std::optional<std::string> value, std::string_view field) {
  std::lock_guard lock(mutex_);
  auto& headers = mutableHTTPRequestHeaders_;
  const auto same = [&](const auto& h) { return platform::equalsIgnoringAsciiCase(h.first, field); };
  auto it = std::find_if(headers.begin(), headers.end(), same);
  if (!value) {
    if (it != headers.end()) headers.erase(it);
  } else if (it != headers.end()) {
    it->second = std::move(*value);
  } else {
    headers.emplace_back(std::string(field), std::move(*value));
  }
}

std::optional<std::string> KSHTTPRequestSerializer::valueForHTTPHeaderField(std::string_view field) const {
  std::lock_guard lock(mutex_);
  for (const auto& [name, value] : mutableHTTPRequestHeaders_) {
    if (platform::equalsIgnoringAsciiCase(name, field)) return value;
  }
  return std::nullopt;
}

void KSHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(std::string_view username,
                                                                        std::string_view password) {
  setValue(fmt::format("Basic {}", base64(fmt::format("{}:{}", username, password))), "Authorization");
}

void KSHTTPRequestSerializer::clearAuthorizationHeader() { setValue(std::nullopt, "Authorization"); }

void KSHTTPRequestSerializer::setQueryStringSerializationWithStyle(std::uint64_t style) {
  std::lock_guard lock(mutex_);
  queryStringSerializationStyle_ = style;
  queryStringSerialization_ = nullptr;
}

void KSHTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerialization block) {
  std::lock_guard lock(mutex_);
  queryStringSerialization_ = std::move(block);
}

std::uint64_t KSHTTPRequestSerializer::queryStringSerializationStyle() const {
  std::lock_guard lock(mutex_);
  return queryStringSerializationStyle_;
}

void KSHTTPRequestSerializer::markChanged(const std::string& keyPath) { mutableObservedChangedKeyPaths_.insert(keyPath); }

#define KS_OBSERVED_PROPERTY(Type, getter, Setter)      \
  Type KSHTTPRequestSerializer::getter() const {        \
    std::lock_guard lock(mutex_);                         \
    return getter##_;                                     \
  }                                                       \
  void KSHTTPRequestSerializer::Setter(Type v) {        \
    std::lock_guard lock(mutex_);                         \
    getter##_ = v;                                        \
    markChanged(#getter);                                 \
  }
KS_OBSERVED_PROPERTY(bool, allowsCellularAccess, setAllowsCellularAccess)
KS_OBSERVED_PROPERTY(std::uint64_t, cachePolicy, setCachePolicy)
KS_OBSERVED_PROPERTY(bool, HTTPShouldHandleCookies, setHTTPShouldHandleCookies)
KS_OBSERVED_PROPERTY(bool, HTTPShouldUsePipelining, setHTTPShouldUsePipelining)
KS_OBSERVED_PROPERTY(std::uint64_t, networkServiceType, setNetworkServiceType)
KS_OBSERVED_PROPERTY(double, timeoutInterval, setTimeoutInterval)
#undef KS_OBSERVED_PROPERTY

std::set<std::string> KSHTTPRequestSerializer::mutableObservedChangedKeyPaths() const {
  std::lock_guard lock(mutex_);
  return mutableObservedChangedKeyPaths_;
}

std::uint64_t KSHTTPRequestSerializer::stringEncoding() const {
  std::lock_guard lock(mutex_);
  return stringEncoding_;
}

void KSHTTPRequestSerializer::setStringEncoding(std::uint64_t v) {
  std::lock_guard lock(mutex_);
  stringEncoding_ = v;
}

std::set<std::string> KSHTTPRequestSerializer::HTTPMethodsEncodingParametersInURI() const {
  std::lock_guard lock(mutex_);
  return HTTPMethodsEncodingParametersInURI_;
}

void KSHTTPRequestSerializer::setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods) {
  std::lock_guard lock(mutex_);
  HTTPMethodsEncodingParametersInURI_ = std::move(methods);
}

bool KSHTTPRequestSerializer::encodesParametersInURI(std::string_view method) const {
  std::lock_guard lock(mutex_);
  return HTTPMethodsEncodingParametersInURI_.count(upper(method)) > 0;
}

std::optional<KSURLRequest> KSHTTPRequestSerializer::requestWithMethod(std::string_view method,
                                                                           std::string_view URLString,
                                                                           const platform::Value& parameters,
                                                                           platform::Error* error) const {
  if (!require(!method.empty(), "method", error)) return std::nullopt;
  if (!require(!URLString.empty(), "URLString", error)) return std::nullopt;
  if (!require(parsesAsURL(URLString), "url", error)) return std::nullopt;

  KSURLRequest request;
  request.urlRequest.url = std::string(URLString);
  request.urlRequest.method = std::string(method);
  {
    std::lock_guard lock(mutex_);
    const auto set = [&](std::string_view keyPath) { return mutableObservedChangedKeyPaths_.count(std::string(keyPath)) > 0; };
    if (set("allowsCellularAccess")) request.allowsCellularAccess = allowsCellularAccess_;
    if (set("cachePolicy")) request.cachePolicy = cachePolicy_;
    if (set("HTTPShouldHandleCookies")) request.HTTPShouldHandleCookies = HTTPShouldHandleCookies_;
    if (set("HTTPShouldUsePipelining")) request.HTTPShouldUsePipelining = HTTPShouldUsePipelining_;
    if (set("networkServiceType")) request.networkServiceType = networkServiceType_;
    if (set("timeoutInterval")) request.urlRequest.timeoutSeconds = timeoutInterval_;
  }
  return requestBySerializingRequest(request, parameters, error);
}

KSURLRequest KSHTTPRequestSerializer::withDefaultHeaders(const KSURLRequest& request) const {
  KSURLRequest out = request;
  for (auto& [field, value] : HTTPRequestHeaders()) {
    if (!out.valueForHTTPHeaderField(field)) out.setValue(value, field);
  }
  return out;
}

std::optional<std::string> KSHTTPRequestSerializer::queryString(const KSURLRequest& request,
                                                                  const platform::Value& parameters,
                                                                  std::optional<platform::Error>& failed) const {
  QueryStringSerialization block;
  std::uint64_t style = 0;
  {
    std::lock_guard lock(mutex_);
    block = queryStringSerialization_;
    style = queryStringSerializationStyle_;
  }
  if (block) {
    std::optional<platform::Error> blockError;
    std::string query = block(request, parameters, blockError);
    if (blockError) {
      failed = std::move(blockError);
      return std::nullopt;
    }
    return query;
  }
  if (style == 0) return KSQueryStringFromParameters(parameters);
  return std::nullopt;
}

std::optional<KSURLRequest> KSHTTPRequestSerializer::requestBySerializingRequest(const KSURLRequest& request,
                                                                                     const platform::Value& parameters,
                                                                                     platform::Error* error) const {
  KSURLRequest out = withDefaultHeaders(request);
  std::optional<std::string> query;
  if (!parameters.isAbsent()) {
    std::optional<platform::Error> failed;
    query = queryString(out, parameters, failed);
    if (failed) {
      if (error) *error = std::move(*failed);
      return std::nullopt;
    }
  }
  if (encodesParametersInURI(out.HTTPMethod())) {
    if (query) out.urlRequest.url = appendingQuery(out.urlRequest.url, *query);
  } else {
    if (!out.valueForHTTPHeaderField("Content-Type")) out.setValue("application/x-www-form-urlencoded", "Content-Type");
    // Escaped query text is ASCII: the same bytes in every supported encoding.
    out.urlRequest.body = query.value_or("");
  }
  return out;
}

std::shared_ptr<KSHTTPRequestSerializer> KSHTTPRequestSerializer::makeFresh() const {
  return std::make_shared<KSHTTPRequestSerializer>(environment_);
}

void KSHTTPRequestSerializer::copyBaseInto(KSHTTPRequestSerializer& other) const {
  std::vector<std::pair<std::string, std::string>> headers;
  std::uint64_t style = 0;
  QueryStringSerialization block;
  {
    std::lock_guard lock(mutex_);
    headers = mutableHTTPRequestHeaders_;
    style = queryStringSerializationStyle_;
    block = queryStringSerialization_;
  }
  std::lock_guard lock(other.mutex_);
  other.mutableHTTPRequestHeaders_ = std::move(headers);
  other.queryStringSerializationStyle_ = style;
  other.queryStringSerialization_ = std::move(block);
}

std::shared_ptr<KSHTTPRequestSerializer> KSHTTPRequestSerializer::copy() const {
  auto fresh = makeFresh();
  copyBaseInto(*fresh);
  return fresh;
}

platform::Dict KSHTTPRequestSerializer::archive() const {
  platform::Dict headers;
  for (auto& [field, value] : HTTPRequestHeaders()) headers.insert_or_assign(field, value);
  platform::Dict out;
  out.emplace("mutableHTTPRequestHeaders", std::move(headers));
  out.emplace("queryStringSerializationStyle", queryStringSerializationStyle());
  return out;
}

void KSHTTPRequestSerializer::unarchive(const platform::Dict& archive) {
  if (auto it = archive.find("mutableHTTPRequestHeaders"); it != archive.end() && it->second.dict()) {
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& [field, value] : *it->second.dict()) {
      if (value.string()) headers.emplace_back(field, *value.string());
    }
    std::lock_guard lock(mutex_);
    mutableHTTPRequestHeaders_ = std::move(headers);
  }
  if (auto it = archive.find("queryStringSerializationStyle"); it != archive.end()) {
    if (auto style = it->second.toUInt64()) setQueryStringSerializationWithStyle(*style);
  }
}

// --- JSON ---------------------------------------------------------------------------------

std::shared_ptr<KSJSONRequestSerializer> KSJSONRequestSerializer::serializer(KSClientEnvironment environment) {
  return std::make_shared<KSJSONRequestSerializer>(std::move(environment));
}

std::shared_ptr<KSJSONRequestSerializer> KSJSONRequestSerializer::serializerWithWritingOptions(
    std::uint64_t writingOptions, KSClientEnvironment environment) {
  auto s = serializer(std::move(environment));
  s->setWritingOptions(writingOptions);
  return s;
}

std::optional<KSURLRequest> KSJSONRequestSerializer::requestBySerializingRequest(const KSURLRequest& request,
                                                                                     const platform::Value& parameters,
                                                                                     platform::Error* error) const {
  if (encodesParametersInURI(request.HTTPMethod())) {
    return KSHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
  }
  KSURLRequest out = withDefaultHeaders(request);
  if (!parameters.isAbsent()) {
    if (!out.valueForHTTPHeaderField("Content-Type")) out.setValue("application/json", "Content-Type");
    platform::Error encodeError;
    if (auto body = platform::json::write(parameters, &encodeError)) {
      out.urlRequest.body = std::move(*body);
    } else {
      out.urlRequest.body.clear();
      if (error) *error = std::move(encodeError);
    }
  }
  return out;
}

std::shared_ptr<KSHTTPRequestSerializer> KSJSONRequestSerializer::makeFresh() const {
  return std::make_shared<KSJSONRequestSerializer>(environment_);
}

std::shared_ptr<KSHTTPRequestSerializer> KSJSONRequestSerializer::copy() const {
  auto fresh = std::static_pointer_cast<KSJSONRequestSerializer>(KSHTTPRequestSerializer::copy());
  fresh->setWritingOptions(writingOptions_);
  return fresh;
}

platform::Dict KSJSONRequestSerializer::archive() const {
  platform::Dict out = KSHTTPRequestSerializer::archive();
  out.insert_or_assign("writingOptions", writingOptions_);
  return out;
}

void KSJSONRequestSerializer::unarchive(const platform::Dict& archive) {
  KSHTTPRequestSerializer::unarchive(archive);
  if (auto it = archive.find("writingOptions"); it != archive.end()) {
    if (auto v = it->second.toUInt64()) writingOptions_ = *v;
  }
}

// --- property list ------------------------------------------------------------------------

std::shared_ptr<KSPropertyListRequestSerializer> KSPropertyListRequestSerializer::serializer(
    KSClientEnvironment environment) {
  return std::make_shared<KSPropertyListRequestSerializer>(std::move(environment));
}

std::shared_ptr<KSPropertyListRequestSerializer> KSPropertyListRequestSerializer::serializerWithFormat(
    std::uint64_t format, std::uint64_t writeOptions, KSClientEnvironment environment) {
  auto s = serializer(std::move(environment));
  s->setFormat(format);
  s->setWriteOptions(writeOptions);
  return s;
}

std::optional<KSURLRequest> KSPropertyListRequestSerializer::requestBySerializingRequest(
    const KSURLRequest& request, const platform::Value& parameters, platform::Error* error) const {
  if (encodesParametersInURI(request.HTTPMethod())) {
    return KSHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
  }
  KSURLRequest out = withDefaultHeaders(request);
  if (!parameters.isAbsent()) {
    if (!out.valueForHTTPHeaderField("Content-Type")) out.setValue("application/x-plist", "Content-Type");
    using Plist = platform::defaults::BinaryPropertyList;
    std::string why;
    std::optional<std::string> body;
    if (format_ == static_cast<std::uint64_t>(Plist::Format::Xml) ||
        format_ == static_cast<std::uint64_t>(Plist::Format::Binary)) {
      body = Plist::encodeValue(parameters, static_cast<Plist::Format>(format_), &why);
    } else {
      why = fmt::format("property-list format {} is not supported", format_);
    }
    if (body) {
      out.urlRequest.body = std::move(*body);
    } else {
      out.urlRequest.body.clear();
      if (error) *error = platform::coding::writeError(why);
    }
  }
  return out;
}

std::shared_ptr<KSHTTPRequestSerializer> KSPropertyListRequestSerializer::makeFresh() const {
  return std::make_shared<KSPropertyListRequestSerializer>(environment_);
}

std::shared_ptr<KSHTTPRequestSerializer> KSPropertyListRequestSerializer::copy() const {
  auto fresh = std::static_pointer_cast<KSPropertyListRequestSerializer>(KSHTTPRequestSerializer::copy());
  fresh->setFormat(format_);
  fresh->setWriteOptions(writeOptions_);
  return fresh;
}

platform::Dict KSPropertyListRequestSerializer::archive() const {
  platform::Dict out = KSHTTPRequestSerializer::archive();
  out.insert_or_assign("format", format_);
  out.insert_or_assign("writeOptions", writeOptions_);
  return out;
}

void KSPropertyListRequestSerializer::unarchive(const platform::Dict& archive) {
  KSHTTPRequestSerializer::unarchive(archive);
  if (auto it = archive.find("format"); it != archive.end()) {
    if (auto v = it->second.toUInt64()) format_ = *v;
  }
  if (auto it = archive.find("writeOptions"); it != archive.end()) {
    if (auto v = it->second.toUInt64()) writeOptions_ = *v;
  }
}

}  // namespace velmora::kestrine
