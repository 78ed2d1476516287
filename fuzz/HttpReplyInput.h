#pragma once

// Turns fuzz input into an HTTP reply: the first bytes choose the status code, the content
// type and the charset (from tables of the usual values, or text taken from the input), the
// rest is the body.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/HTTPURLResponse.h"

namespace fuzzing {

struct HttpReplyInput {
  velmora::platform::net::HTTPURLResponse response;
  std::optional<std::string> body;
};

inline HttpReplyInput httpReplyFrom(const std::uint8_t* data, std::size_t size) {
  static constexpr std::string_view kTypes[] = {
      "application/json", "text/json", "text/javascript", "text/html", "application/xml", "text/xml",
      "application/x-plist", "text/plain", "APPLICATION/JSON", ""};
  static constexpr std::string_view kCharsets[] = {
      "", "utf-8", "UTF-8", "iso-8859-1", "utf-16", "utf-16le", "utf-32", "windows-1252", "no-such", "\"utf-8\""};
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto take = [&]() -> unsigned {
    if (in.empty()) return 0;
    const auto c = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    return c;
  };
  HttpReplyInput out;
  const unsigned hi = take();
  const unsigned lo = take();
  out.response.statusCode = static_cast<int>((hi << 8 | lo) % 700);
  out.response.url = (take() & 1) ? "http://127.0.0.1/api/x" : "";
  const unsigned typeIndex = take();
  const unsigned charsetIndex = take();
  std::string contentType;
  if (typeIndex < std::size(kTypes)) {
    contentType = kTypes[typeIndex];
  } else {
    // Free-form header text from the input, up to a NUL byte.
    const std::size_t end = std::min(in.find('\0'), std::min<std::size_t>(in.size(), 64));
    contentType = std::string(in.substr(0, end));
    in.remove_prefix(std::min(in.size(), end + 1));
  }
  if (charsetIndex < std::size(kCharsets) && !kCharsets[charsetIndex].empty()) {
    contentType += "; charset=";
    contentType += kCharsets[charsetIndex];
  }
  if (typeIndex != std::size(kTypes) - 1) out.response.headers.emplace_back("Content-Type", contentType);
  if (!(charsetIndex & 0x80) || !in.empty()) out.body = std::string(in);
  return out;
}

}  // namespace fuzzing
