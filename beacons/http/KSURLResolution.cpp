#include "beacons/http/KSURLResolution.h"

#include <curl/curl.h>

#include <memory>

namespace velmora::kestrine {
namespace {

struct UrlFree {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using Url = std::unique_ptr<CURLU, UrlFree>;

// Any scheme is parsed; the session refuses the ones it does not speak.
constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME;

bool set(CURLU* url, std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return false;
  return curl_url_set(url, CURLUPART_URL, std::string(text).c_str(), kParseFlags) == CURLUE_OK;
}

std::optional<std::string> get(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  const CURLUcode rc = curl_url_get(url, part, &text, 0);
  if (rc != CURLUE_OK || !text) {
    curl_free(text);
    return std::nullopt;
  }
  std::string result(text);
  curl_free(text);
  return result;
}

}  // namespace

std::optional<std::string> KSNormalizedBaseURL(std::string_view baseURL) {
  Url url(curl_url());
  if (!url || !set(url.get(), baseURL)) return std::nullopt;
  auto path = get(url.get(), CURLUPART_PATH);
  auto absolute = get(url.get(), CURLUPART_URL);
  if (!path || !absolute) return std::nullopt;
  // libcurl reports an empty path as "/": the text tells whether the path was empty.
  const bool pathEmpty = *path == "/" && baseURL.find('/', baseURL.find("://") + 3) == std::string_view::npos;
  if (pathEmpty || path->ends_with('/')) return std::string(baseURL);
  if (curl_url_set(url.get(), CURLUPART_PATH, (*path + "/").c_str(), 0) != CURLUE_OK) return std::nullopt;
  return get(url.get(), CURLUPART_URL);
}

std::optional<std::string> KSResolveURL(std::string_view urlString, const std::optional<std::string>& baseURL) {
  Url url(curl_url());
  if (!url) return std::nullopt;
  if (baseURL && !set(url.get(), *baseURL)) return std::nullopt;
  if (!set(url.get(), urlString)) return std::nullopt;
  return get(url.get(), CURLUPART_URL);
}

}  // namespace velmora::kestrine
